#!/usr/bin/env bash
# setup|cleanup FOLDER: a 1 MiB tmpfs at FOLDER, seen by Wine as drive S: of the build's prefix.
# Where mounting is not allowed nothing is made, and the tests that need the drive skip.
set -u
action=$1
folder=$2
link="${WINEPREFIX:?run inside a Wine session}/dosdevices/s:"
case $action in
setup)
  mkdir -p "$folder"
  if ! mountpoint -q "$folder"; then
    if ! mount -t tmpfs -o size=1m kestrova-small-drive "$folder" 2>/dev/null; then
      echo "small drive: cannot mount a tmpfs here; the tests that need it are skipped"
      exit 0
    fi
  fi
  rm -f "$link"
  ln -s "$folder" "$link"
  ;;
cleanup)
  rm -f "$link"
  if mountpoint -q "$folder"; then umount "$folder"; fi
  rmdir "$folder" 2>/dev/null
  exit 0
  ;;
esac
