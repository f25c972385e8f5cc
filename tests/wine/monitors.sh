#!/bin/bash
# The Windows saver on two monitors under wine. Xorg with the dummy driver gives wine two real
# RandR outputs, DUMMY0 1280x1024 at +0+0 and DUMMY1 1920x1080 at +1280+0, which wine reports as
# two monitors (it sees neither Xvfb's RandR monitors nor Xinerama screens); DUMMY1 is also switched
# off and on again while the saver runs. The script starts its own server (Xorg needs root) and
# wine prefix, and ends both.
#   monitors.sh SCR SHOTS_DIR
# The loader follows the .scr: wine64 for PE32+, wine for PE32 (TIDEFOLD_WINE64 / TIDEFOLD_WINE32
# override them). Exit status 0 when every check passed, 77 when this machine cannot run the test.
set -uo pipefail
# The pictures go to a folder of their own: the other wine checks, which may run at the same time,
# paint and read a desktop picture of another size in SHOTS_DIR.
scr=$1 shots=$2/monitors
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=checks.sh
. "$here/checks.sh"
if file -b "$scr" | grep -q 'PE32+'; then
  wine=${TIDEFOLD_WINE64:-/usr/lib/wine/wine64}
else
  wine=${TIDEFOLD_WINE32:-/usr/lib/wine/wine}
fi
wineserver=${TIDEFOLD_WINESERVER:-/usr/lib/wine/wineserver}

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "Xorg with the dummy driver needs root"
[ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] || skip "no dummy video driver (xserver-xorg-video-dummy)"
"$wine" --version > /dev/null 2>&1 || skip "$wine cannot run on this machine"

mkdir -p "$shots"
work=$(mktemp -d /tmp/tidefold-monitors-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xorg_pid=""
finish() {
  "$wineserver" -k > /dev/null 2>&1
  [ -n "$xorg_pid" ] && kill "$xorg_pid" 2> /dev/null && wait "$xorg_pid" 2> /dev/null
  rm -rf "$work"
}
trap finish EXIT

cat > "$work/xorg.conf" <<'CONF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 3200 1080
  EndSubSection
EndSection
CONF
mkdir -p "$work/conf.d"
Xorg -displayfd 3 -config "$work/xorg.conf" -configdir "$work/conf.d" -noreset -nolisten tcp -novtswitch -sharevts \
  -logfile "$work/xorg.log" 3> "$work/displayfd" < /dev/null > /dev/null 2>&1 &
xorg_pid=$!
for _ in $(seq 100); do
  [ -s "$work/displayfd" ] && break
  sleep 0.1
done
[ -s "$work/displayfd" ] || { tail -20 "$work/xorg.log"; echo "FAIL Xorg did not start"; exit 1; }
export DISPLAY=":$(tr -dc 0-9 < "$work/displayfd")"
xrandr --output DUMMY0 --mode 1280x1024 --pos 0x0 --primary &&
  xrandr --addmode DUMMY1 1920x1080 &&
  xrandr --output DUMMY1 --mode 1920x1080 --pos 1280x0 &&
  xrandr --fb 3200x1080 || { echo "FAIL the two outputs could not be set up"; exit 1; }
xrandr --listmonitors

"$wineserver" -p < /dev/null > /dev/null 2>&1
"$wine" wineboot -i > "$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1


# The mapped saver windows as WIDTHxHEIGHT+X+Y, left to right.
saver_windows() {
  local w
  for w in $(xdotool search --onlyvisible --name '^screensaver$' 2> /dev/null); do
    xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                             /Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h "+" x "+" y}'
  done | sort -t+ -k2 -n | tr '\n' ' '
}
# Processes of this prefix still running the saver.
saver_processes() {
  local p
  for p in $(pgrep -f 'tidefold.*\.scr'); do
    { tr '\0' '\n' < "/proc/$p/environ"; } 2> /dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
}
# Starts the saver with the pointer at X Y and waits for a window on each monitor.
start_saver() {
  xdotool mousemove "$1" "$2"
  "$wine" "$scr" /s &
  saver=$!
  for _ in $(seq 300); do
    [ "$(wc -w <<< "$(saver_windows)")" -ge 2 ] && break
    sleep 0.1
  done
  sleep 2
}
expect_all_ended() {
  wait_exit $saver 20
  expect "$1 ends the saver with status 0 (got $status)" test "$status" -eq 0
  sleep 1
  expect "no saver window is left ($(saver_windows))" test -z "$(saver_windows)"
  expect "no saver process is left ($(saver_processes | tr '\n' ' '))" test -z "$(saver_processes)"
}

bash "$root/tools/sample_desktop.sh" "$shots/desktop.png" 3200x1080
/usr/bin/display -window root "$shots/desktop.png"

echo "== a key ends both monitors' savers"
start_saver 100 100
windows=$(saver_windows)
expect "one saver window on each monitor ($windows)" test "$windows" = "1280x1024+0+0 1920x1080+1280+0 "
/usr/bin/import -window root "$shots/monitors-1.png"
sleep 0.7
/usr/bin/import -window root "$shots/monitors-2.png"
for area in 1280x1024+0+0 1920x1080+1280+0; do
  for name in monitors-1 monitors-2 desktop; do
    "$convert" "$shots/$name.png" -crop "$area" +repage "$work/$name-$area.png"
  done
  expect_rippling "monitor $area" "$work/monitors-1-$area.png" "$work/monitors-2-$area.png" "$work/desktop-$area.png"
done
xdotool key space
expect_all_ended "a key"

echo "== a move over the second monitor ends both"
start_saver 2000 500
expect "one saver window on each monitor" test "$(wc -w <<< "$(saver_windows)")" -eq 2
xdotool mousemove 2004 506
sleep 1.5
expect "a move of 10 pixels keeps the saver running" kill -0 $saver
xdotool mousemove 2005 506
expect_all_ended "a move of 11 pixels"

echo "== a monitor switched off and on again"
# Waits up to 10 s for the saver windows to be exactly $1.
wait_windows() {
  for _ in $(seq 100); do
    [ "$(saver_windows)" = "$1" ] && return 0
    sleep 0.1
  done
  echo "  saver windows: $(saver_windows)"
  return 1
}
start_saver 100 100
xrandr --output DUMMY1 --off
expect "the monitor left keeps its saver, the one gone has none" wait_windows "1280x1024+0+0 "
sleep 1
expect "one saver process is left ($(saver_processes | tr '\n' ' '))" test "$(saver_processes | wc -l)" -eq 1
xrandr --output DUMMY1 --mode 1920x1080 --pos 1280x0 && xrandr --fb 3200x1080
expect "the monitor back gets a saver again" wait_windows "1280x1024+0+0 1920x1080+1280+0 "
sleep 2
/usr/bin/import -window root "$shots/back-1.png"
sleep 0.7
/usr/bin/import -window root "$shots/back-2.png"
for name in back-1 back-2 desktop; do
  "$convert" "$shots/$name.png" -crop 1920x1080+1280+0 +repage "$work/$name-right.png"
done
expect_rippling "the monitor back" "$work/back-1-right.png" "$work/back-2-right.png" "$work/desktop-right.png"
xdotool key space
expect_all_ended "a key after the change"

[ $failures -eq 0 ] && echo "two monitors: passed" || echo "two monitors: $failures failed"
exit $((failures > 0))
