# Shared part of the mingw-w64 toolchains. The test trees use the posix thread model (GoogleTest
# needs std::mutex); the release tree the win32 one (KESTROVA_THREAD_MODEL), whose runtime
# imports nothing newer than Windows 2000.
if(NOT KESTROVA_THREAD_MODEL)
  set(KESTROVA_THREAD_MODEL posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${KESTROVA_TRIPLE}-gcc-${KESTROVA_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${KESTROVA_TRIPLE}-g++-${KESTROVA_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${KESTROVA_TRIPLE}-windres)
set(CMAKE_AR           ${KESTROVA_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${KESTROVA_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVA_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime, so that the programs run on a clean Windows without mingw DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs are Windows programs: ctest runs them under the project's Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/winerun.sh)
