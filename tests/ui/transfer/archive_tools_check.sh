#!/usr/bin/env bash
# FOLDER: what archive_test left there, judged by the real tools. GNU ddrescuelog must read each
# map and list exactly the sectors the virtual bus could not read; sha256sum of each image, and
# of its data part, must be what its report says.
set -uo pipefail
folder=$1
failures=0
fail() { echo "archive_tools_check: $*" >&2; failures=$((failures + 1)); }

bad_sectors() {  # map: the bad sector numbers ddrescuelog lists, on one line (MO disks: 2048 bytes)
  local size=512
  [[ $1 == mo.* ]] && size=2048
  ddrescuelog -b $size -l- "$folder/$1" | paste -sd' ' -
}
for pair in "first.map:40 41 100 200" "retried.map:200" "final.map:" "mo.map:5"; do
  map=${pair%%:*} want=${pair#*:}
  [ -f "$folder/$map" ] || { fail "$map is missing"; continue; }
  got=$(bad_sectors "$map") || { fail "ddrescuelog refused $map"; continue; }
  [ "$got" = "$want" ] || fail "$map: ddrescuelog lists bad sectors '$got', expected '$want'"
done
# The last map has nothing left to read: ddrescuelog's "done" status.
ddrescuelog -D "$folder/final.map" || fail "ddrescuelog does not see final.map as finished"

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
