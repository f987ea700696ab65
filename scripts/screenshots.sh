#!/usr/bin/env bash
# Takes the screenshots of the README and the manual (docs/screenshots/): the real program on a
# virtual bus, in English and French, each window cut out of a screen of its own (Xvfb).
#   scripts/screenshots.sh [FOLDER]     default docs/screenshots
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
out=${1:-$KESTROVA_ROOT/docs/screenshots}
[ -f "$KESTROVA_RUN_BUILD/build.ninja" ] && [ -f "$KESTROVA_RELEASE_BUILD/build.ninja" ] ||
  bash "$here/build.sh" >/dev/null
cmake --build "$KESTROVA_RUN_BUILD" --target kestrova wnaspi32 winspy fake_reader >/dev/null
# Where 32-bit code runs, the journeys show the program that ships.
cmake --build "$KESTROVA_RELEASE_BUILD" --target kestrova >/dev/null
export PYTHONDONTWRITEBYTECODE=1
"$here/wine-session.sh" python3 "$KESTROVA_ROOT/tools/journeys/screenshots.py" "$out"
