#!/usr/bin/env bash
# install-diagview.sh BUILD_DIR DIAGVIEW_EXE: copies the diagnostics program
# into the common program files folder of the build's Wine prefix, under
# "Quillfen\Orvex Engine 9.0", where the crash report filter starts it.
set -euo pipefail
exe="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
source "$(dirname "$0")/wine-env.sh" "$1"
qf_prefix_ensure
# The folder the shell reports for the common files, as the program asks for it.
common="$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v CommonFilesDir 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')"
[ -n "$common" ] || common='C:\Program Files\Common Files'
target="$(winepath -u "$common" 2>/dev/null | tr -d '\r')"
[ -n "$target" ] || { echo "install-diagview: cannot resolve $common" >&2; exit 1; }
mkdir -p "$target/Quillfen/Orvex Engine 9.0"
cp "$exe" "$target/Quillfen/Orvex Engine 9.0/diagview.exe"
echo "diagview.exe installed in $common\\Quillfen\\Orvex Engine 9.0"
