#!/usr/bin/env bash
# Renders the program's four windows (main form, progress box, buffer-size dialog, About box)
# straight from their templates, in English and in French, and saves them as
# docs/screenshots/resources-<window>-<en|fr>.png.
#
# Each window runs in a Wine virtual desktop of its own, so that Wine draws the captions
# without a window manager; LC_ALL is set before Wine starts, as the language rule reads the
# user's language from it. Needs Xvfb, xdotool and ImageMagick (scripts/setup.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"

if [ -z "${KESTROVA_SCREENSHOTS_BUILT:-}" ]; then
  # Build the viewer (the only target needed) before the Wine session starts.
  if [ ! -f "$KESTROVA_RUN_BUILD/build.ninja" ]; then
    bash "$here/build.sh"
  fi
  cmake --build "$KESTROVA_RUN_BUILD" --target resources_viewer
  export KESTROVA_SCREENSHOTS_BUILT=1
fi
if [ -z "${KESTROVA_WINE_SESSION:-}" ]; then
  exec "$here/wine-session.sh" "$0" "$@"
fi

viewer="$KESTROVA_RUN_BUILD/bin/tools/resources_viewer.exe"

out="$KESTROVA_ROOT/docs/screenshots"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

margin=10
shoot() {  # window language locale
  local window=$1 language=$2 locale=$3
  local desktop="kestrova-$window-$language"
  local ready="$work/$desktop.rect"
  LC_ALL=$locale kestrova_wine explorer "/desktop=$desktop,800x600" \
    "$(kestrova_winpath "$viewer")" "$window" "$(kestrova_winpath "$ready")" >/dev/null 2>&1 &
  local wine_pid=$!
  for _ in $(seq 1 300); do
    [ -f "$ready" ] && break
    sleep 0.1
  done
  if [ ! -f "$ready" ]; then
    echo "screenshots: $window ($language) did not come up" >&2
    kill "$wine_pid" 2>/dev/null || true
    return 1
  fi
  sleep 0.3
  local wid
  wid=$(xdotool search --name "^$desktop" | head -n 1)
  import -window "$wid" "$work/full.png"
  touch "$ready.done"
  wait "$wine_pid" || true

  local left top right bottom
  read -r left top right bottom < <(tr -d "\r" < "$ready")
  left=$(( left > margin ? left - margin : 0 ))
  top=$(( top > margin ? top - margin : 0 ))
  right=$(( right + margin ))
  bottom=$(( bottom + margin ))
  convert "$work/full.png" -strip -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
    "$out/resources-$window-$language.png"
  echo "screenshots: docs/screenshots/resources-$window-$language.png"
}

for run in en:en_US.UTF-8 fr:fr_FR.UTF-8; do
  language=${run%%:*}
  locale=${run#*:}
  for window in main progress buffer about; do
    shoot "$window" "$language" "$locale"
  done
done
