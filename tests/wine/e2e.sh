#!/bin/bash
# End-to-end checks of the Windows saver under wine (wine32 for the i686 build, wine64 for the
# x86_64 one), inside the session that session.sh started (private Xvfb without a window manager,
# private prefix). One check per run:
#   e2e.sh CHECK SESSION_DIR ARCH SCR PROBE_EXE SHOTS_DIR
# Screenshots go to SHOTS_DIR for a person to look at.
set -uo pipefail
check=$1 session=$2 arch=$3 scr=$4 probe=$5 shots=$6
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
convert=/usr/bin/convert
key='HKCU\Software\Brindlewick Productions\Tidefold Screen Saver'

# shellcheck source=env.sh
. "$here/env.sh"
# shellcheck source=checks.sh
. "$here/checks.sh"
wine_env "$session" "$arch" || exit 2
if [ ! -s "$session/display" ]; then
  echo "no wine session running in $session (tests/wine/session.sh start)"
  exit 1
fi
DISPLAY=$(cat "$session/display")
export DISPLAY
mkdir -p "$shots"


shot() { /usr/bin/import -window root "$shots/$1.png"; }

# Paints a known picture on the X root window: wine's screen capture reads the real root.
paint_desktop() {
  local size
  size=$(xdpyinfo | awk '/dimensions:/ {print $2}')
  bash "$root/tools/sample_desktop.sh" "$shots/desktop.png" "$size"
  /usr/bin/display -window root "$shots/desktop.png"
}

# Clears the saved settings.
forget_settings() { "$wine" reg delete 'HKCU\Software\Brindlewick Productions' /f > /dev/null 2>&1; }

# Prints the value NAME of the settings key as wine's reg shows it (0x16 and so on).
setting() { "$wine" reg query "$key" /v "$1" 2> /dev/null | tr -d '\r' | awk -v n="$1" '$1 == n && $2 == "REG_DWORD" {print $3}'; }

# Runs the probe's locate command for the dialog TITLE and control ids; sets pos[ID] to the
# control's centre on the screen and text[ID] to its text.
declare -A pos text
locate() {
  local title=$1 out word id x y rest
  shift
  out=$("$wine" "$probe" locate "$title" "$@" | tr -d '\r') || { echo "$out"; return 1; }
  pos=() text=()
  while read -r word id x y rest; do
    [ "$word" = control ] && pos[$id]="$x $y" text[$id]=$rest
  done <<< "$out"
}

# Clicks at screen position X Y. (mousemove --sync would wait for ever when the pointer is
# there already.)
click() {
  xdotool mousemove "$1" "$2" sleep 0.1 click 1
  sleep 0.3
}

