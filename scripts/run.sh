#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it under Wine: on
# the user's display when there is one, otherwise under Xvfb with a
# screenshot of its window saved to build/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
# A prefix of its own, so that nothing the tests left behind shows up.
export QF_PREFIX_NAME=runprefix
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake --no-warn-unused-cli >/dev/null
cmake --build build -j"$(nproc)" --target orvex diagview
# The diagnostics program goes where the crash report filter starts it.
bash scripts/install-diagview.sh build build/src/tools/diagview/diagview.exe
source scripts/wine-env.sh build
if [ -n "${DISPLAY:-}" ]; then
  qf_session_ensure
  wine build/src/app/orvex.exe "$@"
  exit $?
fi
qf_session_ensure
trap qf_session_stop EXIT
wine build/src/app/orvex.exe "$@" &
app=$!
# The main window, not the application's hidden window of the same title.
win=""
for i in $(seq 1 120); do
  for id in $(xdotool search --name "^Orvex Diagnostics$" 2>/dev/null); do
    w=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    [ "${w:-0}" -gt 100 ] && win=$id
  done
  [ -n "$win" ] && break
  sleep 0.5
done
sleep 2
if [ -n "$win" ]; then import -window "$win" build/screenshot.png; else import -window root build/screenshot.png; fi
echo "No display: the program ran under Xvfb; screenshot saved to $(pwd)/build/screenshot.png"
kill "$app" 2>/dev/null || true
