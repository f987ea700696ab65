#!/usr/bin/env bash
# Starts Kestrova under Wine on the demo virtual SCSI bus (demo/vbus.ini, copied by the build to
# <build>/bin/demo/, where the bus creates its disk images on first use). With a display it opens
# the program's window and waits for it to end; with none it runs on a virtual display and saves
# a screenshot. VBUS_CONFIG, when already set, names another bus configuration.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
exe=$KESTROVA_RUN_BUILD/bin/kestrova.exe
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
cd "$KESTROVA_RUN_BUILD/bin"
if [ -z "${DISPLAY:-}" ]; then
  # The first start creates the demo images (a few hundred MB, sparse where they can be), so
  # wait for the window rather than a fixed time.
  exec "$here/wine-session.sh" bash -c '
    "$0" "$1" & pid=$!
    for _ in $(seq 1 60); do
      xdotool search --name Kestrova >/dev/null 2>&1 && break
      kill -0 $pid 2>/dev/null || break
      sleep 0.5
    done
    sleep 2
    import -window root "$2" && echo "run: no display; screenshot saved to $2"
    kill $pid 2>/dev/null
    wait $pid; echo "run: kestrova.exe ended with status $?"' \
    "$here/winerun.sh" "$exe" "$KESTROVA_RUN_BUILD/kestrova-screen.png"
fi
exec "$here/winerun.sh" "$exe"
