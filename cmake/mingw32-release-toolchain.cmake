# 32-bit Windows, the binaries that ship: the win32 thread model, whose static runtime needs no
# function newer than Windows 2000 (the posix model's thread library imports Vista's).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTROVA_TRIPLE i686-w64-mingw32)
set(KESTROVA_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
