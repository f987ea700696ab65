#!/usr/bin/env bash
# Images that the real tools make, for contents_test to recognise: FAT12, FAT16 and FAT32 by
# mkfs.fat (dosfstools), an ISO 9660 by xorriso.
#   contents_tool_images.sh FOLDER
set -euo pipefail
out=$1
export PATH=$PATH:/usr/sbin:/sbin
rm -rf "$out"
mkdir -p "$out/cd"
mkfs.fat -C -F 12 -n TOOLFAT12 "$out/fat12.img" 1440 >/dev/null
mkfs.fat -C -F 16 -n TOOLFAT16 "$out/fat16.img" 16384 >/dev/null
mkfs.fat -C -F 32 -s 1 -n TOOLFAT32 "$out/fat32.img" 40000 >/dev/null
echo "a list of samples" >"$out/cd/samples.txt"
xorriso -as mkisofs -quiet -V TOOLCD -o "$out/cd.iso" "$out/cd" 2>/dev/null
rm -rf "$out/cd"
