#!/usr/bin/env bash
# FOLDER: maps that GNU ddrescue itself writes, for archive_rules_test to read. The source is an
# image of 256 sectors with a bad area (sectors 40 to 47, by ddrescue's test mode, -H), copied
# to its end, stopped at the first error (-X1), without scraping (-n) and for its first 32
# sectors only (-s): maps with '-', '*', '/' and '?' blocks.
set -euo pipefail
folder=$1
rm -rf "$folder"
mkdir -p "$folder"
cd "$folder"
head -c 131072 /dev/zero | tr '\0' 'k' > source.img
printf '0 + 1\n0 0x5000 +\n0x5000 0x1000 -\n0x6000 0x1A000 +\n' > bad-area.testmap
run() {  # name options...
  local name=$1
  shift
  rm -f out.img
  ddrescue -q "$@" -H bad-area.testmap source.img out.img "$name.map" || true
  [ -s "$name.map" ] || { echo "ddrescue_maps: ddrescue wrote no $name.map" >&2; exit 1; }
}
run finished
run stopped -X1
run unscraped -n
run partial -s 0x4000
rm -f out.img source.img
