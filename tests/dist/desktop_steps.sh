# Steps shared by the release tests that drive an unpacked or installed Kestrova from outside
# (xdotool on the Wine session's display). Sourced; the test defines fail() first.

# A stand-in for the desktop's PDF viewer, as winebrowser finds it (xdg-open along PATH): it
# writes what it is given into LOG. Puts DIR first on PATH.
fake_pdf_viewer() {  # DIR LOG
  mkdir -p "$1"
  printf '#!/bin/sh\nprintf '"'"'%%s\\n'"'"' "$@" >>"%s"\n' "$2" >"$1/xdg-open"
  chmod +x "$1/xdg-open"
  export PATH="$1:$PATH"
}

# Waits for Kestrova's main window and sets $window; fails, showing RUN_LOG, when none comes or
# when the program ends at once.
wait_for_kestrova() {  # RUN_LOG
  window=
  for _ in $(seq 1 150); do
    window=$(xdotool search --name '^Kestrova$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { cat "$1"; ps -eo pid,args | grep -i '[k]estrova\.exe'; fail "no Kestrova window"; }
  sleep 2
  xdotool search --name '^Kestrova$' >/dev/null 2>&1 || fail "Kestrova ended at start-up"
}

press_in_kestrova() {  # KEY
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  xdotool key "$1"
}

# F1: Help must start the viewer; its log is then shown.
press_help() {  # VIEWER_LOG
  press_in_kestrova F1
  for _ in $(seq 1 100); do
    [ -s "$1" ] && break
    sleep 0.2
  done
  [ -s "$1" ] || fail "Help started no viewer"
  cat "$1"
}

quit_kestrova() {
  press_in_kestrova ctrl+q
  for _ in $(seq 1 100); do
    xdotool search --name '^Kestrova$' >/dev/null 2>&1 || break
    sleep 0.2
  done
  xdotool search --name '^Kestrova$' >/dev/null 2>&1 && fail "Kestrova still runs after Ctrl+Q"
  return 0
}
