# Sourced by the wine test scripts. `wine_env SESSION_DIR ARCH` sets $wine to the loader for the
# build's architecture (wine32 for i686, wine64 for x86_64) and $wineserver, and exports the
# session's private prefix, of the matching kind (WINEARCH), with wine's messages and its .NET and
# HTML installers turned off.
wine_env() {
  local session=$1 arch=$2
  case $arch in
    i686)
      wine=${TIDEFOLD_WINE32:-/usr/lib/wine/wine}
      export WINEARCH=win32
      ;;
    x86_64)
      wine=${TIDEFOLD_WINE64:-/usr/lib/wine/wine64}
      export WINEARCH=win64
      ;;
    *)
      echo "unknown Windows architecture '$arch' (i686 or x86_64)" >&2
      return 2
      ;;
  esac
  wineserver=${TIDEFOLD_WINESERVER:-/usr/lib/wine/wineserver}
  export WINEPREFIX=$session/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
}
