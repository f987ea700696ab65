#!/usr/bin/env bash
# Builds the manual: the Markdown chapters of this folder (in file-name order) go through pandoc
# into groff ms, and pdfroff (groff, then Ghostscript) makes the PDF. No TeX is needed.
#   build-manual.sh OUTPUT.pdf WORK_DIR
# Screenshots come from docs/screenshots/ (or $KESTROVA_SCREENSHOTS); missing ones are left out.
set -euo pipefail
out=$1
work=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export KESTROVA_SCREENSHOTS=${KESTROVA_SCREENSHOTS:-$here/../screenshots}
export KESTROVA_MANUAL_WORK=$work
mkdir -p "$work"

pandoc --from markdown-smart --to ms --standalone --toc --toc-depth=2 \
  --lua-filter "$here/screenshots.lua" \
  --metadata-file "$here/metadata.yaml" \
  "$here"/[0-9][0-9]-*.md -o "$work/manual.ms"

# Screenshots stay sharp: Ghostscript keeps their pixels (Flate) instead of making JPEGs of them.
export PDFROFF_POSTPROCESSOR_COMMAND="$(command -v gs) -dQUIET -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite \
  -sPAPERSIZE=a4 -dAutoFilterColorImages=false -dColorImageFilter=/FlateEncode \
  -dAutoFilterGrayImages=false -dGrayImageFilter=/FlateEncode -sOutputFile=-"
(cd "$work" && pdfroff -ms -mpdfmark -mspdf -e -t -k -KUTF-8 -dpaper=a4 -P-pa4 \
   manual.ms >manual.pdf 2>pdfroff.log) || { cat "$work/pdfroff.log" >&2; exit 1; }
# groff's warnings are not fatal, but they are worth seeing.
grep -v '^$' "$work/pdfroff.log" >&2 || true
# pdfroff's contents pass leaves pages in front of the contents (empty ones, and the pages that
# hold screenshots, which its blank-page filter keeps): the document starts at the contents.
pages=$(pdfinfo "$work/manual.pdf" | sed -n 's/^Pages: *//p')
contents=
for ((page = 1; page <= pages && page <= 40; page++)); do
  if pdftotext -f $page -l $page "$work/manual.pdf" - | grep -q 'User Manual.*Contents'; then
    contents=$page
    break
  fi
done
[ -n "$contents" ] || { echo "manual: no contents page found" >&2; exit 1; }
if [ "$contents" -gt 1 ]; then
  gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sPageList=$contents- \
    -sOutputFile="$work/manual-trimmed.pdf" "$work/manual.pdf"
  mv "$work/manual-trimmed.pdf" "$work/manual.pdf"
fi
cp "$work/manual.pdf" "$out"
