#!/usr/bin/env bash
# The release package itself, kestrova-1.31-win32.zip from the 32-bit build (what `make dist`
# makes): its files, their place, 32-bit Windows binaries, Windows line ends for Notepad.
#   dist_release_test.sh BUILD_TREE    (the tree of the tests; the 32-bit build is it or its parent)
set -uo pipefail
tree=$(realpath "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$tree
[ "$(basename "$tree")" = win64 ] && build=$(dirname "$tree")
zip_file=$build/kestrova-1.31-win32.zip

fail() { echo "FAIL: $*"; exit 1; }
KESTROVA_BUILD=$build bash "$root/scripts/dist.sh" >/dev/null || fail "scripts/dist.sh failed"
[ -f "$zip_file" ] || fail "no $zip_file"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip_file" -d "$work" || fail "unzip"
top=$work/kestrova-1.31
expected="kestrova-1.31/
kestrova-1.31/Kestrova v1.31.pdf
kestrova-1.31/LICENSE.txt
kestrova-1.31/README.txt
kestrova-1.31/acroread.exe
kestrova-1.31/aspi-bridge/
kestrova-1.31/aspi-bridge/README.txt
kestrova-1.31/aspi-bridge/wnaspi32.dll
kestrova-1.31/kestrova.exe
kestrova-1.31/virtual-bus-demo/
kestrova-1.31/virtual-bus-demo/run-demo.bat
kestrova-1.31/virtual-bus-demo/run-demo.sh
kestrova-1.31/virtual-bus-demo/vbus.ini
kestrova-1.31/virtual-bus-demo/wnaspi32.dll"
listed=$(unzip -Z1 "$zip_file" | sort)
[ "$listed" = "$(sort <<<"$expected")" ] || { echo "$listed"; fail "the package holds other files"; }

for f in kestrova.exe acroread.exe virtual-bus-demo/wnaspi32.dll aspi-bridge/wnaspi32.dll; do
  format=$(x86_64-w64-mingw32-objdump -f "$top/$f")
  grep -q 'file format pei-i386' <<<"$format" || fail "$f is not 32-bit"
done
for f in README.txt LICENSE.txt aspi-bridge/README.txt virtual-bus-demo/run-demo.bat virtual-bus-demo/vbus.ini; do
  [ "$(grep -c $'\r$' "$top/$f")" -eq "$(wc -l <"$top/$f")" ] || fail "$f lacks Windows line ends"
done
grep -q "Copyright (c) 2026 the Kestrova developers" "$top/LICENSE.txt" || fail "licence"
grep -q "^MIT License" "$top/LICENSE.txt" || fail "licence"
[ -x "$top/virtual-bus-demo/run-demo.sh" ] || fail "run-demo.sh is not executable"
manual=$(pdftotext "$top/Kestrova v1.31.pdf" -)
grep -q "Kestrova V1.31 User Manual" <<<"$manual" || fail "the manual"
echo "PASS: $zip_file"
