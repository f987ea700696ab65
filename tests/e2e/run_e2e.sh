#!/usr/bin/env bash
# ctest's entry point for the journeys: RUN_BUILD GROUP... Opens a Wine session of the project
# when none is open (the journeys then share its persistent wineserver) and runs run_e2e.py.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
run_build=$1
shift
if [ -z "${KESTROVA_RUN_BUILD:-}" ]; then
  # Started by ctest directly: the build folder tells which prefix and which loader.
  case "$run_build" in
    */win64) export KESTROVA_BUILD=${run_build%/win64} KESTROVA_WINE_ARCH=win64 ;;
    *) export KESTROVA_BUILD=$run_build KESTROVA_WINE_ARCH=win32 ;;
  esac
fi
source "$here/../../scripts/wine-env.sh"
export PYTHONDONTWRITEBYTECODE=1
if [ -z "${KESTROVA_WINE_SESSION:-}" ]; then
  exec "$KESTROVA_ROOT/scripts/wine-session.sh" python3 "$here/run_e2e.py" "$@"
fi
exec python3 "$here/run_e2e.py" "$@"
