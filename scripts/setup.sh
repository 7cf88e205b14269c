#!/usr/bin/env bash
# Installs everything a Debian 12 machine needs to build, run and test the
# program. Idempotent: when everything is present it only checks and returns.
set -euo pipefail
cd "$(dirname "$0")/.."

# llvm (obj2yaml) and lldb-14 read the crash reporter's minidumps in the tests;
# clang-14 and its libFuzzer and sanitizer runtimes build the host fuzz check;
# libz-mingw-w64-dev is zlib for the cross compiler (large logs go deflated).
PACKAGES=(
  wine wine32:i386 wine64 g++-mingw-w64-i686-posix libz-mingw-w64-dev cmake make googletest
  xvfb x11-apps xdotool imagemagick python3 python3-multipart tinyproxy llvm
  llvm-14-dev lldb-14 g++ gcc-multilib clang-14 libclang-rt-14-dev
  openssl curl locales procps
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
CODENAME="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"

# A mirror that is half-way through a sync serves an index that does not
# match its release file; apt then keeps the old list and says so. That is
# no reason to stop: the install below says whether what it needs is there.
apt_update() {
  $SUDO apt-get update -qq || echo "setup: some package lists could not be refreshed; going on with the ones at hand" >&2
}

# When one architecture's security index could not be read, the amd64 and
# i386 halves of a multi-arch library disagree on the newest version. The
# release's own suite has both at one version: install from it then.
apt_install() {
  $SUDO apt-get install -y -qq "$@" >/dev/null && return 0
  echo "setup: retrying with the versions of the $CODENAME suite" >&2
  $SUDO apt-get install -y -qq -t "$CODENAME" "$@" >/dev/null
}

# The archive this machine is configured with, for the suite $1: one-line
# sources ("deb [options] URI suite components") and deb822 paragraphs.
configured_archive() {
  local suite="$1" f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -E -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" |
      awk -v s="$suite" '$1 == "deb" && $3 == s { print $2; exit }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -e '/^[[:space:]]*#/d' -e 's/#.*//' "$f" | awk -v s="$suite" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; uris = ""; suites = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          split($i, kv, ":"); key = tolower(kv[1]); val = substr($i, length(kv[1]) + 2)
          gsub(/^[ \t]+|[ \t]+$/, "", val)
          if (key == "types") types = val; else if (key == "uris") uris = val
          else if (key == "suites") suites = val; else if (key == "enabled") enabled = tolower(val)
        }
        if (enabled == "no" || (" " types " ") !~ / deb /) next
        if ((" " suites " ") ~ (" " s " ")) { split(uris, u, " "); print u[1]; exit }
      }'
  done | head -n 1
}

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
  apt_update
  apt_install "${missing[@]}"
fi

# 32-bit programs: where the kernel cannot run i386 code itself (some
# virtual machines), run it through QEMU's user-mode emulator. Wine needs a
# QEMU that honours MAP_FIXED_NOREPLACE (version 8 or later): backports,
# from the same archive the machine already uses.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if ! /usr/bin/qemu-i386-static --version 2>/dev/null | grep -qE 'version (8|9|[1-9][0-9])\.'; then
    if ! grep -rqs -- "$CODENAME-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      archive="$(configured_archive "$CODENAME")"
      [ -n "$archive" ] || { echo "setup: no Debian source for $CODENAME is configured; cannot add $CODENAME-backports" >&2; exit 1; }
      echo "deb $archive $CODENAME-backports main" | $SUDO tee /etc/apt/sources.list.d/backports.list >/dev/null
    fi
    apt_update
    $SUDO apt-get install -y -qq -t "$CODENAME-backports" qemu-user-static >/dev/null
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

# Under QEMU's user-mode emulator, Wine's 32-bit processes preload a fix
# that gives fault signals the trap number the emulator leaves out (see
# scripts/platform/trapno.c and scripts/wine-env.sh). Built once per version
# of its source.
PLATFORM_DIR=/usr/local/lib/orvex-platform
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  fix_src=scripts/platform/trapno.c
  fix_sum="$(sha256sum "$fix_src" | cut -d' ' -f1)"
  if [ "$(cat "$PLATFORM_DIR/trapno.sha256" 2>/dev/null)" != "$fix_sum" ]; then
    tmp="$(mktemp -d)"
    gcc -m32 -O2 -fPIC -shared -Wall -Werror -o "$tmp/i386.so" "$fix_src" -ldl
    gcc -O2 -fPIC -shared -o "$tmp/x86_64.so" -x c /dev/null
    $SUDO install -D -m 0644 "$tmp/i386.so" "$PLATFORM_DIR/lib/i386-linux-gnu/libtrapno.so"
    $SUDO install -D -m 0644 "$tmp/x86_64.so" "$PLATFORM_DIR/lib/x86_64-linux-gnu/libtrapno.so"
    echo "$fix_sum" | $SUDO tee "$PLATFORM_DIR/trapno.sha256" >/dev/null
    rm -rf "$tmp"
  fi
fi

# Last, the platform check, in the prefix of the command that asked for the
# set-up: a platform that reports faults wrongly stops here, not in 20 suites.
mkdir -p build/platform
i686-w64-mingw32-g++-posix -std=gnu++20 -O2 -static -Isrc -o build/platform/platform_check.exe \
  scripts/platform/platform_check.cpp src/env/OwnMemory.cpp
out="$(bash scripts/platform-check build build/platform/platform_check.exe 2>&1)" || { printf '%s\n' "$out" >&2; exit 1; }
echo "setup: the platform check passed"
