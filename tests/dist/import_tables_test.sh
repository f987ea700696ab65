#!/usr/bin/env bash
# Checks that Windows binaries start on Windows 2000 SP4 / XP SP3: every function
# they import (by name or by ordinal) must be in LIST_FILE, and the PE header must
# not ask for an OS or subsystem version above 5.0.
#
# usage: import_tables_test.sh LIST_FILE BINARY...
# LIST_FILE: one "DLL!Function" or "DLL!#ordinal" per line, first field only (the
# rest of the line is a note); lines starting with '#' are comments. DLL names are
# compared without regard to case.
set -uo pipefail

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
if [ $# -lt 2 ]; then
  echo "usage: $0 LIST_FILE BINARY..." >&2
  exit 2
fi
list_file=$1
shift

declare -A allowed=()
while read -r entry _; do
  case $entry in '' | '#'*) continue ;; esac
  dll=${entry%%!*}
  allowed["${dll,,}!${entry#*!}"]=1
done <"$list_file"

results=()
status=0
# A function that first shipped with Vista must never be in the list.
if [ -n "${allowed[kernel32.dll!GetTickCount64]+x}" ]; then
  echo "$list_file lists kernel32.dll!GetTickCount64, which Windows XP does not have"
  results+=("FAIL $list_file")
  status=1
fi

for bin in "$@"; do
  name=$(basename "$bin")
  if ! dump=$("$objdump" -p "$bin" 2>&1); then
    echo "$name: cannot read: $dump"
    results+=("FAIL $name")
    status=1
    continue
  fi
  # "dll thunk name" per import; an import by ordinal has the name "<none>" and the
  # ordinal in the low 16 bits of the thunk (hexadecimal, 8 or 16 digits).
  imports=$(awk '
    /^The Import Tables/ { on = 1; next }
    /^[^ \t]/            { on = 0 }
    on && /DLL Name:/    { dll = $3; next }
    on && dll != "" && /^\t[0-9a-f]+\t/ { print dll, $1, $3 }' <<<"$dump")
  versions=$(awk '/^M(aj|in)or(OSystem|Subsystem)Version/ { v[$1] = $2 }
    END { print v["MajorOSystemVersion"], v["MinorOSystemVersion"],
                v["MajorSubsystemVersion"], v["MinorSubsystemVersion"] }' <<<"$dump")
  read -r os_major os_minor sub_major sub_minor <<<"$versions"

  count=0
  bad=()
  while read -r dll thunk func; do
    [ -n "$dll" ] || continue
    [ "$func" = "<none>" ] && func="#$((16#${thunk: -4}))"
    count=$((count + 1))
    [ -n "${allowed[${dll,,}!$func]+x}" ] || bad+=("$dll!$func")
  done <<<"$imports"

  echo "$name: $count imports checked, OS version ${os_major:-?}.${os_minor:-?}," \
       "subsystem version ${sub_major:-?}.${sub_minor:-?}"
  ok=1
  for b in "${bad[@]}"; do echo "  not in $(basename "$list_file"): $b"; ok=0; done
  if [ "$count" -eq 0 ]; then echo "  no import table found"; ok=0; fi
  for v in "${os_major:-}.${os_minor:-}" "${sub_major:-}.${sub_minor:-}"; do
    if ! [[ $v =~ ^[0-9]+\.[0-9]+$ ]] || [ "${v%.*}" -gt 5 ] ||
       { [ "${v%.*}" -eq 5 ] && [ "${v#*.}" -gt 0 ]; }; then
      echo "  PE header asks for Windows version $v (at most 5.0 allowed)"
      ok=0
    fi
  done
  if [ $ok = 1 ]; then results+=("PASS $name"); else results+=("FAIL $name"); status=1; fi
done

printf '%s\n' "${results[@]}"
exit $status
