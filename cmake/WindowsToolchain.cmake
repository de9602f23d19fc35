# Windows, built with Debian's MinGW-w64 cross compiler for KESTRUN_WIN_TRIPLE (POSIX thread model)
# against the cross-built Qt and zlib of scripts/lib/windows-toolchain.sh, included by the
# Toolchain-TRIPLE.cmake files. The prefixes come from KESTRUN_WIN_QT and KESTRUN_WIN_ZLIB (cache or
# environment). Programs of the build run under Wine (tests, the build-time image tool) through
# scripts/lib/wine-run.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTRUN_WIN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUN_WIN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUN_WIN_TRIPLE}-windres)

foreach(l_Var KESTRUN_WIN_QT KESTRUN_WIN_ZLIB)
  if(NOT ${l_Var} AND DEFINED ENV{${l_Var}})
    # Cached: a later re-run of CMake from the build tool has no such environment.
    set(${l_Var} "$ENV{${l_Var}}" CACHE PATH "Prefix of the cross-built ${l_Var}")
  endif()
  if(NOT ${l_Var})
    message(FATAL_ERROR "${l_Var} names no prefix: scripts/test --windows builds it (scripts/lib/windows-toolchain.sh)")
  endif()
  # try_compile projects read this file again.
  set(ENV{${l_Var}} "${${l_Var}}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUN_WIN_TRIPLE} ${KESTRUN_WIN_QT} ${KESTRUN_WIN_ZLIB})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH ${KESTRUN_WIN_QT} ${KESTRUN_WIN_ZLIB})
set(ZLIB_ROOT ${KESTRUN_WIN_ZLIB})

# The MinGW run-time DLLs live beside the compiler's libgcc and in the target's lib folder.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-libgcc-file-name OUTPUT_VARIABLE l_Libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(KESTRUN_WIN_GCC_DLLS "${l_Libgcc}" DIRECTORY)
set(KESTRUN_WIN_DLL_DIRS ${KESTRUN_WIN_QT}/bin ${KESTRUN_WIN_GCC_DLLS} /usr/${KESTRUN_WIN_TRIPLE}/lib)
string(REPLACE ";" ":" l_DllPath "${KESTRUN_WIN_DLL_DIRS}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-run "--dll-path=${l_DllPath}"
  "--prefix=${CMAKE_BINARY_DIR}/wine-prefix")
