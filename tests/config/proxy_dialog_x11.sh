#!/usr/bin/env bash
# Drives the proxy dialog through the X server, as a user's keyboard would,
# and keeps a picture of it in the build folder (proxy-dialog.png).
# Usage: proxy_dialog_x11.sh BUILD_DIR PROBE_EXE
set -euo pipefail
build="$1"
probe="$2"
source "$(dirname "$0")/../../scripts/wine-env.sh" "$build"
qf_session_ensure
out="$build/tests/config/proxy_dialog_x11.out"

# Starts the probe with "$@", waits for its dialog and gives it the X focus;
# sets $pid and $wid.
open_dialog() {
  wine "$probe" "$@" >"$out" 2>&1 &
  pid=$!
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name '^Configure HTTP Proxy$' | head -n 1)
  [ -n "$wid" ] || { echo "the dialog did not appear"; kill "$pid"; exit 1; }
  xdotool windowfocus --sync "$wid"
  sleep 0.5
}

expect_output() {
  wait "$pid"
  if ! grep -qF "$1" "$out"; then
    echo "expected: $1"
    echo "got:      $(cat "$out")"
    exit 1
  fi
}

wine reg delete 'HKCU\Software\Quillfen\Orvex Engine' /f >/dev/null 2>&1 || true

# Shown with stored values; Alt+P selects the port, typing replaces it, Enter saves.
open_dialog --fill proxy.example.net 8080 alice s3cret
xwd -silent -id "$wid" | convert xwd:- "$build/proxy-dialog.png"
xdotool key alt+p
xdotool type --delay 50 3128
xdotool key Return
expect_output "result=1 server=[proxy.example.net] port=3128 user=[alice] password=[s3cret]"
echo "Enter saved; picture in $build/proxy-dialog.png"

# Typing, then Escape: nothing is saved.
open_dialog
xdotool type --delay 50 changed
xdotool key Escape
expect_output "result=2 server=[proxy.example.net] port=3128 user=[alice] password=[s3cret]"
echo "Escape discarded"

wine reg delete 'HKCU\Software\Quillfen\Orvex Engine' /f >/dev/null 2>&1 || true
