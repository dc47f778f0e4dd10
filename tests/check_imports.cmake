cmake_minimum_required(VERSION 3.25)
# What a Windows host needs at run time, read from the import tables with the target's OBJDUMP -p:
# LIB, named varnok_api.dll, imports only Windows's own DLLs, and HOST, a program linked with its
# import library, imports varnok_api.dll and besides it only Windows's own DLLs. Windows's own:
#   KERNEL32.dll  the Win32 core (files, memory, threads, the thread-local storage of winpthreads)
#   msvcrt.dll    the C runtime that mingw-w64 builds on, part of every Windows since 2000
# A mingw runtime DLL (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) among them means
# the static linking of the GCC runtime was lost.
set(system_dlls kernel32.dll msvcrt.dll)

# The DLLs that `binary` imports, as its import tables name them.
function(imported_dlls binary out)
  execute_process(COMMAND ${OBJDUMP} -p ${binary} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p failed on ${binary}")
  endif()
  string(REGEX MATCHALL "\tDLL Name: [^\n]+" entries "${dump}")
  list(TRANSFORM entries REPLACE "^\tDLL Name: " "")
  if(NOT entries)
    message(FATAL_ERROR "no import table read from ${binary}")
  endif()
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# Fails unless every DLL that `binary` imports is a system DLL or one of the others named.
function(expect_only binary)
  imported_dlls(${binary} dlls)
  set(refused "")
  foreach(dll ${dlls})
    string(TOLOWER "${dll}" name)
    if(NOT name IN_LIST system_dlls AND NOT name IN_LIST ARGN)
      list(APPEND refused ${dll})
    endif()
  endforeach()
  if(refused)
    message(FATAL_ERROR
      "${binary} imports DLLs that are not Windows's own: ${refused}\n  all: ${dlls}")
  endif()
  message(STATUS "${binary}: ${dlls}")
endfunction()

get_filename_component(lib_name ${LIB} NAME)
if(NOT lib_name STREQUAL "varnok_api.dll")
  message(FATAL_ERROR "the library is named ${lib_name}, not varnok_api.dll")
endif()
expect_only(${LIB})

imported_dlls(${HOST} host_dlls)
if(NOT "varnok_api.dll" IN_LIST host_dlls)
  message(FATAL_ERROR "${HOST} does not import varnok_api.dll: ${host_dlls}")
endif()
expect_only(${HOST} varnok_api.dll)
