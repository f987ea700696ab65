#!/bin/sh
# Starts Kestrova under Wine on the virtual SCSI bus of this folder (Linux; see the manual,
# chapter "Running Kestrova under Wine").
#
# Wine keeps a placeholder of its own wnaspi32.dll in the prefix's system folders, and Windows'
# DLL search looks there before it looks along PATH. So that the virtual bus of this folder is
# found, the placeholder is removed from the prefix (Wine's own library still loads without it,
# and it reports no SCSI adapters anyway), and Wine is told to prefer a native wnaspi32.dll.
# Kestrova is started from its own folder, one up, where it finds its manual.
#   WINE=wine64 sh run-demo.sh      for a 64-bit build of Kestrova and of the virtual bus
set -eu
demo=$(cd "$(dirname "$0")" && pwd)
wine=${WINE:-wine}
prefix=${WINEPREFIX:-$HOME/.wine}
for folder in system32 syswow64; do
  placeholder=$prefix/drive_c/windows/$folder/wnaspi32.dll
  if [ -f "$placeholder" ]; then
    echo "run-demo: removing Wine's placeholder $placeholder"
    rm -f "$placeholder"
  fi
done
WINEDLLOVERRIDES="wnaspi32=n${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
WINEPATH=$("$wine" winepath.exe -w "$demo" 2>/dev/null | tr -d '\r')
export WINEDLLOVERRIDES WINEPATH
cd "$demo/.."
exec "$wine" kestrova.exe
