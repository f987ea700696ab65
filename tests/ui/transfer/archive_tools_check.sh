#!/usr/bin/env bash
# FOLDER: what archive_test and rescue_test left there, judged by the real tools. GNU ddrescuelog
# must read each map and list exactly the sectors the virtual bus could not read; GNU ddrescue,
# going on from a map that Kestrova stopped, must give the image Kestrova gave going on from it;
# sha256sum of each image, and of its data part, must be what its report says.
set -uo pipefail
folder=$1
failures=0
fail() { echo "archive_tools_check: $*" >&2; failures=$((failures + 1)); }

bad_sectors() {  # map: the bad sector numbers ddrescuelog lists, on one line (MO disks: 2048 bytes)
  local size=512
  [[ $1 == mo.* ]] && size=2048
  ddrescuelog -b $size -l- "$folder/$1" | paste -sd' ' -
}
for pair in "first.map:40 41 100 200" "retried.map:200" "final.map:" "mo.map:5" "resumed.map:40 41" \
  "large.map:9000000"; do
  map=${pair%%:*} want=${pair#*:}
  [ -f "$folder/$map" ] || { fail "$map is missing"; continue; }
  got=$(bad_sectors "$map") || { fail "ddrescuelog refused $map"; continue; }
  [ "$got" = "$want" ] || fail "$map: ddrescuelog lists bad sectors '$got', expected '$want'"
done
# The last map has nothing left to read: ddrescuelog's "done" status.
ddrescuelog -D "$folder/final.map" || fail "ddrescuelog does not see final.map as finished"
# The large map covers its 5 GiB disk, past what 32 bits of bytes can count.
ddrescuelog -t "$folder/large.map" | grep -q 'mapfile extent: *5368 MB' ||
  fail "ddrescuelog does not see large.map cover 5 GiB: $(ddrescuelog -t "$folder/large.map" | tr '\n' ' ')"

# Going on from the stopped map: ddrescue, with the same bad sectors (its test mode) and one
# retry pass as Kestrova gives, from the disk as it is now, into a copy of the stopped image.
if [ -f "$folder/stopped.map" ] && [ -f "$folder/resumed.img" ]; then
  work=$(mktemp -d)
  cp "$folder/stopped.img" "$work/image"
  cp "$folder/stopped.map" "$work/map"
  printf '0 + 1\n0 0x5000 +\n0x5000 0x400 -\n0x5400 0x1AC00 +\n' > "$work/bad-sectors"
  if ddrescue -q -r1 -H "$work/bad-sectors" "$folder/source-now.img" "$work/image" "$work/map"; then
    cmp -s "$work/image" "$folder/resumed.img" || fail "ddrescue going on from stopped.map gives another image"
    [ "$(ddrescuelog -b 512 -l- "$work/map" | paste -sd' ' -)" = "40 41" ] || fail "ddrescue's map lists other bad sectors"
  else
    fail "ddrescue refused to go on from stopped.map"
  fi
  rm -rf "$work"
else
  fail "stopped.map or resumed.img is missing"
fi

field() {  # report label: the value after the label
  sed -n "s/^$2 *\([^ ]*\).*/\1/p" "$folder/$1" | tr -d '\r'
}
for image in padded.img exact.img rescued.img; do
  report=$image.txt
  [ -f "$folder/$image" ] && [ -f "$folder/$report" ] || { fail "$image or its report is missing"; continue; }
  length=$(field "$report" 'Data length:')
  file_sum=$(sha256sum "$folder/$image" | cut -d' ' -f1)
  data_sum=$(head -c "$length" "$folder/$image" | sha256sum | cut -d' ' -f1)
  [ "$file_sum" = "$(field "$report" 'SHA-256 of the file:')" ] || fail "$report: the file's SHA-256 is $file_sum"
  [ "$data_sum" = "$(field "$report" 'SHA-256 of the data:')" ] || fail "$report: the data's SHA-256 is $data_sum"
  [ "$(stat -c %s "$folder/$image")" = "$(field "$report" 'File length:')" ] || fail "$report: wrong file length"
done
[ $failures -eq 0 ] && echo "archive_tools_check: maps and checksums as the tools see them"
exit $((failures > 0))
