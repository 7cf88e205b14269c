#!/usr/bin/env bash
# screenshots.sh BUILD_DIR OUT_DIR: takes the README's pictures of the
# program as a user sees it: the main window, the proxy dialog, the folder
# browse dialog, the crash report viewer after a crash self-test, and a
# listed file opened over the main window. Each is
# a PNG of the window alone, written to OUT_DIR.
#
# The exception manager's own error dialog does not appear in the program:
# its crash report filter writes the report and starts the viewer instead,
# so the viewer is what a user sees after a crash. The dialog is taken from
# a test program that arms the manager without that filter and fails in a
# message handler the same way.
#
# It runs the build's orvex.exe and diagview.exe (built here when missing or
# out of date) in a Wine prefix of its own (BUILD_DIR/screenshot-prefix), so
# the tests' prefix keeps its settings. Wine draws the window frames itself,
# as Windows would, since there is no window manager. Without a display it
# starts its own Xvfb and stops it at the end.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: screenshots.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
HERE="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "$1" && pwd)"
OUT="$(mkdir -p "$2" && cd "$2" && pwd)"
for tool in xdotool import convert Xvfb; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

cmake --build "$BUILD" --target orvex diagview app_tests >/dev/null

export QF_PREFIX_NAME=screenshot-prefix
source "$HERE/scripts/wine-env.sh" "$BUILD"
qf_prefix_ensure

xvfb_pid=""
app_pids=()
cleanup() {
  local pid
  for pid in "${app_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 150 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.05
    done
    export DISPLAY=":$n"
    break
  done
  [ -n "$xvfb_pid" ] || { echo "screenshots: no free display for Xvfb" >&2; exit 1; }
fi

# Wine draws the title bars and borders, with the caption-button glyphs of
# its Marlett font (found only in the prefix's own font folder).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
# The diagnostics program goes where the crash report filter starts it.
common="$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v CommonFilesDir 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')"
[ -n "$common" ] || common='C:\Program Files\Common Files'
target="$(winepath -u "$common" 2>/dev/null | tr -d '\r')"
mkdir -p "$target/Quillfen/Orvex Engine 9.0"
cp "$BUILD/src/tools/diagview/diagview.exe" "$target/Quillfen/Orvex Engine 9.0/diagview.exe"

# The X window of a visible Wine window whose title matches, once it is there.
wait_window() {  # title-regex
  local id i
  for i in $(seq 1 240); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 || true)"
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.5
  done
  echo "screenshots: no window \"$1\" appeared" >&2
  return 1
}

# Lets the window paint, then saves it as a small palette PNG.
shoot() {  # window-id name
  sleep 2
  import -window "$1" "$OUT/$2.tmp.png"
  convert "$OUT/$2.tmp.png" -strip -colors 64 "png8:$OUT/$2.png"
  rm -f "$OUT/$2.tmp.png"
  echo "screenshots: $OUT/$2.png"
}

# Presses keys in a window, as a user at the keyboard would.
press() {  # window-id keys...
  local id="$1"
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
}

# A crash on purpose, in a diagnostic folder emptied first: the report is
# written and the viewer shows it.
diag="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Quillfen/Diag"
rm -rf "$diag"
wine "$BUILD/src/app/orvex.exe" --selftest=raise-in-handler >/dev/null 2>&1 &
app_pids+=($!)
viewer="$(wait_window '^Crash Report Viewer - ')"
shoot "$viewer" crash-report-viewer
press "$viewer" alt+F4

# The main window then lists the report and the error log of that crash.
wine "$BUILD/src/app/orvex.exe" >/dev/null 2>&1 &
app_pids+=($!)
main="$(wait_window '^Orvex Diagnostics$')"
shoot "$main" main-window

# A listed file opened with a double-click on its row, over the window that
# lists it: one picture of both.
eval "$(xdotool getwindowgeometry --shell "$main")"
mx=$X my=$Y mw=$WIDTH mh=$HEIGHT
xdotool mousemove --window "$main" 120 99 click --repeat 2 --delay 100 1
preview="$(wait_window ' - Notepad$')"
xdotool windowsize "$preview" $((mw * 3 / 5)) $((mh / 2))
xdotool windowmove "$preview" $((mx + mw * 2 / 5 - 12)) $((my + mh * 2 / 5))
sleep 2
import -window root -crop "${mw}x${mh}+${mx}+${my}" +repage "$OUT/file-preview.tmp.png"
convert "$OUT/file-preview.tmp.png" -strip -colors 64 "png8:$OUT/file-preview.png"
rm -f "$OUT/file-preview.tmp.png"
echo "screenshots: $OUT/file-preview.png"
press "$preview" alt+F4
sleep 1

press "$main" alt+p
proxy="$(wait_window '^Configure HTTP Proxy$')"
shoot "$proxy" proxy-dialog
press "$proxy" Escape

sleep 1
press "$main" alt+o
folder="$(wait_window '^Add the files of a folder')"
shoot "$folder" folder-dialog
press "$folder" Escape

# The exception manager's error dialog, its details open.
wine "$BUILD/tests/app/app_tests.exe" --child=error-dialog >/dev/null 2>&1 &
app_pids+=($!)
dialog="$(wait_window '^Orvex Diagnostics - Error$')"
press "$dialog" Tab space
shoot "$dialog" error-dialog
press "$dialog" Return
