#!/bin/bash
# Runs a cross-built Windows program under wine64 in a private prefix; CTest's emulator for the
# x86_64 build. First argument: the session directory (prefix/ inside it; display, while
# tests/wine/session.sh has a private X server running). The rest: the program and its arguments.
set -euo pipefail
session=$1
shift
wine=${TIDEFOLD_WINE64:-/usr/lib/wine/wine64}
export WINEPREFIX=$session/prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -s "$session/display" ]; then
  DISPLAY=$(cat "$session/display")
  export DISPLAY
else
  # Console programs need no display; never draw on somebody else's.
  unset DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$session"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i > "$session/wineboot.log" 2>&1
  ) 9> "$session/prefix.lock"
fi
exec "$wine" "$@"
