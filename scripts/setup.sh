#!/usr/bin/env bash
# Installs everything a Debian 12 machine needs to build, run and test the
# program. Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  wine wine32:i386 wine64 g++-mingw-w64-i686-posix cmake make googletest
  xvfb x11-apps xdotool imagemagick python3 python3-multipart tinyproxy llvm
  llvm-14-dev g++
  openssl curl locales procps
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  missing=("${PACKAGES[@]}")
else
  for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# 32-bit programs: where the kernel cannot run i386 code itself (some
# virtual machines), run it through QEMU's user-mode emulator. Wine needs a
# QEMU that honours MAP_FIXED_NOREPLACE (version 8 or later): backports.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if ! /usr/bin/qemu-i386-static --version 2>/dev/null | grep -qE 'version (8|9|[1-9][0-9])\.'; then
    if ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo 'deb http://deb.debian.org/debian bookworm-backports main' | $SUDO tee /etc/apt/sources.list.d/backports.list >/dev/null
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -t bookworm-backports qemu-user-static >/dev/null
  fi
  mountpoint -q /proc/sys/fs/binfmt_misc || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # Register (again) so the kernel holds the current emulator binary open.
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null; fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  /usr/lib/wine/wine --version >/dev/null || { echo "setup: cannot run 32-bit Wine on this machine" >&2; exit 1; }
fi

# Wine derives the ANSI code page from the locale; the tests pin en_US.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; then
  $SUDO sed -i 's/^# *en_US.UTF-8 UTF-8/en_US.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
