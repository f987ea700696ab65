#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix (ctest's emulator).
# The virtual SCSI bus library of the build is found along the Wine PATH and preferred to
# Wine's own wnaspi32, unless the caller sets WINEDLLOVERRIDES itself.
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
if [ -z "${KESTROVA_WINE_SESSION:-}" ]; then
  exec "$here/wine-session.sh" "$0" "$@"
fi
source "$here/wine-env.sh"
case "$WINEDLLOVERRIDES" in
  *wnaspi32*) ;;
  *) export WINEDLLOVERRIDES="wnaspi32=n;$WINEDLLOVERRIDES" ;;
esac
vbus_dir=$(kestrova_winpath "$KESTROVA_RUN_BUILD/bin/vbus")
export WINEPATH="${vbus_dir}${WINEPATH:+;$WINEPATH}"
exec "$KESTROVA_WINE_LOADER" "$@"
