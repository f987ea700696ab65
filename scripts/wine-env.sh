# Sourced by the build and Wine scripts: which Windows build runs here, and the project's
# own Wine prefix for it.
#
# Kestrova is a 32-bit Windows program, built in build/. Wine runs 32-bit Windows code only
# where the Linux kernel runs 32-bit programs; some hosts (and virtual machines) switch that
# off. There the same sources are also built for 64-bit Windows, in build/win64/, and that
# build is the one run and tested under Wine. KESTROVA_WINE_ARCH=win32|win64 overrides the choice.
KESTROVA_ROOT=${KESTROVA_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
KESTROVA_BUILD=${KESTROVA_BUILD:-$KESTROVA_ROOT/build}
if [ -z "${KESTROVA_WINE_ARCH:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    KESTROVA_WINE_ARCH=win32
  else
    KESTROVA_WINE_ARCH=win64
  fi
fi
if [ "$KESTROVA_WINE_ARCH" = win32 ]; then
  KESTROVA_RUN_BUILD=$KESTROVA_BUILD
  KESTROVA_WINE_LOADER=/usr/lib/wine/wine
else
  KESTROVA_RUN_BUILD=$KESTROVA_BUILD/win64
  KESTROVA_WINE_LOADER=/usr/lib/wine/wine64
fi
# The binaries that ship (kestrova.exe, the help launcher, the manual) come from build/release/,
# built with the runtime that starts on Windows 2000 and XP. Where Wine runs 32-bit code, they
# are the program that `make run` starts and the journeys drive; elsewhere the 64-bit build's.
KESTROVA_RELEASE_BUILD=$KESTROVA_BUILD/release
if [ "$KESTROVA_WINE_ARCH" = win32 ]; then
  KESTROVA_PROGRAM_BIN=$KESTROVA_RELEASE_BUILD/bin
else
  KESTROVA_PROGRAM_BIN=$KESTROVA_RUN_BUILD/bin
fi
export KESTROVA_ROOT KESTROVA_BUILD KESTROVA_WINE_ARCH KESTROVA_RUN_BUILD KESTROVA_WINE_LOADER
export KESTROVA_RELEASE_BUILD KESTROVA_PROGRAM_BIN
export WINELOADER=$KESTROVA_WINE_LOADER
export WINEARCH=$KESTROVA_WINE_ARCH
export WINEPREFIX=${WINEPREFIX:-$KESTROVA_RUN_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts; the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
KESTROVA_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$KESTROVA_WINESERVER" ] || KESTROVA_WINESERVER=/usr/lib/wine/wineserver32
export KESTROVA_WINESERVER WINESERVER=$KESTROVA_WINESERVER

kestrova_wine() { "$KESTROVA_WINE_LOADER" "$@"; }
kestrova_wineserver() { "$KESTROVA_WINESERVER" "$@"; }

# A Windows path for a Unix one (Wine's drive Z: is the Unix root).
kestrova_winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# Creates the prefix once. Several test programs may start at the same moment: one creates it.
kestrova_wine_prefix() {
  mkdir -p "$KESTROVA_RUN_BUILD"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: creating the Wine prefix $WINEPREFIX (once)" >&2
      kestrova_wine wineboot --init >/dev/null 2>&1 || true
      kestrova_wineserver -w
    fi
    # Wine's placeholder for its builtin wnaspi32.dll in system32 comes before the Wine PATH in
    # the DLL search, so with wnaspi32=n the virtual bus on the PATH would never be found. Without
    # the placeholder the search reaches the PATH, and wnaspi32=b still loads Wine's own library.
    rm -f "$WINEPREFIX/drive_c/windows/system32/wnaspi32.dll" "$WINEPREFIX/drive_c/windows/syswow64/wnaspi32.dll"
    # This Wine does not find its own fonts in its data folder: without them "MS Sans Serif"
    # falls back to a wider font (labels get clipped) and the caption buttons, drawn with
    # Marlett, show letters. Copied into the prefix's Fonts folder, they are used.
    local fonts_dir="$WINEPREFIX/drive_c/windows/Fonts" font
    if [ -d /usr/share/wine/fonts ] && [ -d "$fonts_dir" ]; then
      for font in /usr/share/wine/fonts/*; do
        [ -e "$fonts_dir/${font##*/}" ] || cp "$font" "$fonts_dir/"
      done
    fi
  ) 9>"$KESTROVA_RUN_BUILD/.wineprefix.lock"
}
