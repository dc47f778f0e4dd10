# Cross-compiling for Windows x64 with Debian's mingw-w64, in its posix thread model (std::thread
# and thread_local through winpthreads).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVARNOK_TARGET_PREFIX=<dir> ...
#
# VARNOK_TARGET_PREFIX holds what was built for the target (include/, lib/, lib/cmake/):
# scripts/test-windows.sh makes it in build-windows/prefix. Libraries, headers and packages are
# looked for only there and in the compiler's own folder, never among the build machine's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VARNOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNOK_MINGW_TRIPLE}-windres)

# the test projects of try_compile read this file again and need the prefix too
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VARNOK_TARGET_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${VARNOK_MINGW_TRIPLE} ${VARNOK_TARGET_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
