#!/usr/bin/env bash
# Builds Kestrova: the 32-bit program in build/, and, where Wine here runs only 64-bit code,
# the 64-bit build that runs and is tested under Wine in build/win64/ (see wine-env.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$KESTROVA_ROOT"

configure() {  # build-dir toolchain tests(ON|OFF)
  if [ ! -f "$1/build.ninja" ]; then
    cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2" -DKESTROVA_TESTS="$3" \
      ${CMAKE_FLAGS:-} >/dev/null
  fi
}

if [ "$KESTROVA_WINE_ARCH" = win32 ]; then
  configure "$KESTROVA_BUILD" mingw32-toolchain.cmake ON
  cmake --build "$KESTROVA_BUILD"
else
  configure "$KESTROVA_BUILD" mingw32-toolchain.cmake OFF
  cmake --build "$KESTROVA_BUILD"
  configure "$KESTROVA_RUN_BUILD" mingw64-toolchain.cmake ON
  cmake --build "$KESTROVA_RUN_BUILD"
fi
