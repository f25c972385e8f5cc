#!/bin/bash
# Builds everything and runs every test: installs what is missing, cross-builds both Windows
# targets and tests them (statically, and the 64-bit one under wine64), builds and tests the
# sanitizer configuration, then the normal Linux build.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}

bash tools/deps.sh

echo "== Windows cross-builds"
for arch in i686 x86_64; do
  cmake -S . -B "build-win-$arch" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release > "build-win-$arch.log" 2>&1 || { cat "build-win-$arch.log"; exit 1; }
  cmake --build "build-win-$arch" -j "$JOBS"
done

echo "== Windows builds under wine64"
bash tools/test_wine.sh "$ROOT/build-win-x86_64" "$ROOT/build-win-i686"

echo "== Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -DTIDEFOLD_SANITIZE=ON -DTIDEFOLD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug > /dev/null
cmake --build build-asan -j "$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest -j "$JOBS" --output-on-failure --timeout 300)

echo "== Linux build"
cmake -S . -B build -DTIDEFOLD_WINDOWS_BUILDS="i686=$ROOT/build-win-i686/tidefold.scr;x86_64=$ROOT/build-win-x86_64/tidefold.scr" > /dev/null
cmake --build build -j "$JOBS"
cd build && ctest -j "$JOBS" --output-on-failure --timeout 300
