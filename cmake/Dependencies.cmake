# SuiteSparse as Debian ships it (5 in Debian 12, 7 in Debian 13): headers in a suitesparse/
# subfolder. Debian 12 installs no CMake package for it, so the headers and libraries are found
# by name.
find_path(KLU_INCLUDE_DIR klu.h PATH_SUFFIXES suitesparse REQUIRED)

# The private copy, the default on Linux only: KLU and the three libraries it calls are linked
# from their static archives, and the library holds its own copy, whose memory functions, in
# place of SuiteSparse_config's, keep the factorisation's blocks for the next one
# (powerflow/KLUMemoryFunctions.cpp, powerflow/FactorMemory.h). It needs the shared library's
# version script, which keeps the copy's symbols local. SuiteSparse_config itself is not
# linked, so a call of the copy that those definitions miss fails the link instead of going
# elsewhere.
#
# Whether the copy can be had is decided by linking it: a small shared library of the memory
# functions and the KLU calls the library makes, against the archives. Where the archives are
# missing, are not position-independent, or come from a SuiteSparse whose SuiteSparse_config
# the memory functions do not know, that fails, the configure step says why in one line, and
# the shared libraries are linked, as with VARNOK_PRIVATE_KLU off (the default off Linux):
# KLU then allocates through the C library.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(VARNOK_PRIVATE_KLU_DEFAULT ON)
else()
  set(VARNOK_PRIVATE_KLU_DEFAULT OFF)
endif()
option(VARNOK_PRIVATE_KLU "Link KLU from its static archives, with memory functions of its own"
  ${VARNOK_PRIVATE_KLU_DEFAULT})

set(VARNOK_KLU_STAND_IN ${PROJECT_SOURCE_DIR}/powerflow/KLUMemoryFunctions.cpp)

# SuiteSparse's version as its header gives it, for the messages.
file(STRINGS "${KLU_INCLUDE_DIR}/SuiteSparse_config.h" VARNOK_SUITESPARSE_VERSION_LINES
  REGEX "^#define SUITESPARSE_(MAIN|SUB)_VERSION[ \t]+[0-9]+")
string(REGEX REPLACE ".*MAIN_VERSION[ \t]+([0-9]+).*SUB_VERSION[ \t]+([0-9]+).*" "\\1.\\2"
  VARNOK_SUITESPARSE_VERSION "${VARNOK_SUITESPARSE_VERSION_LINES}")
if(NOT VARNOK_SUITESPARSE_VERSION MATCHES "^[0-9]+\\.[0-9]+$")
  set(VARNOK_SUITESPARSE_VERSION "(version not found)")
endif()

# varnok_link_private_klu(<result var> <why var>): TRUE when the private copy links, else the
# reason in <why var>.
function(varnok_link_private_klu result why)
  set(${result} FALSE PARENT_SCOPE)
  set(archives "")
  set(missing "")
  foreach(lib klu amd colamd btf)
    set(name ${CMAKE_STATIC_LIBRARY_PREFIX}${lib}${CMAKE_STATIC_LIBRARY_SUFFIX})
    find_library(VARNOK_${lib}_ARCHIVE NAMES ${name})
    if(VARNOK_${lib}_ARCHIVE)
      list(APPEND archives ${VARNOK_${lib}_ARCHIVE})
    else()
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    set(${why} "static archives missing: ${missing}" PARENT_SCOPE)
    return()
  endif()

  set(probe_dir ${PROJECT_BINARY_DIR}/klu_probe)
  file(REMOVE_RECURSE ${probe_dir})
  string(REPLACE ";" "|" archive_text "${archives}")
  try_compile(links PROJECT varnok_klu_probe
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/klu_probe BINARY_DIR ${probe_dir} NO_CACHE
    CMAKE_FLAGS -DVARNOK_SOURCE_DIR=${PROJECT_SOURCE_DIR} -DKLU_INCLUDE_DIR=${KLU_INCLUDE_DIR}
                "-DVARNOK_KLU_ARCHIVES=${archive_text}"
    OUTPUT_VARIABLE output)
  file(WRITE ${PROJECT_BINARY_DIR}/klu_probe.log "${output}")
  if(links)
    set(${result} TRUE PARENT_SCOPE)
    set(VARNOK_KLU_ARCHIVES "${archives}" PARENT_SCOPE)
  elseif(output MATCHES "not known to this library")
    set(${why} "its SuiteSparse_config is of a version the library does not know" PARENT_SCOPE)
  elseif(output MATCHES "fPIC|fPIE|relocation R_")
    set(${why} "its static archives are not position-independent" PARENT_SCOPE)
  else()
    set(${why} "its static archives do not link into a shared library: see klu_probe.log"
      PARENT_SCOPE)
  endif()
endfunction()

add_library(varnok::klu INTERFACE IMPORTED)
set_target_properties(varnok::klu PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${KLU_INCLUDE_DIR}")
set(VARNOK_KLU_SOURCES "")
set(VARNOK_KLU_PRIVATE_LINKS FALSE)
if(VARNOK_PRIVATE_KLU)
  varnok_link_private_klu(VARNOK_KLU_PRIVATE_LINKS VARNOK_KLU_WHY_NOT)
endif()
if(VARNOK_KLU_PRIVATE_LINKS)
  message(STATUS "KLU: the library's own copy, from the static archives of SuiteSparse "
    "${VARNOK_SUITESPARSE_VERSION}")
  set(VARNOK_KLU_SOURCES ${VARNOK_KLU_STAND_IN})
  # The memory functions sit in varnok_core, which the linker reads before the archives that
  # call them: asked for from the start, they are taken from it.
  set_target_properties(varnok::klu PROPERTIES
    INTERFACE_LINK_LIBRARIES "${VARNOK_KLU_ARCHIVES}"
    INTERFACE_LINK_OPTIONS "-Wl,--undefined=SuiteSparse_malloc"
    INTERFACE_COMPILE_DEFINITIONS VARNOK_PRIVATE_KLU)
  set(VARNOK_KLU_LINKED private CACHE INTERNAL "How KLU is linked: private or shared")
else()
  if(VARNOK_PRIVATE_KLU)
    message(STATUS "KLU: no private copy of SuiteSparse ${VARNOK_SUITESPARSE_VERSION} "
      "(${VARNOK_KLU_WHY_NOT}); linking the shared libraries, allocating through the C library")
  else()
    message(STATUS "KLU: linking the shared libraries of SuiteSparse "
      "${VARNOK_SUITESPARSE_VERSION}, allocating through the C library")
  endif()
  foreach(lib klu amd colamd btf suitesparseconfig)
    find_library(VARNOK_${lib}_LIBRARY NAMES ${lib} REQUIRED)
    list(APPEND KLU_LIBRARIES ${VARNOK_${lib}_LIBRARY})
  endforeach()
  set_target_properties(varnok::klu PROPERTIES INTERFACE_LINK_LIBRARIES "${KLU_LIBRARIES}")
  set(VARNOK_KLU_LINKED shared CACHE INTERNAL "How KLU is linked: private or shared")
endif()

find_package(fmt REQUIRED)
