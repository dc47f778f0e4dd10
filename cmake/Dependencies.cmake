# SuiteSparse 5 as Debian ships it: headers in a suitesparse/ subfolder, no CMake package.
find_path(KLU_INCLUDE_DIR klu.h PATH_SUFFIXES suitesparse REQUIRED)
foreach(lib klu amd colamd btf suitesparseconfig)
  find_library(VARNOK_${lib}_LIBRARY NAMES ${lib} REQUIRED)
  list(APPEND KLU_LIBRARIES ${VARNOK_${lib}_LIBRARY})
endforeach()
add_library(varnok::klu INTERFACE IMPORTED)
set_target_properties(varnok::klu PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${KLU_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${KLU_LIBRARIES}")

find_package(fmt REQUIRED)
