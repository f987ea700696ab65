#!/usr/bin/env bash
# make bench: the transfers' throughput on the virtual bus against their floor (a raw copy plus
# the loop's own calls), measured in pairs; native dd for reference, the memory of the process
# and the bus's own costs. Not a test: it prints figures and judges nothing (docs/PERFORMANCE.md).
#   BENCH_MIB       size of each disk in MB (default 512); a pass moves BENCH_MIB x 16 chunks
#   BENCH_PAIRS     pairs per cell after one warm-up round (default 15)
#   BENCH_ONLY      throughput: only the paired table; report: only what the image report costs
#                   Disk to file; bus: only the loop's steps, the bus and the machine's own costs
#                   (no transfers, no dd)
#   BENCH_SLOWDOWN  a percentage: every transfer made that much slower on purpose (default 0,
#                   off), to see the table catch a regression
#   BENCH_NICE      a niceness for the Wine session (program, wineserver, display), e.g. -10
#                   as root on a machine others are using; unset, the session runs as started
# Needs about 5 x BENCH_MIB MB of free disk space in the build folder; the images are removed
# afterwards.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
mib=${BENCH_MIB:-512}
pairs=${BENCH_PAIRS:-15}
only=${BENCH_ONLY:-all}
slowdown=${BENCH_SLOWDOWN:-0}
niceness=${BENCH_NICE:-}
started=$SECONDS

if [ ! -f "$KESTROVA_RUN_BUILD/build.ninja" ]; then
  toolchain=mingw64-toolchain.cmake
  [ "$KESTROVA_WINE_ARCH" = win32 ] && toolchain=mingw32-toolchain.cmake
  cmake -S "$KESTROVA_ROOT" -B "$KESTROVA_RUN_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
    -DKESTROVA_TESTS=ON ${CMAKE_FLAGS:-} >/dev/null || exit 1
fi
cmake --build "$KESTROVA_RUN_BUILD" --target kestrova_bench || exit 1
exe=$KESTROVA_RUN_BUILD/bin/bench/kestrova_bench.exe

work=$KESTROVA_RUN_BUILD/bench-work
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
free_mib=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_mib" -lt $((5 * mib + 512)) ]; then
  echo "bench: $free_mib MB free in $work, $((5 * mib + 512)) MB needed" >&2
  exit 1
fi

echo "bench: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load:$(uptime | sed 's/.*load average://')"
echo "bench: $($KESTROVA_WINE_LOADER --version), $KESTROVA_WINE_ARCH build, disks of $mib MB, $pairs pairs," \
  "slowdown $slowdown %,${niceness:+ niceness $niceness,} commit $(git -C "$KESTROVA_ROOT" rev-parse --short HEAD 2>/dev/null)"
# The progress box opens and closes at every transfer: without a window manager Wine would wait
# for one at each close, so the program's windows are left unmanaged, as in the transfer tests.
${niceness:+nice -n "$niceness"} "$here/wine-session.sh" bash -c '
  "$KESTROVA_WINE_LOADER" reg add "HKCU\\Software\\Wine\\AppDefaults\\kestrova_bench.exe\\X11 Driver" \
    /v Managed /d N /f >/dev/null 2>&1
  "$0" "$@"' "$here/winerun.sh" "$exe" "$(kestrova_winpath "$work")" --mib "$mib" --pairs "$pairs" \
  --only "$only" --slowdown "$slowdown"
status=$?
[ $status -eq 0 ] || { echo "bench: the benchmark program failed (status $status)" >&2; exit $status; }
finished() { echo "bench: done in $((SECONDS - started)) s, load:$(uptime | sed 's/.*load average://')"; exit 0; }
[ "$only" = throughput ] || [ "$only" = report ] && finished

# What a Wine server request costs at the least on this machine, natively.
echo
echo "The machine's own costs, native (microseconds)"
if command -v cc >/dev/null 2>&1 && cc -O2 -o "$work/ipc_cost" "$KESTROVA_ROOT/bench/native/ipc_cost.c"; then
  "$work/ipc_cost"
else
  echo "  (no native C compiler: not measured)"
fi
[ "$only" = bus ] && finished

# Native dd over the same images (still in the page cache), for reference.
echo
echo "Native dd, same files and block sizes, one run each (MB = 2^20 bytes)"
printf '%-13s %6s %10s\n' direction block 'MB/s'
run_dd() {  # name block if of [conv]
  local start end
  start=$(date +%s.%N)
  dd if="$3" of="$4" bs="$2" count=$((mib * 1024 / ${2%k})) ${5:+conv=$5} status=none || return
  end=$(date +%s.%N)
  printf '%-13s %6s %10.0f\n' "$1" "${2%k} KB" "$(echo "$mib / ($end - $start)" | bc -l)"
}
for bs in 4k 16k 64k; do
  rm -f "$work/image.img"
  run_dd "disk to file" $bs "$work/disk0.img" "$work/image.img"
  run_dd "file to disk" $bs "$work/image.img" "$work/disk1.img" notrunc
  run_dd "disk to disk" $bs "$work/disk0.img" "$work/disk1.img" notrunc
done
finished
