#!/bin/bash
# Lists the resources linked into a cross-built saver and checks that everything the program and
# Windows' Screen Saver settings look for is there: the lighting map, both dialog templates, the
# icon, the version block with the display name, string 1 and the manifest.
# Arguments: ARCH (i686 or x86_64) and the .scr.
set -uo pipefail
arch=$1 scr=$2
if [ ! -f "$scr" ]; then echo "missing: $scr"; exit 1; fi
rc=$("$arch-w64-mingw32-windres" -i "$scr" -O rc 2>&1) || { echo "$rc"; echo "$scr: resources unreadable"; exit 1; }

status=0
expect() {
  local what=$1 pattern=$2
  if grep -qF -- "$pattern" <<< "$rc"; then
    echo "ok   $what"
  else
    echo "FAIL $what: no line containing '$pattern'"
    status=1
  fi
}
expect "lighting map bitmap" '"REFMAP" 2 /* RT_BITMAP */'
expect "configuration dialog" '"CONFIGDLG" DIALOGEX 0, 0, 240, 181'
expect "About dialog" '"ABOUTDLG" DIALOGEX 0, 0, 177, 95'
expect "icon group" '14 /* RT_GROUP_ICON */'
expect "version block" '1 VERSIONINFO'
expect "display name in the version block" 'VALUE "FileDescription", "Tidefold Screen Saver"'
expect "display name as string 1" '1, "Tidefold Screen Saver"'
expect "manifest, id 1" '1 24 /* RT_MANIFEST */'
expect "manifest asks for common controls 6" 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
expect "manifest declares per-monitor DPI awareness" '>true/pm</dpiAware>'
expect "manifest declares per-monitor v2 DPI awareness" '>PerMonitorV2,PerMonitor</dpiAwareness>'
# The bitmap must be the whole 256x256 24-bit picture, not a stand-in.
bytes=$("$arch-w64-mingw32-objdump" -p "$scr" | awk '/name: .*REFMAP/ {f=1} f && /Leaf:/ {sub(/.*Size: /, ""); sub(/,.*/, ""); print; exit}')
if [ "$((bytes))" -ne $((40 + 256 * 256 * 3)) ]; then
  echo "FAIL lighting map size: ${bytes:-none} bytes, expected a 256x256 24-bit bitmap"
  status=1
fi
[ $status -eq 0 ] && echo "$scr: all resources present"
exit $status
