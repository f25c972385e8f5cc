#!/bin/bash
# Installs, with apt-get, every Debian package the build and the tests need that is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git file
  libx11-dev libxext-dev libxtst-dev libgl1-mesa-dev libgl1-mesa-dri libglx-mesa0 mesa-utils
  libgtk-3-dev libglib2.0-dev
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  xvfb xdotool x11-utils x11-apps imagemagick wine64
  xscreensaver dpkg-dev lintian desktop-file-utils
  fonts-dejavu-core fonts-liberation fonts-wine
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
