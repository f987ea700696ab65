#!/usr/bin/env bash
# Builds the Windows installer kestrova-1.31-setup.exe (NSIS, installer/kestrova.nsi) from the
# release tree: the same files as the release zip, without the virtual bus demo, plus the ASPI
# bridge as an optional part.
#   installer.sh                          <build>/kestrova-1.31-setup.exe from <build>/release
#   installer.sh RELEASE_TREE [OUT_EXE]   from another release tree; from the 64-bit build tree
#                                         (build/win64), the tests' 64-bit stand-in for machines
#                                         whose Wine runs no 32-bit code
# The files are staged in RELEASE_TREE/installer-files/ as they are installed: binaries
# stripped (as in the zip) with their link time kept, texts with Windows line ends.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$KESTROVA_ROOT"

version=1.31
tree=$(realpath -m "${1:-$KESTROVA_RELEASE_BUILD}")
out=$(realpath -m "${2:-$KESTROVA_BUILD/kestrova-$version-setup.exe}")
command -v makensis >/dev/null ||
  { echo "installer: makensis is missing: install Debian's nsis (scripts/setup.sh does)" >&2; exit 1; }

if [ ! -f "$tree/build.ninja" ]; then
  cmake -S . -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32-release-toolchain.cmake \
    -DKESTROVA_TESTS=OFF ${CMAKE_FLAGS:-} >/dev/null
fi
cmake --build "$tree" --target kestrova acroread manual bridge_wnaspi32

bin=$tree/bin
manual="Kestrova v$version.pdf"
for f in "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/$manual" "$bin/bridge/wnaspi32.dll" \
         docs/dist/README.txt docs/dist/LICENSE.txt docs/dist/bridge-README.txt; do
  [ -f "$f" ] || { echo "installer: missing $f" >&2; exit 1; }
done
# The installer is a 32-bit program and installs 32-bit binaries only; a tree of 64-bit ones
# makes the 64-bit stand-in.
format=pei-i386 strip=i686-w64-mingw32-strip stand_in=
if x86_64-w64-mingw32-objdump -f "$bin/kestrova.exe" | grep -q "file format pei-x86-64"; then
  format=pei-x86-64 strip=x86_64-w64-mingw32-strip stand_in=-DSTAND_IN_64
fi
for f in "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/bridge/wnaspi32.dll"; do
  x86_64-w64-mingw32-objdump -f "$f" | grep -q "file format $format" ||
    { echo "installer: $f is not a $format Windows file like kestrova.exe" >&2; exit 1; }
done

stage=$tree/installer-files
rm -rf "$stage"
mkdir -p "$stage"
cp "$bin/kestrova.exe" "$bin/acroread.exe" "$bin/$manual" "$stage/"
cp "$bin/bridge/wnaspi32.dll" "$stage/wnaspi32.dll"
# strip writes the current time into the PE header unless SOURCE_DATE_EPOCH says otherwise: each
# binary keeps the time it was linked, and the same build makes the same files.
link_time() { od -An -tu4 -j$(($(od -An -tu4 -j60 -N4 "$1") + 8)) -N4 "$1" | tr -d ' '; }
for f in kestrova.exe acroread.exe wnaspi32.dll; do
  SOURCE_DATE_EPOCH=$(link_time "$stage/$f") "$strip" "$stage/$f"
done
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf docs/dist/README.txt "$stage/README.txt"
crlf docs/dist/LICENSE.txt "$stage/LICENSE.txt"
crlf docs/dist/bridge-README.txt "$stage/ASPI bridge.txt"

mkdir -p "$(dirname "$out")"
rm -f "$out"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out" $stand_in installer/kestrova.nsi
[ -f "$out" ] || { echo "installer: makensis made no $out" >&2; exit 1; }
echo "installer: $out"
