#!/usr/bin/env bash
# Builds the release package kestrova-1.31-win32.zip from the release tree (build/release/):
#   kestrova-1.31/  kestrova.exe, "Kestrova v1.31.pdf", acroread.exe, README.txt, LICENSE.txt
#   kestrova-1.31/aspi-bridge/       wnaspi32.dll (the ASPI bridge), README.txt
#   kestrova-1.31/virtual-bus-demo/  wnaspi32.dll, vbus.ini, run-demo.bat (Windows), run-demo.sh (Wine)
# The bridge and the virtual bus stay in folders of their own: only one ASPI layer may sit beside
# kestrova.exe, and the user chooses which.
#
#   dist.sh                     the release zip, <build>/kestrova-1.31-win32.zip, from <build>/release
#   dist.sh BUILD_TREE ZIP      the same layout from another build tree (the tests use the
#                               64-bit tree, which is the one Wine runs on this kind of machine)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$KESTROVA_ROOT"

version=1.31
package=kestrova-$version
if [ $# -ge 2 ]; then
  tree=$(realpath -m "$1")
  zip_file=$(realpath -m "$2")
  expect=
else
  tree=$(realpath -m "$KESTROVA_RELEASE_BUILD")
  zip_file=$(realpath -m "$KESTROVA_BUILD")/$package-win32.zip
  expect=pei-i386
  if [ ! -f "$tree/build.ninja" ]; then
    cmake -S . -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32-release-toolchain.cmake \
      -DKESTROVA_TESTS=OFF ${CMAKE_FLAGS:-} >/dev/null
  fi
fi
cmake --build "$tree" --target kestrova acroread wnaspi32 bridge_wnaspi32 manual

bin=$tree/bin
demo_ini=${KESTROVA_DEMO_INI:-$KESTROVA_ROOT/demo/vbus.ini}
for f in "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/Kestrova v$version.pdf" \
         "$bin/vbus/wnaspi32.dll" "$bin/bridge/wnaspi32.dll" "$demo_ini"; do
  [ -f "$f" ] || { echo "dist: missing $f" >&2; exit 1; }
done
if [ -n "$expect" ]; then
  for f in "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/vbus/wnaspi32.dll" "$bin/bridge/wnaspi32.dll"; do
    x86_64-w64-mingw32-objdump -f "$f" | grep -q "file format $expect" ||
      { echo "dist: $f is not a 32-bit Windows file" >&2; exit 1; }
  done
fi

stage=$tree/dist
rm -rf "$stage"
mkdir -p "$stage/$package/virtual-bus-demo" "$stage/$package/aspi-bridge"
top=$stage/$package
cp "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/Kestrova v$version.pdf" "$top/"
cp "$bin/vbus/wnaspi32.dll" "$top/virtual-bus-demo/"
cp "$bin/bridge/wnaspi32.dll" "$top/aspi-bridge/"
# The package carries no debugging information.
strip=i686-w64-mingw32-strip
x86_64-w64-mingw32-objdump -f "$top/kestrova.exe" | grep -q pei-x86-64 && strip=x86_64-w64-mingw32-strip
"$strip" "$top/kestrova.exe" "$top/acroread.exe" "$top/virtual-bus-demo/wnaspi32.dll" "$top/aspi-bridge/wnaspi32.dll"
# Text files get Windows line ends, for Notepad.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf docs/dist/README.txt "$top/README.txt"
crlf docs/dist/LICENSE.txt "$top/LICENSE.txt"
crlf docs/dist/bridge-README.txt "$top/aspi-bridge/README.txt"
crlf docs/dist/run-demo.bat "$top/virtual-bus-demo/run-demo.bat"
crlf "$demo_ini" "$top/virtual-bus-demo/vbus.ini"
install -m 755 docs/dist/run-demo.sh "$top/virtual-bus-demo/run-demo.sh"

rm -f "$zip_file"
(cd "$stage" && zip -q -r -X "$zip_file" "$package")
echo "dist: $zip_file"
unzip -l "$zip_file" | tail -n +2
