#!/bin/bash
# Builds Tidefold and runs it. With a display: the full-screen saver (any key, click or move ends
# it). Without one: a private Xvfb with a sample desktop, a few seconds of the saver, frames saved
# as PNG and a short animated GIF of them (480x270; TIDEFOLD_GIF=docs/tidefold.gif refreshes the
# README's picture). TIDEFOLD_MONITORS=2 makes that server two monitors, 1280x1024 and 1920x1080 side by
# side, and the GIF 640x216 (TIDEFOLD_GIF=docs/tidefold-monitors.gif). Installs only the run package
# set (tools/deps.sh run). It builds in a folder of its own, build-run (TIDEFOLD_BUILD_DIR picks
# another), so that it leaves build/ to the hand-build and install commands.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh run
build=${TIDEFOLD_BUILD_DIR:-build-run}
mkdir -p "$build"
cmake -S . -B "$build" -DTIDEFOLD_TESTS=OFF -DTIDEFOLD_BENCH=OFF > "$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "${JOBS:-2}" --target tidefold

if [ -n "${DISPLAY:-}" ] && xdpyinfo > /dev/null 2>&1; then
  exec "$build/tidefold" /s
fi

out=${TIDEFOLD_FRAMES:-$PWD/$build/frames}
gif=${TIDEFOLD_GIF:-$out/tidefold.gif}
mkdir -p "$out"
rm -f "$out"/frame-*.png
rm -rf "$out/gif"
mkdir -p "$out/gif"
size=1920x1080 gif_size=480x270
[ "${TIDEFOLD_MONITORS:-1}" = 2 ] && size=3200x1080 gif_size=640x216
bash tools/sample_desktop.sh "$out/desktop.png" "$size"

exec 3< <(Xvfb -displayfd 1 -screen 0 "${size}x24" -noreset -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -u 3 number
export DISPLAY=":$number"
saver_pid=""
trap 'kill $saver_pid $xvfb_pid 2>/dev/null || true' EXIT
# display sets the root background and then reports failure all the same.
/usr/bin/display -window root "$out/desktop.png" || true
if [ "${TIDEFOLD_MONITORS:-1}" = 2 ]; then
  xrandr --setmonitor left 1280/339x1024/271+0+0 screen > /dev/null
  xrandr --setmonitor right 1920/508x1080/286+1280+0 none > /dev/null
fi
"$build/tidefold" /s &
saver_pid=$!
sleep 1.5
# About a second and a half of the animation, grabbed as fast as xwd goes, for the GIF; each
# frame is shown for the average time between grabs.
start=$(date +%s%N)
for i in $(seq -w 1 20); do
  xwd -root -silent -out "$out/gif/$i.xwd"
  sleep 0.03
done
delay=$(( ($(date +%s%N) - start) / 20 / 10000000 ))
[ "$delay" -ge 2 ] || delay=2
for i in 1 2 3 4 5 6; do
  /usr/bin/import -window root "$out/frame-$i.png"
  sleep 0.5
done
kill "$saver_pid" 2>/dev/null || true
/usr/bin/convert -delay "$delay" -loop 0 "$out"/gif/*.xwd -resize "$gif_size" -layers Optimize "$gif"
rm -rf "$out/gif"
echo "No display here: ran the saver on a private X server ($DISPLAY) over a sample desktop."
echo "Desktop picture: $out/desktop.png"
echo "Frames:          $(ls "$out"/frame-*.png | tr '\n' ' ')"
echo "Animation:       $gif ($(( $(stat -c %s "$gif") / 1024 )) KiB)"
