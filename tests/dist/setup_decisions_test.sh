#!/usr/bin/env bash
# scripts/setup.sh's decisions without the network: apt-get, dpkg and friends are stand-ins on the
# PATH that play a mirror mid-sync (an index that fails to download, a package that cannot be
# resolved) and record what setup asked; the 32-bit probe is replaced by true or false.
set -uo pipefail
setup=${1:?usage: setup_decisions_test.sh path/to/setup.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- setup said:"; cat "$work/out"; echo "--- calls:"; cat "$work/calls"; exit 1; }

mkdir "$work/bin"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
# apt-get as a mirror mid-sync: `update` fails (status 0, as apt does when it ignores an index)
# for the first $UPDATE_FAILURES calls; `install` installs every package but those in $UNRESOLVABLE
# and fails the whole request when one of them is asked for, as apt's resolver does.
stand_in apt-get '
echo "apt-get $*" >>"$STATE/calls"
if [ "$1" = update ] || [ "$2" = update ]; then
  n=$(($(cat "$STATE/updates" 2>/dev/null || echo 0) + 1)); echo $n >"$STATE/updates"
  if [ "$n" -le "$UPDATE_FAILURES" ]; then
    echo "E: Failed to fetch http://mirror/debian-security/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  fi
  exit 0
fi
pkgs=(); for a in "$@"; do case $a in -*|install) ;; *) pkgs+=("$a") ;; esac; done
for p in "${pkgs[@]}"; do
  [[ " $UNRESOLVABLE " == *" $p "* ]] && { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; }
done
printf "%s\n" "${pkgs[@]}" >>"$STATE/installed"'
stand_in dpkg-query 'p=${@: -1}; grep -qx "$p" "$STATE/installed" 2>/dev/null && echo "install ok installed"; exit 0'
stand_in dpkg 'echo "dpkg $*" >>"$STATE/calls"; [ "$1" = --print-foreign-architectures ] && cat "$STATE/arches" 2>/dev/null
[ "$1" = --add-architecture ] && echo "$2" >>"$STATE/arches"; exit 0'
stand_in id 'echo 0'
stand_in locale 'echo fr_FR.utf8'
stand_in sleep 'echo "sleep $*" >>"$STATE/calls"'

# run PROBE32 UPDATE_FAILURES UNRESOLVABLE: runs setup on a fresh stand-in machine; $status
run() {
  rm -f "$work/installed" "$work/updates" "$work/arches"; : >"$work/calls"; touch "$work/installed"
  STATE=$work UPDATE_FAILURES=$2 UNRESOLVABLE=$3 KESTROVA_SETUP_PROBE32=$1 KESTROVA_SETUP_PAUSE=0 \
    KESTROVA_WINE_ARCH= PATH="$work/bin:$PATH" bash "$setup" >"$work/out" 2>&1
  status=$?
}
installed() { grep -qx "$1" "$work/installed"; }
said() { grep -q -- "$1" "$work/out"; }

# A kernel without 32-bit support, an index that fails twice: setup retries, installs everything
# but wine32, and never enables i386.
run false 2 ""
[ "$status" -eq 0 ] || fail "64-bit kernel, index failing twice: status $status"
[ "$(cat "$work/updates")" -eq 3 ] || fail "apt-get update was not retried until it worked"
installed wine64 && installed gddrescue && installed nsis || fail "packages missing"
installed wine32:i386 && fail "wine32 installed where no 32-bit program runs"
grep -q 'add-architecture' "$work/calls" && fail "i386 enabled where no 32-bit program runs"
said "runs no 32-bit programs" || fail "setup does not say why wine32 was left out"

# An index that never comes right: one line, then the install goes on with the lists apt has.
run false 99 ""
[ "$status" -eq 0 ] || fail "index failing every time stopped setup (status $status)"
[ "$(cat "$work/updates")" -eq 3 ] || fail "apt-get update tried $(cat "$work/updates") times, not 3"
said "going on with the lists apt has" || fail "no line says the failed index was passed over"
installed cmake || fail "nothing installed after the index failure"

# A kernel that runs 32-bit programs needs wine32; when it cannot be resolved, setup installs the
# rest, then stops naming it and saying what to try.
run true 0 "wine32:i386"
[ "$status" -ne 0 ] || fail "wine32 missing on a 32-bit kernel, yet setup succeeded"
grep -q 'add-architecture i386' "$work/calls" || fail "i386 not enabled for wine32"
said "could not install wine32:i386" || fail "the message does not name wine32:i386"
said "KESTROVA_WINE_ARCH=win64" || fail "the message does not say what to try"
installed wine64 && installed pandoc || fail "one unresolvable package kept the others from being installed"

# A package a test path needs (NSIS for the installer test) that cannot be installed stops setup.
run false 0 "nsis"
[ "$status" -ne 0 ] && said "could not install nsis" || fail "an uninstallable nsis went unreported (status $status)"
installed p7zip-full || fail "nsis kept p7zip-full from being installed"

# Everything there: nothing is downloaded or installed.
run true 0 ""
: >"$work/calls"
STATE=$work UPDATE_FAILURES=0 UNRESOLVABLE= KESTROVA_SETUP_PROBE32=true KESTROVA_SETUP_PAUSE=0 KESTROVA_WINE_ARCH= \
  PATH="$work/bin:$PATH" bash "$setup" >"$work/out" 2>&1 || fail "second run failed"
[ -s "$work/calls" ] && fail "a second run called apt-get or dpkg again"
echo "setup decisions: all cases passed"
