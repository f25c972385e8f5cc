#!/bin/bash
# Makes the README's still pictures on a private Xvfb over the sample desktop:
#   docs/config-dialog.png   the configuration dialog as it opens with the default settings
#   docs/lighting.png        the same moment of the saver without and with the lighting pass
# Usage: tools/doc_pictures.sh BUILD_DIR [OUT_DIR]   (OUT_DIR defaults to docs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/doc_pictures.sh BUILD_DIR [OUT_DIR]}
out=${2:-docs}
mkdir -p "$out"
exe=$build/tidefold
work=$(mktemp -d)
size=1280x720

exec 3< <(Xvfb -displayfd 1 -screen 0 "${size}x24" -noreset -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -u 3 number
export DISPLAY=":$number"
pids=""
trap 'kill $pids $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT

bash tools/sample_desktop.sh "$work/desktop.png" "$size"
/usr/bin/display -window root "$work/desktop.png" || true

# Private settings, so the pictures show the defaults whatever this user has chosen.
export XDG_CONFIG_HOME=$work/config
store=$XDG_CONFIG_HOME/tidefold/registry.ini
write_flags() {
  mkdir -p "$(dirname "$store")"
  printf '[HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver]\nflags=dword:%08x\n' "$1" > "$store"
}

# The dialog: wait for its window, then photograph that window alone.
"$exe" /c &
pids="$!"
for _ in $(seq 50); do
  id=$(xdotool search --name '^Configure\.\.\.$' 2>/dev/null | head -n 1 || true)
  [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "the dialog did not appear" >&2; exit 1; }
sleep 0.5
/usr/bin/import -window "$id" "$out/config-dialog.png"
kill $pids 2>/dev/null || true
wait $pids 2>/dev/null || true

# The saver with and without the lighting pass. Both runs draw the same drops in the same order,
# so the frame after the same wait is close to the same moment.
shot() {
  write_flags "$1"
  "$exe" /s &
  pids="$!"
  sleep 2.5
  /usr/bin/import -window root "$2"
  kill $pids 2>/dev/null || true
  wait $pids 2>/dev/null || true
}
shot 0x16 "$work/desktop-pass.png"   # the defaults: desktop pass, high quality, double buffer
shot 0x17 "$work/both-passes.png"    # the same with "Lighten and darken ripples"
/usr/bin/convert "$work/desktop-pass.png" "$work/both-passes.png" -resize 640x360 +append "$out/lighting.png"
echo "Wrote $out/config-dialog.png and $out/lighting.png"
