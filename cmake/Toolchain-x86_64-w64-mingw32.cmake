# 64-bit Windows: the same code on the other pointer size, and a Wine that runs where 32-bit programs cannot.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KESTRUN_WIN_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsToolchain.cmake)
