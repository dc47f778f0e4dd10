# {fmt} for a target without a build of its own: header-only, from the headers installed beside
# this file's prefix (scripts/test-windows.sh copies the build machine's there).
get_filename_component(_fmt_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET fmt::fmt)
  add_library(fmt::fmt INTERFACE IMPORTED)
  set_target_properties(fmt::fmt PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_fmt_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
endif()
unset(_fmt_prefix)
