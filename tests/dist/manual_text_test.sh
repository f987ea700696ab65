#!/usr/bin/env bash
# The manual names every text the program can show: each message, question, caption, label,
# menu entry and string of the program's sources and resources must occur in the PDF's text.
# Texts are cut at their printf conversions and line breaks; blanks count as one.
#   manual_text_test.sh MANUAL.pdf SOURCE_ROOT
set -uo pipefail
pdf=$1
root=$2
[ -f "$pdf" ] || { echo "FAIL: no manual at $pdf"; exit 1; }

# The PDF's text on one line, every run of blanks (no-break spaces too) as one blank.
text=$(pdftotext -enc UTF-8 "$pdf" - | sed 's/\xc2\xa0/ /g' | tr '\n\t\f' '   ' | tr -s ' ')

# Program texts that never reach the user, or are not words.
ignored=(
  'cmd.exe /s /c \"'                      # how the help reader is started
  'the record without extension fields'   # a compile-time check
)

literals() {
  # Messages, formats and questions of the program's code.
  grep -h -v '^ *#\|static_assert' "$root"/src/{transfer,scsi,settings,shell}/*.cpp |
    grep -o '"\([^"\\]\|\\.\)*"' | sed 's/^"//; s/"$//' | grep ' ' | grep '[A-Za-z]'
  for rc in "$root"/src/resources/en/*.rc "$root"/src/resources/fr/*.rc; do
    # The string table.
    sed -n '/^STRINGTABLE/,/^END/s/^ *[A-Z_0-9]* *"\(.*\)" *$/\1/p' "$rc"
    # Menu entries, window captions and the texts of the controls.
    sed -n 's/^ *MENUITEM *"\([^"]*\)".*/\1/p; s/^ *POPUP *"\([^"]*\)".*/\1/p;
            s/^CAPTION *"\([^"]*\)".*/\1/p; s/^ *CONTROL *"\([^"]*\)".*/\1/p' "$rc"
  done
}

missing=0
checked=0
while IFS= read -r literal; do
  for skip in "${ignored[@]}"; do
    [ "$literal" = "$skip" ] && continue 2
  done
  # Cut at conversions (%d, %5.1f, %02X, %.8s, a trailing % before a PRI macro), \n, \t, \0.
  pieces=$(printf '%s\n' "$literal" |
    sed 's/\\\\/\\/g; s/\\n/\x1f/g; s/\\t/\x1f/g; s/\\0/\x1f/g; s/%%/%/g' |
    sed 's/%[-+ 0#]*[0-9.]*[a-zA-Z]/\x1f/g; s/%$/\x1f/' | tr '\037' '\n')
  while IFS= read -r piece; do
    piece=$(printf '%s' "$piece" | tr -s ' ' | sed 's/^ //; s/ $//')
    # Placeholders of the templates, replaced before anyone sees them.
    case "$piece" in static|Static|version|size|Progress1|KESTROVA|'') continue ;; esac
    [ ${#piece} -ge 3 ] || continue
    printf '%s' "$piece" | grep -q '[A-Za-z]' || continue
    checked=$((checked + 1))
    if ! grep -q -F -- "$piece" <<<"$text"; then
      echo "missing from the manual: \"$piece\"   (from \"$literal\")"
      missing=$((missing + 1))
    fi
  done <<<"$pieces"
done < <(literals | sort -u)

echo "$checked texts checked, $missing missing"
[ "$checked" -gt 100 ] || { echo "FAIL: too few texts found in the sources"; exit 1; }
[ "$missing" -eq 0 ] || { echo "FAIL"; exit 1; }
echo "PASS"
