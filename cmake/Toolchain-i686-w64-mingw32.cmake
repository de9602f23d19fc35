# 32-bit Windows: the launcher that loads the module is a 32-bit program.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRUN_WIN_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsToolchain.cmake)
