#!/usr/bin/env bash
# The Windows installer, kestrova-1.31-setup.exe (scripts/installer.sh), judged by what lands on
# disk. Where Wine runs 32-bit code, two silent journeys in a fresh Wine prefix:
#   1. English, with Wine's own ASPI layer (wnaspi32.dll) in the system folder: every file in
#      place and byte-identical to the build, no bridge, the system layer untouched, the Start
#      menu shortcuts (target and working folder), the entry in the list of installed programs.
#      Kestrova started through its shortcut on the demo's virtual bus hands the installed manual
#      to the desktop's PDF viewer (F1). A user's image file lies in the install folder; the
#      silent uninstall removes everything it installed, keeps that file and the stored setting.
#   2. French, with no ASPI layer in Windows: the bridge is installed beside kestrova.exe, the
#      shortcuts have their French names; an English uninstall leaves the prefix's files exactly
#      as they were before the install.
# Where Wine runs only 64-bit code, setup.exe cannot start: the test checks that it was made, is a
# 32-bit program asking for no Windows above 5.0, and (with 7z) carries exactly the build's
# files; the two journeys then run the installer's 64-bit stand-in, made by the same script from
# the 64-bit build (as the release zip's test does), and say so.
#   installer_test.sh BUILD_TREE    (the tree of the tests; the release tree is in it or beside it)
set -uo pipefail
tree=$(realpath "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$tree
[ "$(basename "$tree")" = win64 ] && build=$(dirname "$tree")
release=$build/release
setup=$build/kestrova-1.31-setup.exe

work=$(mktemp -d /tmp/kestrova-installer-test.XXXXXX)
export WINEPREFIX=$work/prefix
unset WINEPATH
# No Mono or Gecko prompts, and no Linux menu entries for the Start menu shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
source "$root/scripts/wine-env.sh"
export WINEPREFIX=$work/prefix WINEARCH=$KESTROVA_WINE_ARCH WINEDEBUG=-all
if [ -z "${DISPLAY:-}" ]; then
  rm -rf "$work"
  exec bash "$root/scripts/wine-session.sh" bash "${BASH_SOURCE[0]}" "$@"
fi

server_started=
fail() {
  echo "FAIL: $*"
  [ -n "$server_started" ] && import -window root "$tree/installer-failure.png" 2>/dev/null &&
    echo "screen saved to $tree/installer-failure.png"
  exit 1
}
cleanup() {
  if [ -n "$server_started" ]; then
    kestrova_wineserver -k >/dev/null 2>&1
    kestrova_wineserver -w >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$root/tests/dist/desktop_steps.sh"
step() { echo "--- $(date +%T) $*"; }

step "scripts/installer.sh"
KESTROVA_BUILD=$build bash "$root/scripts/installer.sh" >"$work/installer.log" 2>&1 ||
  { cat "$work/installer.log"; fail "the installer could not be made"; }
[ -f "$setup" ] || fail "no $setup"
headers=$(x86_64-w64-mingw32-objdump -p "$setup")
grep -q 'file format pei-i386' <<<"$headers" || fail "setup.exe is not a 32-bit Windows program"
for field in MajorOSystemVersion MajorSubsystemVersion; do
  version=$(sed -n "s/^$field[[:space:]]*//p" <<<"$headers")
  [ "${version:-9}" -le 5 ] || fail "setup.exe asks for Windows $version ($field)"
done
echo "setup.exe: 32-bit, $(stat -c %s "$setup") bytes"

# What must land on disk, made here from the build: binaries stripped (as in the release zip),
# texts with Windows line ends.
expected=$work/expected
expect_files() {  # BIN STRIP
  rm -rf "$expected"
  mkdir -p "$expected/program" "$expected/bridge"
  cp "$1/kestrova.exe" "$1/acroread.exe" "$1/Kestrova v1.31.pdf" "$expected/program/" ||
    fail "$1 lacks a file"
  cp "$1/bridge/wnaspi32.dll" "$expected/bridge/" || fail "$1 lacks the bridge"
  # Stripped with the link time kept in the PE header (strip would write the current time).
  local f header
  for f in "$expected/program/kestrova.exe" "$expected/program/acroread.exe" "$expected/bridge/wnaspi32.dll"; do
    header=$(od -An -tu4 -j60 -N4 "$f")
    SOURCE_DATE_EPOCH=$(od -An -tu4 -j$((header + 8)) -N4 "$f" | tr -d ' ') "$2" "$f"
  done
  crlf "$root/docs/dist/README.txt" "$expected/program/README.txt"
  crlf "$root/docs/dist/LICENSE.txt" "$expected/program/LICENSE.txt"
  crlf "$root/docs/dist/bridge-README.txt" "$expected/bridge/ASPI bridge.txt"
}
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
bin=$release/bin   # the binaries the installer carries
expect_files "$bin" i686-w64-mingw32-strip

# same_files DIR SET...: DIR holds exactly the files of the expected SETs (plus uninstall.exe, and
# the user's file once there is one), byte for byte.
user_file=
same_files() {
  local dir=$1 set f want
  shift
  want=$( (for set in "$@"; do ls "$expected/$set"; done; echo uninstall.exe $user_file | xargs -n1) | sort)
  [ "$(ls "$dir" | sort)" = "$want" ] || { ls -l "$dir"; fail "$dir holds other files than: $(echo $want)"; }
  for set in "$@"; do
    for f in "$expected/$set"/*; do
      cmp -s "$f" "$dir/${f##*/}" || fail "${f##*/} differs from the build"
    done
  done
}

if [ "$KESTROVA_WINE_ARCH" != win32 ]; then
  if command -v 7z >/dev/null; then
    step "the files setup.exe carries (7z)"
    7z x -y -o"$work/carried" "$setup" >"$work/7z.log" 2>&1 || { cat "$work/7z.log"; fail "7z x"; }
    rm -rf "$work/carried/\$PLUGINSDIR"
    touch "$work/carried/uninstall.exe"   # written by setup.exe itself, listed empty
    same_files "$work/carried" program bridge
    echo "setup.exe carries exactly: $(ls "$work/carried" | tr '\n' ' ')"
  else
    echo "7z is not installed (Debian: p7zip-full): the files setup.exe carries were not listed"
  fi
  step "the installer's 64-bit stand-in, from $tree"
  echo "NOTE: this Wine runs no 32-bit Windows code (KESTROVA_WINE_ARCH=$KESTROVA_WINE_ARCH) and setup.exe"
  echo "is a 32-bit program: the journeys run the same installer made from the 64-bit build."
  setup=$work/kestrova-1.31-setup-64.exe
  bash "$root/scripts/installer.sh" "$tree" "$setup" >"$work/installer64.log" 2>&1 ||
    { cat "$work/installer64.log"; fail "the 64-bit stand-in could not be made"; }
  x86_64-w64-mingw32-objdump -f "$setup" | grep -q 'file format pei-x86-64' ||
    fail "the stand-in is not a 64-bit program"
  bin=$tree/bin
  expect_files "$bin" x86_64-w64-mingw32-strip
fi

step "fresh Wine prefix $WINEPREFIX"
kestrova_wine wineboot --init >/dev/null 2>&1
kestrova_wineserver -w
kestrova_wineserver -p
server_started=1
sys=$WINEPREFIX/drive_c/windows/system32
inst=$WINEPREFIX/drive_c/Program\ Files/Kestrova
inst_win='C:\Program Files\Kestrova'
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Kestrova
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova'
setting_key='HKLM\SOFTWARE\Talvenor\Kestrova'
[ -f "$sys/wnaspi32.dll" ] || fail "the fresh prefix has no wnaspi32.dll of Wine's in system32"

# regval KEY NAME: the data of one registry value (REG_DWORD as a number).
regval() {
  local data
  data=$(kestrova_wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p")
  case $data in 0x*) echo $((data)) ;; *) printf '%s\n' "$data" ;; esac
}
# lnk FILE: the target and the working folder of a shell link, one a line; then a line for each
# of arguments and the "run as administrator" flag, which the shortcuts must not have: the
# program's manifest alone asks Windows for those rights.
lnk() {
  python3 - "$1" <<'EOF'
import struct, sys
d = open(sys.argv[1], 'rb').read()
flags = struct.unpack_from('<I', d, 0x14)[0]
pos, target, strings = 0x4C, '', {}
if flags & 0x01:  # item id list
    pos += 2 + struct.unpack_from('<H', d, pos)[0]
if flags & 0x02:  # link info: the local base path (and a common path suffix)
    size, _, info_flags, _, base, _, suffix = struct.unpack_from('<7I', d, pos)
    if info_flags & 1:
        target = d[pos + base:d.index(b'\0', pos + base)].decode('cp1252')
        target += d[pos + suffix:d.index(b'\0', pos + suffix)].decode('cp1252')
    pos += size
for bit, name in ((0x04, 'name'), (0x08, 'relative'), (0x10, 'workdir'), (0x20, 'args'), (0x40, 'icon')):
    if flags & bit:
        n = struct.unpack_from('<H', d, pos)[0]
        width = 2 if flags & 0x80 else 1
        raw = d[pos + 2:pos + 2 + n * width]
        strings[name] = raw.decode('utf-16-le' if width == 2 else 'cp1252').rstrip('\0')
        pos += 2 + n * width
print(target)
print(strings.get('workdir', ''))
if strings.get('args'): print('arguments: ' + strings['args'])
if flags & 0x2000: print('flag RunAsUser: run as administrator')
EOF
}
# shortcuts NAME=TARGET...: the Start menu folder holds exactly these links, each with its
# target in the install folder and the install folder as its working folder.
shortcuts() {
  local pair names=
  for pair in "$@"; do
    names+="${pair%%=*}.lnk"$'\n'
    [ -f "$menu/${pair%%=*}.lnk" ] || fail "no shortcut \"${pair%%=*}\" in $menu"
    [ "$(lnk "$menu/${pair%%=*}.lnk")" = "$inst_win\\${pair#*=}"$'\n'"$inst_win" ] ||
      { lnk "$menu/${pair%%=*}.lnk"; fail "shortcut ${pair%%=*}: wrong target or working folder"; }
  done
  [ "$(ls "$menu" | sort)" = "$(sort <<<"${names%$'\n'}")" ] || { ls "$menu"; fail "other shortcuts"; }
  echo "shortcuts: $(ls "$menu" | tr '\n' ' ')"
}
# uninstall LANG: runs the uninstall command of the programs list silently and waits until it is
# done (the uninstaller runs from a copy of itself, the entry is the last thing it removes).
uninstall() {
  local command
  command=$(regval "$uninst_key" UninstallString)
  [ "$command" = "\"$inst_win\\uninstall.exe\"" ] || fail "UninstallString is $command"
  LC_ALL=$1 kestrova_wine "$inst_win\\uninstall.exe" /S || fail "uninstall.exe /S failed"
  for _ in $(seq 1 120); do
    kestrova_wine reg query "$uninst_key" >/dev/null 2>&1 || return 0
    sleep 0.5
  done
  fail "the uninstall did not finish within a minute"
}

step "journey 1: English install, Wine's ASPI layer in system32"
layer_sum=$(md5sum <"$sys/wnaspi32.dll")
LC_ALL=C.UTF-8 kestrova_wine "$setup" /S || fail "setup.exe /S failed"
same_files "$inst" program
[ "$(md5sum <"$sys/wnaspi32.dll")" = "$layer_sum" ] || fail "the system's wnaspi32.dll was changed"
echo "installed (no bridge, the system's ASPI layer untouched): $(ls "$inst" | tr '\n' ' ')"
shortcuts Kestrova=kestrova.exe "Kestrova manual=Kestrova v1.31.pdf" "Uninstall Kestrova=uninstall.exe"
for pair in "DisplayName=Kestrova 1.31" DisplayVersion=1.31 Publisher=Talvenor; do
  [ "$(regval "$uninst_key" "${pair%%=*}")" = "${pair#*=}" ] ||
    fail "uninstall entry: ${pair%%=*} is \"$(regval "$uninst_key" "${pair%%=*}")\", not \"${pair#*=}\""
done
size=$(regval "$uninst_key" EstimatedSize)
bytes=$(cat "$inst"/* | wc -c)
# The size in KB, each file's rounded up or down.
files=$(ls "$inst" | wc -l)
[ -n "$size" ] && [ $((size * 1024 - bytes)) -le $((files * 1024)) ] &&
  [ $((bytes - size * 1024)) -le $((files * 1024)) ] ||
  fail "uninstall entry: EstimatedSize ${size:-none} KB for $bytes bytes installed"
echo "uninstall entry: Kestrova 1.31, 1.31, Talvenor, $size KB, $(regval "$uninst_key" UninstallString)"

step "Kestrova started through its shortcut, on the demo's virtual bus"
# Windows looks for wnaspi32.dll in the system folder before the PATH: Wine's goes, as
# run-demo.sh does it.
rm -f "$sys/wnaspi32.dll"
mkdir -p "$work/demo"
cp "$bin/vbus/wnaspi32.dll" "$root/demo/vbus.ini" "$work/demo/"
fake_pdf_viewer "$work/desktop" "$work/viewer.log"
# Started from elsewhere: only the shortcut's working folder leads Kestrova to its manual.
(cd "$work" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wnaspi32=n" \
  WINEPATH=$(kestrova_winpath "$work/demo") LC_ALL=C.UTF-8 \
  WINEDEBUG=err+all kestrova_wine start /unix "$menu/Kestrova.lnk" >"$work/run.log" 2>&1 </dev/null)
wait_for_kestrova "$work/run.log"
grep -q '^HA_INQUIRY ha=0' "$work/demo/vbus-trace.log" 2>/dev/null ||
  fail "Kestrova did not scan the demo's virtual bus"
press_help "$work/viewer.log"
url=$(head -1 "$work/viewer.log")
echo "the viewer got: $url"
opened=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.unquote(sys.argv[1][7:]))' "$url")
[ "${url:0:7}" = file:// ] && [ "$(realpath "$opened")" = "$(realpath "$inst/Kestrova v1.31.pdf")" ] ||
  fail "the viewer did not get the installed manual"
quit_kestrova
setting=$(regval "$setting_key" "IO buffer size")
[ -n "$setting" ] || fail "Kestrova stored no buffer size"
echo "stored setting: IO buffer size = $setting"

step "silent uninstall, with a user's image file in the install folder"
head -c 65536 /dev/urandom >"$work/NewFile.iso"
cp "$work/NewFile.iso" "$inst/NewFile.iso"
user_file=NewFile.iso
uninstall C.UTF-8
[ "$(ls "$inst")" = NewFile.iso ] || { ls -l "$inst"; fail "the uninstall left files of its own, or took the user's"; }
cmp -s "$work/NewFile.iso" "$inst/NewFile.iso" || fail "the user's image file changed"
[ ! -e "$menu" ] || fail "the Start menu folder is left"
[ "$(regval "$setting_key" "IO buffer size")" = "$setting" ] || fail "the silent uninstall removed the stored setting"
echo "left: the user's NewFile.iso, and the stored setting"

step "journey 2: French install, no ASPI layer in Windows"
snapshot() { (cd "$WINEPREFIX/drive_c" && find . -path '*/Temp' -prune -o -print | sort); }
snapshot >"$work/before.txt"
LC_ALL=fr_FR.UTF-8 kestrova_wine "$setup" /S || fail "setup.exe /S (French) failed"
same_files "$inst" program bridge
echo "installed with the bridge beside kestrova.exe: $(ls "$inst" | tr '\n' ' ')"
shortcuts Kestrova=kestrova.exe "Manuel de Kestrova=Kestrova v1.31.pdf" \
  "Désinstaller Kestrova=uninstall.exe"
step "English uninstall"
uninstall C.UTF-8
snapshot >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" || fail "the uninstall left the prefix's files changed"
echo "the prefix's files are as before the install"
echo "PASS"
