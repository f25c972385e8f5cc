#!/bin/bash
# Runs a cross-built Windows program under wine in a private prefix; CTest's emulator for the
# Windows builds. Arguments: the session directory (prefix/ inside it; display, while
# tests/wine/session.sh has a private X server running), the build's architecture (i686 runs
# under wine32, x86_64 under wine64), then the program and its arguments.
set -euo pipefail
session=$1 arch=$2
shift 2
# shellcheck source=../tests/wine/env.sh
. "$(dirname "$0")/../tests/wine/env.sh"
wine_env "$session" "$arch"
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
