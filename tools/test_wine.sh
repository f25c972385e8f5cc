#!/bin/bash
# Tests the Windows builds: the static checks of both .scr files (PE flavour, system DLLs only,
# resources), then under wine64 on a private X server the portable unit tests and the saver end to
# end (/a, /s, /p inside another program's window, /c with OK and the dialog's buttons).
#   tools/test_wine.sh [X86_64_BUILD_DIR [I686_BUILD_DIR]]
# Build directories that are missing are configured (Release) and everything is built. Without an
# i686 directory, a sibling of the x86_64 one named with i686 for x86_64 (or w32 for w64) is used
# when it exists, else build-w32. The wine prefix is made afresh for every run. Screenshots land
# in X86_64_BUILD_DIR/wine-shots. Ends with "N passed, N failed"; exit status 0 only if none failed.
set -uo pipefail
arg64=${1:+$(realpath -m "$1")}
arg86=${2:+$(realpath -m "$2")}
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}

x64=${arg64:-$ROOT/build-w64}
if [ -n "$arg86" ]; then
  x86=$arg86
else
  x86=$ROOT/build-w32
  base=$(basename "$x64")
  for name in "${base/x86_64/i686}" "${base/w64/w32}"; do
    if [ "$name" != "$base" ] && [ -d "$(dirname "$x64")/$name" ]; then
      x86=$(dirname "$x64")/$name
      break
    fi
  done
fi

if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "wine64 is not installed (/usr/lib/wine/wine64; Debian package wine64)"
  echo "0 passed, 1 failed"
  exit 1
fi

build() { # build DIR ARCH
  local dir=$1 arch=$2
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" \
          -DCMAKE_BUILD_TYPE=Release > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  fi
  cmake --build "$dir" -j "$JOBS" > "$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; return 1; }
}

passed=0 failed=0
# Runs ctest in DIR and adds its counts to the totals.
run_ctest() {
  local dir=$1 out total bad
  out=$(cd "$dir" && ctest -j "$JOBS" --output-on-failure --timeout 300 2>&1)
  echo "$out"
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' <<< "$out" | tail -1)
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests* failed out of.*/\1/p' <<< "$out" | tail -1)
  if [ -z "$total" ] || [ -z "$bad" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

for pair in "$x86:i686" "$x64:x86_64"; do
  dir=${pair%:*} arch=${pair##*:}
  echo "== Windows $arch build in $dir"
  build "$dir" "$arch" || { echo "0 passed, 1 failed (the $arch build failed)"; exit 1; }
done

# A fresh prefix every run, so the settings test starts from nothing; the session is ended even
# when ctest is interrupted.
rm -rf "$x64/wine/prefix"
trap 'bash "$ROOT/tests/wine/session.sh" stop "$x64/wine"' EXIT

echo "== Static checks of the i686 build"
run_ctest "$x86"
echo "== Static checks, unit tests and end-to-end runs of the x86_64 build under wine"
run_ctest "$x64"
echo "Screenshots: $x64/wine-shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
