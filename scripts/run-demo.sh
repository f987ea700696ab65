#!/usr/bin/env bash
# Starts Kestrova under Wine on the demo virtual SCSI bus (demo/vbus.ini, copied by the build to
# <build>/bin/demo/, where the bus creates its disk images on first use). With a display it opens
# the program's window and waits for it to end; with none it runs on a virtual display, makes a
# short scripted backup of the demo disk, checks it and saves a screenshot. VBUS_CONFIG, when
# already set, names another bus configuration.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
exe=$KESTROVA_PROGRAM_BIN/kestrova.exe
demo_ini=$KESTROVA_RUN_BUILD/bin/demo/vbus.ini
if [ -z "${VBUS_CONFIG:-}" ]; then
  if [ ! -f "$demo_ini" ]; then
    echo "run: $demo_ini is missing; build first (make build)" >&2
    exit 1
  fi
  VBUS_CONFIG=$(kestrova_winpath "$demo_ini")
fi
export VBUS_CONFIG
echo "run: virtual SCSI bus from $VBUS_CONFIG"
# Kestrova looks for its manual, and Help for its reader acroread.exe, in the folder it was
# started from: the one of kestrova.exe.
cd "$KESTROVA_PROGRAM_BIN"
if [ -z "${DISPLAY:-}" ]; then
  # No display: Kestrova runs on a virtual display of its own and is driven, keys and clicks,
  # through a short backup of the demo disk; the image is checked against the disk, the screen
  # saved, and what was done is printed with the places of the files (tools/journeys/demo_backup.py).
  # The first start creates the demo images (a few hundred MB, sparse where they can be).
  ini=$demo_ini
  case "$VBUS_CONFIG" in
    [Zz]:*) ini=$(printf '%s' "${VBUS_CONFIG#?:}" | tr '\\' '/') ;;
  esac
  export PYTHONDONTWRITEBYTECODE=1
  exec "$here/wine-session.sh" python3 "$KESTROVA_ROOT/tools/journeys/demo_backup.py" "$ini" \
    "$KESTROVA_RUN_BUILD/demo-run"
fi
exec "$here/winerun.sh" "$exe"
