# SuiteSparse 5 as Debian ships it: headers in a suitesparse/ subfolder, no CMake package.
find_path(KLU_INCLUDE_DIR klu.h PATH_SUFFIXES suitesparse REQUIRED)

# KLU and the three libraries it calls are linked from their static archives where they exist
# (Debian's are position-independent): the library then holds its own copy, whose memory
# functions, in place of SuiteSparse_config, keep the factorisation's blocks for the next one
# (powerflow/KLUSolver.cpp, powerflow/FactorMemory.h). SuiteSparse_config itself is not linked,
# so a call of the copy that those definitions miss fails the link instead of going elsewhere.
# Without the archives, or with VARNOK_PRIVATE_KLU off (the default off Linux, where the
# shared library's version script keeps the copy's symbols local), the shared libraries are
# linked and KLU allocates through the C library.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(VARNOK_PRIVATE_KLU_DEFAULT ON)
else()
  set(VARNOK_PRIVATE_KLU_DEFAULT OFF)
endif()
option(VARNOK_PRIVATE_KLU "Link KLU from its static archives, with memory functions of its own"
  ${VARNOK_PRIVATE_KLU_DEFAULT})
set(VARNOK_KLU_ARCHIVES "")
if(VARNOK_PRIVATE_KLU)
  foreach(lib klu amd colamd btf)
    find_library(VARNOK_${lib}_ARCHIVE
      NAMES ${CMAKE_STATIC_LIBRARY_PREFIX}${lib}${CMAKE_STATIC_LIBRARY_SUFFIX})
    list(APPEND VARNOK_KLU_ARCHIVES ${VARNOK_${lib}_ARCHIVE})
  endforeach()
endif()
add_library(varnok::klu INTERFACE IMPORTED)
set_target_properties(varnok::klu PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${KLU_INCLUDE_DIR}")
if(VARNOK_PRIVATE_KLU AND NOT VARNOK_KLU_ARCHIVES MATCHES "NOTFOUND")
  set_target_properties(varnok::klu PROPERTIES
    INTERFACE_LINK_LIBRARIES "${VARNOK_KLU_ARCHIVES}"
    INTERFACE_COMPILE_DEFINITIONS VARNOK_PRIVATE_KLU)
else()
  message(STATUS "KLU: linking the shared libraries, allocating through the C library")
  foreach(lib klu amd colamd btf suitesparseconfig)
    find_library(VARNOK_${lib}_LIBRARY NAMES ${lib} REQUIRED)
    list(APPEND KLU_LIBRARIES ${VARNOK_${lib}_LIBRARY})
  endforeach()
  set_target_properties(varnok::klu PROPERTIES INTERFACE_LINK_LIBRARIES "${KLU_LIBRARIES}")
endif()

find_package(fmt REQUIRED)
