#!/bin/bash
# Installs, with apt-get (no recommended packages), the Debian 12 packages that are missing from a set:
#   tools/deps.sh run    building and running the Linux program (tools/run.sh)
#   tools/deps.sh test   everything the test command needs: the run set and the test set (the default)
#   tools/deps.sh --list run|test   prints the packages of the set, one a line, and installs nothing
# The test set runs 32-bit Windows programs, so it adds the i386 architecture to dpkg first.
set -euo pipefail

# One group of packages a line, so that additions merge cleanly.
RUN_PACKAGES=(
  build-essential cmake pkg-config file                 # compiler and build system; file for the package's Depends
  libx11-dev libxext-dev libxrandr-dev libxinerama-dev  # X11, its extensions, monitors
  libxss-dev                                            # the X server's idle time, for the idle watcher
  libgl1-mesa-dev libgl1-mesa-dri libglx-mesa0          # OpenGL (Mesa, software rendering included)
  libgtk-3-dev libglib2.0-dev                           # dialogs, settings store
  librsvg2-common                                       # GTK's SVG icon loader: the theme's check marks in the dialog
  binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-posix  # windres, and the mingw C compiler and headers it preprocesses
                                                        # with: the resource script the Linux build embeds
  imagemagick                                           # the icon picture; run.sh's desktop picture and GIF
  xvfb x11-utils x11-apps x11-xserver-utils             # run.sh without a display: private X server, xdpyinfo, xwd, xrandr
  libwayland-dev wayland-protocols libxkbcommon-dev     # the Wayland backend: client library, protocols, keymaps
  libegl-dev libegl-mesa0                               # EGL, and Mesa's EGL (a recommendation only of libegl1)
  fonts-dejavu-core fonts-liberation                    # the dialogs' fonts
)

TEST_PACKAGES=(
  git                                                   # sources
  libgtest-dev googletest libbenchmark-dev libxtst-dev  # GoogleTest (also built for Windows), benchmarks, XTEST input
  mesa-utils                                            # glxinfo
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686    # Windows cross-builds
  g++-mingw-w64-i686-posix
  wine64 fonts-wine                                     # the x86_64 .scr under wine64
  wine32:i386 libgl1:i386 libgl1-mesa-dri:i386         # the i686 .scr under wine32, with the 32-bit OpenGL
  libglx-mesa0:i386
  libxcomposite1:i386 libxcursor1:i386 libxfixes3:i386  # the 32-bit X libraries wine32 recommends: GL child windows
  libxi6:i386 libxinerama1:i386 libxrandr2:i386         # drawn into real X windows (XComposite), the monitors
  libxrender1:i386 libxxf86vm1:i386                     # (RandR, Xinerama), cursors and input
  xdotool                                               # input, window search
  xserver-xorg-core xserver-xorg-video-dummy            # Xorg with real RandR outputs and refresh rates
  xscreensaver mate-screensaver xsecurelock             # the hosts the end-to-end tests drive
  dbus dbus-x11 dbus-daemon                             # session bus for the hosts that need one
  at-spi2-core                                          # the accessibility bus GTK asks the session bus for, as on a desktop
  dconf-gsettings-backend libglib2.0-bin                # MATE's settings, set with gsettings
  libxdamage-dev                                        # frames counted from outside in the tests
  dpkg-dev lintian desktop-file-utils                   # the Debian package and its checks
  clang-14 libclang-rt-14-dev libfuzzer-14-dev          # fuzzing with libFuzzer
  sway swaybg grim wtype weston                         # the Wayland tests: headless compositors, background, screenshots, keys
  mmdebstrap                                            # the bare Debian 12 the fresh stage runs the README's commands in
  kwin-wayland                                          # KDE's compositor (--virtual): its screenshot service, idle protocols
  mutter gnome-shell                                    # GNOME's compositor alone and with the Shell, headless
  xdg-desktop-portal xdg-desktop-portal-gnome           # the screenshot portal and its permission store, GNOME's backend
)

set_name=test
list_only=0
for arg in "$@"; do
  case $arg in
    run | test) set_name=$arg ;;
    --list) list_only=1 ;;
    *) echo "usage: $0 [--list] [run|test]" >&2; exit 2 ;;
  esac
done

packages=("${RUN_PACKAGES[@]}")
[ "$set_name" = test ] && packages+=("${TEST_PACKAGES[@]}")
if [ "$list_only" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
update=0
if [ "$set_name" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (32-bit wine)"
  $SUDO dpkg --add-architecture i386
  update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  update=1
fi
[ "$update" = 1 ] && $SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
