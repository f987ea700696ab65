#!/usr/bin/env bash
# The release package as a Wine user meets it: builds the package from a build tree, unpacks it
# into a fresh folder and a fresh Wine prefix, starts Kestrova through the demo's run-demo.sh on
# the virtual bus, presses F1 (Help must hand the package's manual to the desktop's PDF viewer)
# and Ctrl+Q.
#   dist_package_test.sh BUILD_TREE
# Where Wine here runs 32-bit code, BUILD_TREE is the 32-bit tree and the package is the release
# zip itself, as `make dist` makes it. Where Wine runs only 64-bit code, ctest passes the 64-bit
# tree, and the package is made from it with the release layout: the same package with the
# 64-bit build of every file.
set -uo pipefail
tree=$(realpath "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec bash "$root/scripts/wine-session.sh" bash "${BASH_SOURCE[0]}" "$@"
fi

work=$(mktemp -d /tmp/kestrova-dist-test.XXXXXX)
export WINEPREFIX=$work/prefix
unset WINEPATH
# No Mono or Gecko prompts in the fresh prefix; nothing else is overridden (run-demo.sh does it).
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$root/scripts/wine-env.sh"
export WINEPREFIX=$work/prefix WINEDEBUG=-all,+loaddll

fail() {
  echo "FAIL: $*"
  import -window root "$work/screen.png" 2>/dev/null && cp "$work/screen.png" "$tree/dist-package-failure.png" &&
    echo "screen saved to $tree/dist-package-failure.png"
  exit 1
}
cleanup() {
  kestrova_wineserver -k >/dev/null 2>&1
  kestrova_wineserver -w >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
source "$root/tests/dist/desktop_steps.sh"

step() { echo "--- $(date +%T) $*"; }

if [ "$(basename "$tree")" = win64 ]; then
  step "package from $tree (64-bit stand-in for the release zip)"
  bash "$root/scripts/dist.sh" "$tree" "$work/kestrova-1.31.zip" >"$work/dist.log" 2>&1 ||
    { cat "$work/dist.log"; fail "the package could not be made"; }
else
  step "the release zip of $tree"
  KESTROVA_BUILD=$tree bash "$root/scripts/dist.sh" >"$work/dist.log" 2>&1 ||
    { cat "$work/dist.log"; fail "the release zip could not be made"; }
  cp "$tree/kestrova-1.31-win32.zip" "$work/kestrova-1.31.zip"
fi

step "unpack"
mkdir -p "$work/unpacked"
unzip -q "$work/kestrova-1.31.zip" -d "$work/unpacked" || fail "unzip"
top=$work/unpacked/kestrova-1.31
for f in kestrova.exe "Kestrova v1.31.pdf" acroread.exe README.txt LICENSE.txt \
         aspi-bridge/wnaspi32.dll aspi-bridge/README.txt \
         virtual-bus-demo/wnaspi32.dll virtual-bus-demo/vbus.ini virtual-bus-demo/run-demo.bat \
         virtual-bus-demo/run-demo.sh; do
  [ -f "$top/$f" ] || fail "the package lacks $f"
done
[ ! -e "$top/wnaspi32.dll" ] || fail "wnaspi32.dll lies beside kestrova.exe"
format=$(x86_64-w64-mingw32-objdump -f "$top/kestrova.exe" | sed -n 's/.*file format //p')
echo "kestrova.exe of the package: $format"
[ "$(basename "$tree")" = win64 ] || [ "$format" = pei-i386 ] || fail "the release's kestrova.exe is not 32-bit"
grep -q "Copyright (c) 2026 the Kestrova developers" "$top/LICENSE.txt" || fail "licence text"

step "fresh Wine prefix $WINEPREFIX"
kestrova_wine wineboot --init >/dev/null 2>&1
kestrova_wineserver -w

fake_pdf_viewer "$work/desktop" "$work/viewer.log"

step "start virtual-bus-demo/run-demo.sh"
before=$(ls "$top/virtual-bus-demo" | sort)
WINE=$KESTROVA_WINE_LOADER sh "$top/virtual-bus-demo/run-demo.sh" >"$work/run.log" 2>&1 </dev/null &

wait_for_kestrova "$work/run.log"
for caption in ERROR Error; do
  if xdotool search --name "^$caption\$" >/dev/null 2>&1; then
    fail "Kestrova shows a message box \"$caption\" at start-up"
  fi
done

step "Kestrova runs on the demo's wnaspi32.dll"
grep -q -i 'virtual-bus-demo\\\\wnaspi32.dll.*native' "$work/run.log" ||
  { grep -i wnaspi32 "$work/run.log"; fail "the demo's wnaspi32.dll was not loaded"; }
after=$(ls "$top/virtual-bus-demo" | sort)
echo "demo folder before: $(echo $before)"
echo "demo folder after:  $(echo $after)"
# The bus creates the image files that its configuration names and that do not exist yet.
if grep -q -i '^ *image *=' "$top/virtual-bus-demo/vbus.ini"; then
  [ "$before" != "$after" ] || fail "the demo bus created none of its image files"
fi
# A bus that keeps a request trace shows the scan that Kestrova made on it.
trace=$(sed -n 's/^ *trace *= *\([^ ;]*\).*/\1/p' "$top/virtual-bus-demo/vbus.ini" | tr -d '\r' | head -1)
if [ -n "$trace" ]; then
  grep -q '^HA_INQUIRY ha=0' "$top/virtual-bus-demo/$trace" || fail "no adapter inquiry in the demo's $trace"
  echo "the demo bus served $(wc -l <"$top/virtual-bus-demo/$trace") requests"
fi
import -window root "$tree/dist-package-screen.png" 2>/dev/null &&
  echo "screen of the running program: $tree/dist-package-screen.png"

step "F1 opens the manual"
press_help "$work/viewer.log"
grep -q "^file://$top/Kestrova%20v1.31.pdf\$" "$work/viewer.log" ||
  fail "the viewer did not get the package's manual"

step "Ctrl+Q ends Kestrova"
quit_kestrova
wait
echo "PASS"
