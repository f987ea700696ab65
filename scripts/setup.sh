#!/usr/bin/env bash
# Installs what building, running and testing Kestrova need on Debian 12, as root.
# Idempotent: when every package is present it installs nothing and returns in a moment.
#
# A package mirror may be half-synced (an index of the wrong size) or miss a package for a while.
# Setup then retries the index download a few times, goes on with the lists apt has, installs
# what it can one by one, and stops only when a package the build or the tests need is still
# missing, naming it.
#
# wine32 (and with it the i386 architecture) is needed only where the kernel runs 32-bit
# programs: setup tries a tiny 32-bit Linux program to find out. Where it does not run, Wine runs
# only 64-bit Windows code and the suite is tested on the 64-bit build (scripts/wine-env.sh).
#
# For the test of these decisions (tests/dist/setup_decisions_test.sh): KESTROVA_SETUP_PROBE32
# replaces the 32-bit probe (a command), KESTROVA_SETUP_PAUSE the pause between index retries.
set -uo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth xdotool x11-utils imagemagick
  python3 fonts-wine
  googletest
  locales
  zip unzip nsis p7zip-full             # make dist and its tests (installer, dist_release)
  pandoc groff ghostscript poppler-utils  # the manual's PDF and its text test
  gddrescue                             # ddrescuelog judges the archiving maps
  dosfstools xorriso   # mkfs.fat and xorriso make the FAT and ISO 9660 images that contents_test recognises
)
pause=${KESTROVA_SETUP_PAUSE:-15}
update_attempts=3

say() { echo "setup: $*"; }

# Does this kernel run 32-bit x86 programs? A 93-byte static ELF32 that only calls exit(0)
# through int 0x80: exec fails with "Exec format error" where 32-bit emulation is off.
runs_32bit_programs() {
  if [ -n "${KESTROVA_SETUP_PROBE32:-}" ]; then
    bash -c "$KESTROVA_SETUP_PROBE32" >/dev/null 2>&1
    return
  fi
  local probe status
  probe=$(mktemp) || return 1
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1
  status=$?
  rm -f "$probe"
  return "$status"
}

is_installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

if [ "${KESTROVA_WINE_ARCH:-}" = win64 ]; then
  say "KESTROVA_WINE_ARCH=win64: wine32 is not needed"
elif runs_32bit_programs; then
  packages+=(wine32:i386)
elif ! is_installed wine32:i386; then
  say "this kernel runs no 32-bit programs: wine32 left out, the suite runs the 64-bit build"
fi

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done

if [ "$(id -u)" -ne 0 ] && [ ${#missing[@]} -gt 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run 'sudo scripts/setup.sh' (or make run/test as root) to install them" >&2
  exit 1
fi

# apt-get update says "E: Failed to fetch ..." for an index it could not get and may still end
# with status 0 ("Some index files failed to download. They have been ignored"): both count.
update_indexes() {
  local attempt log
  log=$(mktemp)
  for attempt in $(seq 1 "$update_attempts"); do
    if apt-get update -qq >"$log" 2>&1 && ! grep -q '^E:' "$log"; then
      rm -f "$log"
      return 0
    fi
    if [ "$attempt" -lt "$update_attempts" ]; then
      say "package index download failed (attempt $attempt of $update_attempts), trying again in ${pause}s"
      sleep "$pause"
    fi
  done
  say "some package indexes still fail to download ($(grep -m1 -o 'Mirror sync in progress?\|Failed to fetch [^ ]*' "$log" || echo 'see apt-get update')); going on with the lists apt has"
  rm -f "$log"
  return 0
}

if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "enabling the i386 architecture (needed by wine32)"
    dpkg --add-architecture i386
  fi
  update_indexes
  install() { apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1; }
  # All at once first; when that fails (one package that cannot be resolved fails the whole
  # request), one by one, so that the rest still gets installed.
  if ! install "${missing[@]}"; then
    failed=()
    for p in "${missing[@]}"; do
      is_installed "$p" || install "$p" || failed+=("$p")
    done
    if [ ${#failed[@]} -gt 0 ]; then
      echo "setup: could not install ${failed[*]} (apt-get install ${failed[*]} says why)." >&2
      if [[ " ${failed[*]} " == *" wine32:i386 "* ]]; then
        echo "setup: the mirror may be mid-sync: try again later, or test the 64-bit build meanwhile:" \
          "KESTROVA_WINE_ARCH=win64 make test" >&2
      else
        echo "setup: the mirror may be mid-sync: try again in a few minutes" \
          "(apt-get update shows which index fails)." >&2
      fi
      exit 1
    fi
  fi
  say "installed ${#missing[@]} package(s)"
fi

# The French interface is tested with LC_ALL=fr_FR.UTF-8; Wine needs the locale to exist.
if ! locale -a 2>/dev/null | grep -qi '^fr_FR\.utf8$'; then
  say "generating locales fr_FR.UTF-8, de_DE.UTF-8, en_US.UTF-8"
  sed -i -E 's/^# *(fr_FR\.UTF-8|de_DE\.UTF-8|en_US\.UTF-8|ja_JP\.UTF-8)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
exit 0
