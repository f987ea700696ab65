#!/usr/bin/env bash
# The manual names every text the program can show: each message, question, caption, label,
# menu entry and string of the program's sources and resources must occur in the PDF's text.
# Texts are cut at their printf conversions and line breaks; blanks count as one.
#   manual_text_test.sh MANUAL.pdf SOURCE_ROOT
set -uo pipefail
pdf=$1
root=$2
[ -f "$pdf" ] || { echo "FAIL: no manual at $pdf"; exit 1; }

# The PDF's text on one line, every run of blanks (no-break spaces too) as one blank, without the
# page numbers at the foot of the pages (lines of digits only): a text that a page break cuts
# would otherwise read with the number inside it.
text=$(pdftotext -enc UTF-8 "$pdf" - | grep -v -x '[0-9][0-9]*' | sed 's/\xc2\xa0/ /g' | tr '\n\t\f' '   ' |
  tr -s ' ')

# Program texts that never reach the user, or are not words.
ignored=(
  'cmd.exe /s /c \"'                      # how the help reader is started
  'the record without extension fields'   # a compile-time check
)

literals() {
  # Messages, formats and questions of the program's code.
  grep -h -v '^ *#\|static_assert' "$root"/src/{transfer,archive,scsi,settings,shell,contents}/*.cpp |
    grep -o '"\([^"\\]\|\\.\)*"' | sed 's/^"//; s/"$//' | grep ' ' | grep '[A-Za-z]'
  # Texts that both languages share.
  sed -n 's/^#define [A-Z_0-9]* *"\(.*\)" *$/\1/p' "$root"/src/resources/*.rc
  for rc in "$root"/src/resources/en/*.rc "$root"/src/resources/fr/*.rc; do
    # The string table.
    sed -n '/^STRINGTABLE/,/^END/s/^ *[A-Z_0-9]* *"\(.*\)" *$/\1/p' "$rc"
    # Menu entries, window captions and the texts of the controls.
    sed -n 's/^ *MENUITEM *"\([^"]*\)".*/\1/p; s/^ *POPUP *"\([^"]*\)".*/\1/p;
            s/^CAPTION *"\([^"]*\)".*/\1/p; s/^ *CONTROL *"\([^"]*\)".*/\1/p' "$rc"
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "$text" >"$work/text"
printf '%s\n' "${ignored[@]}" >"$work/ignored"

# Every text cut at conversions (%d, %5.1f, %02X, %.8s, a trailing % before a PRI macro), \n,
# \t and \0; blanks as one; template placeholders and pieces without words left out.
literals | sort -u | grep -v -x -F -f "$work/ignored" |
  sed 's/\\\\/\\/g; s/\\n/\x1f/g; s/\\t/\x1f/g; s/\\0/\x1f/g; s/%%/%/g' |
  sed 's/%[-+ 0#]*[0-9.]*[a-zA-Z]/\x1f/g; s/%$/\x1f/' | tr '\037' '\n' |
  tr -s ' ' | sed 's/^ //; s/ $//' |
  grep -v -x -E 'static|Static|version|size|Progress1|KESTROVA' |
  grep '[A-Za-z]' | awk 'length($0) >= 3' | sort -u >"$work/pieces"

awk 'FNR == NR { text = text $0; next }
     { checked++; if (index(text, $0) == 0) { print "missing from the manual: \"" $0 "\""; missing++ } }
     END {
       printf "%d texts checked, %d missing\n", checked, missing
       if (checked < 100) { print "FAIL: too few texts found in the sources"; exit 1 }
       if (missing > 0) { print "FAIL"; exit 1 }
       print "PASS"
     }' "$work/text" "$work/pieces"
