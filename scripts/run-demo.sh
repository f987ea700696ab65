#!/usr/bin/env bash
# Starts Kestrova under Wine. With a display it opens the program's window and waits for it
# to end; with none it runs on a virtual display and saves a screenshot.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
exe=$KESTROVA_RUN_BUILD/bin/kestrova.exe
if [ -z "${DISPLAY:-}" ]; then
  exec "$here/wine-session.sh" bash -c '
    "$0" "$1" & pid=$!
    sleep 3
    import -window root "$2" && echo "run: no display; screenshot saved to $2"
    kill $pid 2>/dev/null
    wait $pid; echo "run: kestrova.exe ended with status $?"' \
    "$here/winerun.sh" "$exe" "$KESTROVA_RUN_BUILD/kestrova-screen.png"
fi
exec "$here/winerun.sh" "$exe"
