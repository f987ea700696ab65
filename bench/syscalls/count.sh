#!/usr/bin/env bash
# The system calls that one PeekMessageA on an empty queue makes under Wine: empty_peek.exe
# runs under strace with 0 and with 20000 passes, and the difference per pass is printed by
# system call. Needs strace and the Windows cross compiler of the build; a diagnosis, not a test.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/wine-env.sh"
command -v strace >/dev/null || { echo "count.sh: strace is needed (apt-get install strace)" >&2; exit 1; }
compiler=x86_64-w64-mingw32-gcc
[ "$KESTROVA_WINE_ARCH" = win32 ] && compiler=i686-w64-mingw32-gcc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$compiler" -O2 -o "$work/empty_peek.exe" "$root/bench/syscalls/empty_peek.c" || exit 1
passes=20000
"$root/scripts/wine-session.sh" bash -c '
  strace -f -c -o "$1/none.txt" "$KESTROVA_WINE_LOADER" "$1/empty_peek.exe" 0
  strace -f -c -o "$1/many.txt" "$KESTROVA_WINE_LOADER" "$1/empty_peek.exe" "$2"
  echo "messages that arrived while counting: $?"' bash "$work" "$passes"
echo "System calls per PeekMessageA on an empty queue, in the program's process (the wineserver's own are not counted; $passes passes)"
awk -v passes="$passes" '
  FNR == 1 { file++ }
  # % time, seconds, usecs/call, calls, [errors,] name
  $4 ~ /^[0-9]+$/ && $NF ~ /^[a-z_0-9]+$/ && $NF != "total" {
    if (file == 1) base[$NF] = $4; else many[$NF] = $4
  }
  END {
    for (name in many) {
      per = (many[name] - base[name]) / passes
      if (per >= 0.05) { printf "  %-20s %6.2f\n", name, per; total += per }
    }
    printf "  %-20s %6.2f\n", "all", total
  }' "$work/none.txt" "$work/many.txt"
