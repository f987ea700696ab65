#!/usr/bin/env bash
# Runs every test program of the build that Wine runs here, inside one Wine session, and ends
# with one line saying which build ran the suite and which width was only compiled.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ "$KESTROVA_WINE_ARCH" = win32 ]; then other=win64; else other=win32; fi
echo "test: running the $KESTROVA_WINE_ARCH build in ${KESTROVA_RUN_BUILD#$KESTROVA_ROOT/} under Wine"
log=$KESTROVA_RUN_BUILD/ctest-output.log
# Tests write only under build/: what is new in the source tree afterwards fails the run.
source_files() {
  git -C "$KESTROVA_ROOT" status --porcelain --untracked-files=all 2>/dev/null | sort
}
before=$(source_files)
"$KESTROVA_ROOT/scripts/wine-session.sh" ctest --test-dir "$KESTROVA_RUN_BUILD" --output-on-failure "$@" 2>&1 |
  tee "$log"
status=${PIPESTATUS[0]}
# ctest closes with "NN% tests passed, F tests failed out of T".
summary=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -n 1)
if [ -n "$summary" ]; then
  read -r failed total <<<"$summary"
  # ctest counts a skipped test as passed; say which did not run.
  skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | paste -sd, -)
  nskipped=0
  [ -n "$skipped" ] && nskipped=$(($(tr -cd , <<<"$skipped" | wc -c) + 1))
  counts="$((total - failed - nskipped))/$total"
  [ -n "$skipped" ] && counts="$counts; NOT RUN: $skipped"
else
  counts="no result"
fi
echo "tested: $KESTROVA_WINE_ARCH ($counts); compiled only: $other tests"
left=$(comm -13 <(echo "$before") <(source_files))
if [ -n "$left" ]; then
  echo "test: the tests left files in the source tree (they may write only under build/):"
  echo "$left"
  status=1
fi
exit "$status"
