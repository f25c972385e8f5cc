#!/bin/bash
# Tries the README's commands as a new user would, on a bare Debian 12 (its required packages and
# apt only, as in a container) made with mmdebstrap from this machine's own apt sources:
#   tools/fresh.sh run    copies the checkout in and runs `bash tools/run.sh` there with no display;
#                         passes when it exits 0 and leaves frames that ripple (not black, not the
#                         unchanged desktop)
#   tools/fresh.sh all    runs `bash tools/test.sh` there instead (every stage but this one)
# The bare system runs in a mount namespace of its own, with its own /proc, /sys, /dev and /tmp, and
# is thrown away afterwards. The bare tree itself is made once and kept in $TIDEFOLD_FRESH_CACHE
# (/var/cache/tidefold-fresh), with the packages the runs download, so that a later run spends its
# time installing and building, not downloading. Needs root (namespaces, mounts) and mmdebstrap; exits
# with 77 where no mount namespace can be made.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
mode=${1:-run}
case $mode in
  run | all) ;;
  *) echo "usage: $0 [run|all]" >&2; exit 2 ;;
esac
CACHE=${TIDEFOLD_FRESH_CACHE:-/var/cache/tidefold-fresh}
BARE=$CACHE/bookworm-minbase.tar

# Makes the bare tree once, from the sources this machine's apt uses.
make_bare_tree() {
  [ -s "$BARE" ] && return
  mkdir -p "$CACHE"
  local sources=()
  [ -f /etc/apt/sources.list ] && grep -qE '^\s*deb\s' /etc/apt/sources.list && sources+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sources+=("$f")
  done
  echo "Making a bare Debian 12 (mmdebstrap --variant=minbase bookworm) in $BARE"
  # mmdebstrap takes the format from the name's ending: the tree is made under another folder first.
  rm -rf "$CACHE/part"
  mkdir -p "$CACHE/part"
  mmdebstrap --quiet --variant=minbase --aptopt='Acquire::Check-Valid-Until "false"' \
    bookworm "$CACHE/part/bookworm-minbase.tar" "${sources[@]}"
  mv "$CACHE/part/bookworm-minbase.tar" "$BARE"
  rmdir "$CACHE/part"
}

# Copies the checkout (tracked files and new ones not ignored, as they are in the work tree) to DIR.
copy_checkout() {
  local dir=$1
  mkdir -p "$dir"
  git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
  done | tar -C "$ROOT" --null -T - -cf - | tar -C "$dir" -xf -
}

# The command run inside the bare system: the README's, with nothing of this machine's session.
inner_command() {
  local readme_cmd="bash tools/run.sh"
  [ "$mode" = all ] && readme_cmd="bash tools/test.sh deps wine32 wine64 asan linux fuzz"
  echo "cd /root/tidefold && env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 $readme_cmd"
}

# Runs the inner command in the tree at DIR, inside a mount namespace with its own /proc, /sys,
# /dev and /tmp; the packages apt downloads there are kept in the cache.
run_inside() {
  local dir=$1
  mkdir -p "$CACHE/archives/partial"
  cp /etc/resolv.conf "$dir/etc/resolv.conf" 2> /dev/null || true
  unshare --mount --propagation private bash -euc '
    dir=$1 cache=$2 cmd=$3
    # Its root a mount point of its own, as in a container or on a machine: programs that make
    # mount namespaces of their own (the screen-saver hosts in the tests) change its propagation.
    mount --bind "$dir" "$dir"
    dir=$(realpath "$dir")
    mount -t proc proc "$dir/proc"
    mount -t sysfs sys "$dir/sys"
    mount -t tmpfs -o mode=755 dev "$dir/dev"
    for node in null zero full random urandom tty; do
      touch "$dir/dev/$node"
      mount --bind "/dev/$node" "$dir/dev/$node"
    done
    mkdir -p "$dir/dev/pts" "$dir/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$dir/dev/pts"
    ln -s pts/ptmx "$dir/dev/ptmx"
    mount -t tmpfs -o mode=1777 shm "$dir/dev/shm"
    ln -s /proc/self/fd "$dir/dev/fd"
    mount -t tmpfs -o mode=1777 tmp "$dir/tmp"
    mount --bind "$cache/archives" "$dir/var/cache/apt/archives"
    # The bare tree becomes the root of the namespace (not a chroot inside the old one), so that paths
    # read from /proc of processes in mount namespaces of their own are the usual ones.
    cd "$dir"
    mkdir -p .old-root
    pivot_root . .old-root
    cd /
    umount -l /.old-root
    rmdir /.old-root
    exec /bin/bash -c "$cmd"
  ' fresh "$dir" "$CACHE" "$(inner_command)"
}

