# Sourced with the build folder as $1: sets up the Wine environment of that
# build and defines qf_session_ensure / qf_session_stop. The tests use the
# prefix "wineprefix"; QF_PREFIX_NAME names another one (the run command's).
QF_BUILD_DIR="$(cd "$1" && pwd)"
QF_PREFIX_NAME="${QF_PREFIX_NAME:-wineprefix}"
export WINEPREFIX="$QF_BUILD_DIR/$QF_PREFIX_NAME"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko install prompts; the program needs neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A fixed locale so the ANSI code page is 1252 whatever the machine has.
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

# Where the kernel cannot run i386 code, QEMU's user-mode emulator runs it,
# and Wine's 32-bit processes preload the fix that gives its fault signals
# their trap numbers (scripts/platform/trapno.c, built by scripts/setup.sh).
# $LIB lets the loader pick the i386 build in 32-bit processes and an empty
# one in 64-bit processes such as wineserver.
QF_PLATFORM_DIR="${QF_PLATFORM_DIR:-/usr/local/lib/orvex-platform}"
QF_EMULATED_I386=""
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then QF_EMULATED_I386=1; fi
QF_TRAPNO_FIX=""
if [ -n "$QF_EMULATED_I386" ] && [ -f "$QF_PLATFORM_DIR/lib/i386-linux-gnu/libtrapno.so" ]; then
  QF_TRAPNO_FIX="$QF_PLATFORM_DIR/\$LIB/libtrapno.so"
  case " ${LD_PRELOAD:-} " in
    *" $QF_TRAPNO_FIX "*) ;;
    *) export LD_PRELOAD="$QF_TRAPNO_FIX${LD_PRELOAD:+ $LD_PRELOAD}" ;;
  esac
fi

QF_DISPLAY_FILE="$QF_BUILD_DIR/.xvfb-display"
QF_XVFB_PID_FILE="$QF_BUILD_DIR/.xvfb-pid"

# No debugger starts on an unhandled exception: Wine's automatic one
# cannot attach under the emulator and would wait forever. With a debugger
# command that cannot start, Wine prints the exception and ends the process.
qf_prefix_ensure() {
  [ -f "$WINEPREFIX/.qf-ready-2" ] && return 0
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.qf-ready-2" ]; then
      rm -rf "$WINEPREFIX"
      DISPLAY= wineboot -i >/dev/null 2>&1 9>&- || true
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
        >/dev/null 2>&1 9>&-
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f \
        >/dev/null 2>&1 9>&-
      wineserver -w 9>&-
      # Tests install what they need into the prefix; mark it as complete.
      # The marker's number goes up when this set-up changes, so that an
      # older prefix is made anew.
      touch "$WINEPREFIX/.qf-ready-2"
    fi
  ) 9>"$WINEPREFIX.lock"
}

qf_xvfb_alive() {
  [ -f "$QF_XVFB_PID_FILE" ] && kill -0 "$(cat "$QF_XVFB_PID_FILE")" 2>/dev/null
}

qf_xvfb_ensure() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${QF_OWN_XVFB:-}" ]; then return 0; fi
  (
    flock 9
    if ! qf_xvfb_alive; then
      local n
      for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 9>&- &
        echo $! >"$QF_XVFB_PID_FILE"
        local i
        for i in $(seq 1 100); do
          [ -e "/tmp/.X11-unix/X$n" ] && break
          sleep 0.05
        done
        echo ":$n" >"$QF_DISPLAY_FILE"
        break
      done
    fi
  ) 9>"$QF_BUILD_DIR/.xvfb.lock"
  export DISPLAY="$(cat "$QF_DISPLAY_FILE")"
  export QF_OWN_XVFB=1
}

qf_session_ensure() {
  qf_prefix_ensure
  qf_xvfb_ensure
  (
    flock 9
    # A persistent server keeps process start-up short. When it is new, start
    # Wine's background services now, detached from our output: a test whose
    # program started them would otherwise hand them its stdout pipe, and the
    # test runner would wait for them to close it.
    if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
      wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
    fi
  ) 9>"$WINEPREFIX.server.lock"
}

qf_session_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if qf_xvfb_alive; then
    kill "$(cat "$QF_XVFB_PID_FILE")" 2>/dev/null || true
  fi
  rm -f "$QF_XVFB_PID_FILE" "$QF_DISPLAY_FILE"
}
