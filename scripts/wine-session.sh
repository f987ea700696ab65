#!/usr/bin/env bash
# Runs a command inside a Wine session of the project: a virtual display when none is set,
# the project's prefix, and one persistent wineserver so that each Wine program starts fast.
# Everything it started is stopped afterwards; the command's exit status is returned.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

xvfb_pid=
stop_session() {
  kestrova_wineserver -k >/dev/null 2>&1
  kestrova_wineserver -w >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap stop_session EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    sleep 0.2
    # Another session may have taken the same display at the same moment: only our own counts.
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      break
    fi
    xvfb_pid=
  done
  if [ -z "${DISPLAY:-}" ]; then
    echo "wine-session: could not start Xvfb" >&2
    exit 1
  fi
fi
export KESTROVA_WINE_SESSION=1

kestrova_wine_prefix
kestrova_wineserver -p
# Start Wine's own background processes (services, the desktop) now, detached from our output:
# started later by a test program, they would inherit its output pipe and ctest would wait
# for them until its time-out.
kestrova_wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
"$@"