# Judges the frames run.sh left in FRAMES: there, not black, not the desktop picture unchanged, and
# changing from one to the next. Prints one line a frame.
frames_ripple() {
  local frames=$1 f prev="" mean pixels off moved count=0 good=0
  [ -f "$frames/desktop.png" ] || { echo "no desktop picture in $frames"; return 1; }
  for f in "$frames"/frame-*.png; do
    [ -f "$f" ] || continue
    count=$((count + 1))
    mean=$(convert "$f" -colorspace Gray -format '%[fx:round(100*mean)]' info:)
    pixels=$(identify -format '%[fx:w*h]' "$f")
    # Pixels more than a few levels off the desktop picture (and off the frame before), as a share.
    off=$(compare -metric AE -fuzz 8% "$f" "$frames/desktop.png" null: 2>&1 | cut -d' ' -f1)
    moved=$off
    [ -n "$prev" ] && moved=$(compare -metric AE -fuzz 8% "$f" "$prev" null: 2>&1 | cut -d' ' -f1)
    read -r off moved < <(awk -v o="$off" -v m="$moved" -v p="$pixels" 'BEGIN { printf "%.1f %.1f", 100 * o / p, 100 * m / p }')
    echo "$(basename "$f"): mean grey ${mean}%, ${off}% of it off the desktop, ${moved}% changed since the frame before"
    awk -v g="$mean" -v o="$off" -v m="$moved" 'BEGIN { exit !(g >= 5 && o >= 1 && o <= 90 && m >= 0.5) }' &&
      good=$((good + 1))
    prev=$f
  done
  [ "$count" -gt 0 ] && [ "$good" -eq "$count" ]
}

command -v mmdebstrap > /dev/null || { echo "mmdebstrap is missing (bash tools/deps.sh test installs it)"; exit 1; }
# Exit status 77: this machine cannot host a bare system (not root, or no mount namespaces here).
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2> /dev/null; then
  echo "making and entering a bare system needs root and mount namespaces, which this machine does not give"
  exit 77
fi
make_bare_tree
work=$(mktemp -d /var/tmp/tidefold-fresh.XXXXXX)
trap 'rm -rf --one-file-system "$work"' EXIT
tar -C "$work" -xf "$BARE"
echo "A bare Debian 12: $(chroot "$work" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed') packages installed"
copy_checkout "$work/root/tidefold"
out=$ROOT/build-fresh
rm -rf "$out"
mkdir -p "$out"
echo "== $(inner_command | sed 's/.*LANG=C.UTF-8 //') in the bare system (its output: $out/$mode.log)"
start=$SECONDS
status=0
if [ "$mode" = all ]; then
  run_inside "$work" 2>&1 | tee "$out/$mode.log"
  status=${PIPESTATUS[0]}
else
  run_inside "$work" > "$out/$mode.log" 2>&1 || status=$?
fi
echo "It took $(((SECONDS - start) / 60)):$(printf %02d $(((SECONDS - start) % 60))) and exited with status $status"
# What apt said it fetched and unpacked for the set.
grep -E '^(Need to get|After this operation)' "$out/$mode.log" || true
echo "$(chroot "$work" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed') packages installed after it"
if [ "$status" -ne 0 ]; then
  [ "$mode" = run ] && tail -40 "$out/$mode.log"
  exit 1
fi
if [ "$mode" = run ]; then
  cp -r "$work/root/tidefold/build-run/frames" "$out/frames"
  frames_ripple "$out/frames" || { echo "the frames do not ripple (they are in $out/frames)"; exit 1; }
  echo "The frames ripple (they are in $out/frames)."
fi
