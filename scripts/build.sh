#!/usr/bin/env bash
# Builds Kestrova in both widths, each with its test programs and benchmark, and the binaries
# that ship:
#   build/          the 32-bit program and its tests (posix thread model: GoogleTest needs it);
#   build/win64/    the same sources for 64-bit Windows, the build that Wine runs and tests on
#                   hosts whose kernel runs no 32-bit code (see wine-env.sh);
#   build/release/  the 32-bit binaries that ship, from the same sources with the same options,
#                   with the win32 thread model's runtime, which starts on Windows 2000 and XP.
# Both test trees are always compiled and linked, whichever one runs here: an error that only
# one width shows (a callback without CALLBACK, say) fails the build on every machine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$KESTROVA_ROOT"

configure() {  # build-dir toolchain tests(ON|OFF)
  if [ ! -f "$1/build.ninja" ]; then
    cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2" -DKESTROVA_TESTS="$3" \
      ${CMAKE_FLAGS:-} >/dev/null
  fi
}

configure "$KESTROVA_RELEASE_BUILD" mingw32-release-toolchain.cmake OFF
configure "$KESTROVA_BUILD" mingw32-toolchain.cmake ON
configure "$KESTROVA_BUILD/win64" mingw64-toolchain.cmake ON
echo "build: ${KESTROVA_RELEASE_BUILD#$KESTROVA_ROOT/}"
cmake --build "$KESTROVA_RELEASE_BUILD"
# The build that runs here first, so that its errors come first; then the other width.
if [ "$KESTROVA_WINE_ARCH" = win32 ]; then
  order=("$KESTROVA_BUILD" "$KESTROVA_BUILD/win64")
else
  order=("$KESTROVA_BUILD/win64" "$KESTROVA_BUILD")
fi
for tree in "${order[@]}"; do
  echo "build: ${tree#$KESTROVA_ROOT/}"
  cmake --build "$tree" --target all kestrova_bench
done
