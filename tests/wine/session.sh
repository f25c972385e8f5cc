#!/bin/bash
# Starts or stops the wine test session of a Windows build: a private Xvfb (no window manager),
# a private wine prefix of the build's kind (32-bit for i686, 64-bit for x86_64) and a persistent
# wineserver, so that the tests run one after another without paying for wine's start-up each time.
#   session.sh start SESSION_DIR ARCH   creates the prefix on first use; writes SESSION_DIR/display
#   session.sh stop SESSION_DIR ARCH    ends the wineserver and the X server
set -euo pipefail
action=$1 session=$2 arch=$3
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh"
wine_env "$session" "$arch"
size=${TIDEFOLD_WINE_SCREEN:-1024x768}

# Kills the X server this script started, by the id it recorded, and only if it still is one.
stop_xvfb() {
  if [ -f "$session/xvfb.pid" ]; then
    local pid
    pid=$(cat "$session/xvfb.pid")
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q '^Xvfb '; then
      kill "$pid" 2> /dev/null || true
    fi
    rm -f "$session/xvfb.pid"
  fi
  rm -f "$session/display"
}

stop_wine() {
  if [ -d "$WINEPREFIX" ]; then
    "$wineserver" -k > /dev/null 2>&1 || true
    "$wineserver" -w > /dev/null 2>&1 || true
  fi
}

case $action in
  start)
    mkdir -p "$session"
    stop_wine
    stop_xvfb
    # Xvfb writes its display number to the file once it accepts clients.
    rm -f "$session/displayfd"
    setsid Xvfb -displayfd 3 -screen 0 "${size}x24" -noreset -nolisten tcp \
      3> "$session/displayfd" < /dev/null > "$session/xvfb.log" 2>&1 &
    echo $! > "$session/xvfb.pid"
    for _ in $(seq 100); do
      [ -s "$session/displayfd" ] && break
      sleep 0.1
    done
    if [ ! -s "$session/displayfd" ]; then
      echo "Xvfb did not start:"; cat "$session/xvfb.log"; stop_xvfb; exit 1
    fi
    export DISPLAY=":$(tr -dc 0-9 < "$session/displayfd")"
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p < /dev/null > /dev/null 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "Creating the wine prefix $WINEPREFIX"
      "$wine" wineboot -i > "$session/wineboot.log" 2>&1 || { cat "$session/wineboot.log"; exit 1; }
    fi
    # Without a window manager, wine draws captions and frames itself, as Windows would.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1
    echo "$DISPLAY" > "$session/display"
    echo "wine session on $DISPLAY, prefix $WINEPREFIX"
    ;;
  stop)
    stop_wine
    stop_xvfb
    ;;
  *)
    echo "usage: $0 start|stop SESSION_DIR i686|x86_64" >&2
    exit 2
    ;;
esac
