# Sourced by the wine test scripts: counting checks, waiting for a process, comparing pictures.
convert=/usr/bin/convert
failures=0
ok() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
expect() { # expect DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

# Waits at most $2 seconds for process $1; sets $status to its exit status or 124 on a hang.
wait_exit() {
  local pid=$1 limit=$2 i
  for ((i = 0; i < limit * 10; i++)); do
    if ! kill -0 "$pid" 2> /dev/null; then
      wait "$pid"
      status=$?
      return
    fi
    sleep 0.1
  done
  kill "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  status=124
}

# Fraction of a picture's pixels that are not black (above 6% grey).
lit() { "$convert" "$1" -colorspace Gray -threshold 6% -format '%[fx:mean]' info:; }
# Mean per-pixel difference of two pictures of one size, 0 to 1.
difference() { "$convert" "$1" "$2" -compose difference -composite -colorspace Gray -format '%[fx:mean]' info:; }
# Fraction of pixels that differ at all.
changed() { "$convert" "$1" "$2" -compose difference -composite -colorspace Gray -threshold 0 -format '%[fx:mean]' info:; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# Checks that a saver showed DESKTOP rippling: SECOND is not black, is closer to DESKTOP than to
# DESKTOP upside down (ripples bend the picture a lot where they pass, so the comparison is a
# relative one), is bent, and differs from FIRST, taken a moment before.
#   expect_rippling WHAT FIRST SECOND DESKTOP
expect_rippling() {
  local what=$1 first=$2 second=$3 desktop=$4 m d f c
  "$convert" "$desktop" -flip "${desktop%.png}-flipped.png"
  m=$(lit "$second")
  d=$(difference "$second" "$desktop")
  f=$(difference "$second" "${desktop%.png}-flipped.png")
  c=$(changed "$first" "$second")
  echo "$what: lit $m, difference from the desktop $d (upside down: $f), changed between frames $c"
  expect "$what is not black" above "$m" 0.5
  expect "$what shows the desktop picture, the right way up" below "$d" "$(awk -v f="$f" 'BEGIN { print f / 2 }')"
  expect "$what: the desktop picture is bent by ripples" above "$d" 0.002
  expect "$what: the picture moves between frames" above "$c" 0.01
}