case $check in
  PasswordModeExitsAtOnce)
    "$wine" "$scr" /a &
    wait_exit $! 30
    expect "/a ends by itself with status 0 (got $status)" test "$status" -eq 0
    expect "/a leaves no saver window behind" test -z "$(xdotool search --name '^screensaver$' 2> /dev/null)"
    ;;

  FullScreenRipplesTheDesktopAndClosesOnKey)
    paint_desktop
    "$wine" "$scr" /s &
    saver=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^screensaver$' | head -1)
    expect "the saver window appears" test -n "$wid"
    if [ -n "$wid" ]; then
      read -r w h < <(xdotool getwindowgeometry "$wid" | awk '/Geometry:/ {split($2, s, "x"); print s[1], s[2]}')
      size=$(xdpyinfo | awk '/dimensions:/ {print $2}')
      expect "the saver window covers the screen (${w}x${h} on $size)" test "${w}x${h}" = "$size"
      sleep 2
      shot saver-1
      sleep 0.7
      shot saver-2
      expect_rippling "the screen" "$shots/saver-1.png" "$shots/saver-2.png" "$shots/desktop.png"
      # Typed through XTEST to the focused window: the saver closes on the press, and a key
      # sent to its window by id would leave xdotool failing before the release, the key held.
      xdotool windowfocus --sync "$wid" 2> /dev/null
      sleep 0.3
      expect "the saver still runs before the key" kill -0 $saver
      xdotool key space
    fi
    wait_exit $saver 20
    expect "a key ends the saver with status 0 (got $status)" test "$status" -eq 0
    ;;

  PreviewDrawsInAnotherProgramsWindowAndEndsWithIt)
    paint_desktop
    winpath() { echo "Z:${1//\//\\}"; }
    rm -f "$shots/preview.go" "$shots/preview.bmp" "$shots/preview.log"
    # On Windows the probe's own capture of its window must show the preview; wine 8 keeps GL
    # child windows off screen, so here the saver's GL window is read from X instead.
    screen_check=()
    [ "${TIDEFOLD_WINE_PREVIEW_ON_SCREEN:-0}" = 1 ] && screen_check=(--screen-check)
    "$wine" "$probe" preview "$scr" "$(winpath "$shots/preview.bmp")" "$(winpath "$shots/preview.go")" \
      "${screen_check[@]}" > "$shots/preview.log" 2>&1 &
    host=$!
    for ((i = 0; i < 400; i++)); do
      grep -q 'preview running' "$shots/preview.log" && break
      kill -0 $host 2> /dev/null || break
      sleep 0.1
    done
    # The saver's GL window: the one unnamed X window of the preview's size.
    gl=$(xwininfo -root -tree | awk '/has no name/ && / 320x240\+/ {print $1}')
    expect "the saver has one GL window of the preview's size (found: ${gl:-none})" test "$(wc -w <<< "$gl")" -eq 1
    if [ "$(wc -w <<< "$gl")" -eq 1 ]; then
      /usr/bin/import -window "$gl" "$shots/preview-1.png"
      sleep 0.7
      /usr/bin/import -window "$gl" "$shots/preview-2.png"
      # The grid spans the whole screen and the projection the window: the preview shows the
      # desktop's bottom-left corner at one pixel a unit.
      for corner in SouthWest NorthWest SouthEast; do
        "$convert" "$shots/desktop.png" -gravity $corner -crop 320x240+0+0 +repage "$shots/desktop-$corner.png"
      done
      m=$(lit "$shots/preview-2.png")
      d=$(difference "$shots/preview-2.png" "$shots/desktop-SouthWest.png")
      o=$(difference "$shots/preview-2.png" "$shots/desktop-NorthWest.png")
      o2=$(difference "$shots/preview-2.png" "$shots/desktop-SouthEast.png")
      below "$o2" "$o" && o=$o2
      c=$(changed "$shots/preview-1.png" "$shots/preview-2.png")
      echo "preview lit $m, difference from the desktop's bottom-left corner $d (other corners: $o or more)," \
           "changed between frames $c"
      expect "the preview is not black" above "$m" 0.5
      expect "the preview shows the bottom-left corner of the desktop" below "$d" "$(awk -v o="$o" 'BEGIN { print o / 2 }')"
      expect "the preview moves between frames" above "$c" 0.01
    fi
    touch "$shots/preview.go"
    wait_exit $host 60
    tr -d '\r' < "$shots/preview.log"
    "$convert" "$shots/preview.bmp" "$shots/preview-screen.png" 2> /dev/null
    expect "the preview host's checks (status $status)" test "$status" -eq 0
    ;;

  ConfigurationOkWritesTheDefaults)
    forget_settings
    expect "no settings stored before the dialog" test -z "$(setting flags)"
    "$wine" "$scr" /c &
    saver=$!
    if locate 'Configure...' 1; then
      shot config
      read -r ok_x ok_y <<< "${pos[1]}"
      click "$ok_x" "$ok_y"
    else
      fail "the configuration dialog appears"
    fi
    wait_exit $saver 20
    expect "OK ends the run with status 0 (got $status)" test "$status" -eq 0
    "$wine" reg query "$key" | tr -d '\r'
    expect "flags saved as 0x16" test "$(setting flags)" = 0x16
    expect "max_texture_size saved as 0x400" test "$(setting max_texture_size)" = 0x400
    expect "ripple_speed saved as 0x14" test "$(setting ripple_speed)" = 0x14
    expect "ripple_freq saved as 0xa" test "$(setting ripple_freq)" = 0xa
    ;;

  ConfigurationTextureButtonsAndAboutDialog)
    forget_settings
    "$wine" "$scr" /c &
    saver=$!
    # 1 OK, 109 About, 107 smaller texture, 209 the texture size line.
    if locate 'Configure...' 1 109 107 209; then
      expect "the texture size line shows the default (${text[209]})" test "${text[209]}" = "Max texture size 1024x1024"
      declare -A config_pos
      for id in "${!pos[@]}"; do config_pos[$id]=${pos[$id]}; done
      read -r x y <<< "${config_pos[107]}"
      click "$x" "$y"
      click "$x" "$y"
      locate 'Configure...' 209
      expect "two clicks on - make it 256 (${text[209]})" test "${text[209]}" = "Max texture size 256x256"
      read -r x y <<< "${config_pos[109]}"
      click "$x" "$y"
      if locate 'About...' 1; then
        shot about
        read -r x y <<< "${pos[1]}"
        click "$x" "$y"
        sleep 0.5
        expect "OK closes the About dialog" test -z "$(xdotool search --onlyvisible --name '^About\.\.\.$' 2> /dev/null)"
      else
        fail "About opens the About dialog"
      fi
      shot config-smaller
      read -r x y <<< "${config_pos[1]}"
      click "$x" "$y"
    else
      fail "the configuration dialog appears"
    fi
    wait_exit $saver 20
    expect "OK ends the run with status 0 (got $status)" test "$status" -eq 0
    expect "two clicks on - saved max_texture_size 0x100" test "$(setting max_texture_size)" = 0x100
    expect "the other settings keep their defaults" test "$(setting flags) $(setting ripple_speed) $(setting ripple_freq)" = "0x16 0x14 0xa"
    ;;

  *)
    echo "unknown check $check"
    exit 2
    ;;
esac

# Nothing of the saver may be left running for the next check.
for w in $(xdotool search --name '^(screensaver|Configure\.\.\.|About\.\.\.)$' 2> /dev/null); do
  xdotool windowkill "$w" 2> /dev/null
done
[ $failures -eq 0 ] && echo "$check: passed" || echo "$check: $failures failed"
exit $((failures > 0))
