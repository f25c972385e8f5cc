#!/bin/bash
# Makes the Debian package of the build tree BUILD_DIR and checks it as a user gets it: lintian
# reports no error and no hardening left out, its Depends were computed from the binary, it holds
# the files xscreensaver, MATE's and Xfce's screen savers, xsecurelock, the manual and the desktop
# menu look for, apt-get installs it, `tidefold /a` from PATH exits 0, the xscreensaver link reaches
# the installed program, and apt-get remove takes every one of those files away. The package is
# removed again at the end, whatever happened. Needs root (it installs a package); needs no display.
set -euo pipefail
build=$(realpath "${1:?usage: check_deb.sh BUILD_DIR}")

fail() {
  echo "FAIL: $*"
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "this check installs a package with apt-get: run it as root"
for tool in lintian dpkg-deb dpkg-shlibdeps apt-get; do
  command -v "$tool" > /dev/null || fail "$tool is missing (tools/deps.sh installs it)"
done

echo "== Making the package"
rm -f "$build"/tidefold_*.deb
cmake --build "$build" --target package > "$build/package.log" 2>&1 || { cat "$build/package.log"; fail "cpack failed"; }
debs=("$build"/tidefold_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one tidefold_*.deb in $build, found: ${debs[*]}"
deb=${debs[0]}
echo "$deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "== lintian"
# lintian warns, and exits non-zero on errors only; a hardening flag left out is only an info tag.
report=$(lintian -I --fail-on error --tag-display-limit 0 "$deb") || { echo "$report"; fail "lintian reports errors"; }
echo "$report"
! grep -q 'hardening-' <<< "$report" || fail "lintian finds the program built without some hardening"

echo "== Depends from the binary"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libgtk-3-0 libx11-6 libglib2.0-0; do
  grep -q "\b$lib\b" <<< "$depends" || fail "Depends lacks $lib: $depends"
done

echo "== Contents"
contents=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
for path in ./usr/bin/tidefold \
            "./usr/libexec/xscreensaver/tidefold -> ../../bin/tidefold" \
            ./usr/share/xscreensaver/config/tidefold.xml \
            ./usr/share/man/man6/tidefold.6.gz \
            ./usr/share/applications/tidefold.desktop \
            ./usr/share/applications/screensavers/tidefold.desktop \
            ./usr/share/tidefold/autostart/tidefold-idle.desktop \
            ./usr/libexec/xsecurelock/saver_tidefold \
            ./usr/share/icons/hicolor/32x32/apps/tidefold.png \
            ./usr/share/doc/tidefold/copyright \
            ./usr/share/doc/tidefold/changelog.gz; do
  grep -qxF "$path" <<< "$contents" || fail "the package lacks $path"
done
tmp=$(mktemp -d)
cleanup() {
  rm -rf "$tmp"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=300 tidefold > /dev/null 2>&1 || true
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$tmp"
file "$tmp/usr/bin/tidefold" | grep -q ", stripped" || fail "the program is not stripped: $(file "$tmp/usr/bin/tidefold")"
xml=$tmp/usr/share/xscreensaver/config/tidefold.xml
grep -q '<screensaver name="tidefold" _label="Tidefold" gl="yes">' "$xml" || fail "tidefold.xml: no GL screensaver element"
grep -q '<command arg="--root"/>' "$xml" || fail "tidefold.xml: no --root command"
theme=$tmp/usr/share/applications/screensavers/tidefold.desktop
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$tmp/usr/share/applications/tidefold.desktop" || fail "the desktop entry is not valid"
  desktop-file-validate "$theme" || fail "the screen saver theme entry is not valid"
  desktop-file-validate "$tmp/usr/share/tidefold/autostart/tidefold-idle.desktop" || fail "the autostart entry is not valid"
fi
# The idle watcher starts with the session only once a user copies its entry to ~/.config/autostart.
[ ! -e "$tmp/etc/xdg/autostart/tidefold-idle.desktop" ] || fail "the idle watcher starts for every user"
grep -qx 'Exec=/usr/bin/tidefold /c' "$tmp/usr/share/applications/tidefold.desktop" || fail "the menu entry does not open the dialog"
grep -qx 'X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2' "$tmp/usr/share/applications/tidefold.desktop" ||
  fail "the menu entry does not ask for KWin's screenshot service"
grep -qx 'Exec=tidefold --root' "$theme" || fail "the theme entry does not run tidefold --root"
grep -qx 'Categories=Screensaver;' "$theme" || fail "the theme entry is not in the Screensaver category"
saver=$tmp/usr/libexec/xsecurelock/saver_tidefold
[ "$(dpkg-deb -c "$deb" | awk '$6 == "./usr/libexec/xsecurelock/saver_tidefold" { print $1 }')" = "-rwxr-xr-x" ] ||
  fail "saver_tidefold is not an executable file"
grep -qx 'exec tidefold --root' "$saver" || fail "saver_tidefold does not run tidefold --root"
[ "$(/usr/bin/identify -format '%wx%h %m' "$tmp/usr/share/icons/hicolor/32x32/apps/tidefold.png")" = "32x32 PNG" ] ||
  fail "the icon is not a 32x32 PNG"
gzip -t "$tmp/usr/share/man/man6/tidefold.6.gz" || fail "the manual page is not gzip"

echo "== Installing with apt-get"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" ||
  fail "apt-get could not install the package"
[ "$(command -v tidefold)" = /usr/bin/tidefold ] || fail "tidefold is not on PATH as /usr/bin/tidefold"
[ "$(readlink -f /usr/libexec/xscreensaver/tidefold)" = /usr/bin/tidefold ] ||
  fail "the xscreensaver link does not reach the program"
[ -x /usr/libexec/xsecurelock/saver_tidefold ] && [ -f /usr/share/applications/screensavers/tidefold.desktop ] ||
  fail "the xsecurelock module or the screen saver theme entry is not installed"
status=0
(cd / && env -u DISPLAY tidefold /a) || status=$?
[ "$status" -eq 0 ] || fail "tidefold /a exited with $status"
status=0
(cd / && env -u DISPLAY /usr/libexec/xscreensaver/tidefold -a) || status=$?
[ "$status" -eq 0 ] || fail "the xscreensaver link run with -a exited with $status"

echo "== Removing"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=300 tidefold > /dev/null ||
  fail "apt-get could not remove the package"
for path in /usr/bin/tidefold /usr/libexec/xscreensaver/tidefold /usr/share/applications/screensavers/tidefold.desktop \
            /usr/libexec/xsecurelock/saver_tidefold; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path left after removal"
done
echo "Debian package: 1 passed, 0 failed"
