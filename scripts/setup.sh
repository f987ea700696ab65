#!/usr/bin/env bash
# Installs what building, running and testing Kestrova need on Debian 12, as root.
# Idempotent: when every package is present it installs nothing and returns in a moment.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth xdotool x11-utils imagemagick
  python3 fonts-wine
  googletest
  locales
  zip unzip nsis p7zip-full
  pandoc groff ghostscript poppler-utils
  gddrescue
  dosfstools xorriso   # mkfs.fat and xorriso make the FAT and ISO 9660 images that contents_test recognises
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ "$(id -u)" -ne 0 ] && [ ${#missing[@]} -gt 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run 'sudo scripts/setup.sh' (or make run/test as root) to install them" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: enabling the i386 architecture (needed by wine32)"
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "setup: installed ${#missing[@]} package(s)"
fi

# The French interface is tested with LC_ALL=fr_FR.UTF-8; Wine needs the locale to exist.
if ! locale -a 2>/dev/null | grep -qi '^fr_FR\.utf8$'; then
  echo "setup: generating locales fr_FR.UTF-8, de_DE.UTF-8, en_US.UTF-8"
  sed -i -E 's/^# *(fr_FR\.UTF-8|de_DE\.UTF-8|en_US\.UTF-8|ja_JP\.UTF-8)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
