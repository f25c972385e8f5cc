#!/bin/bash
# Tests the Windows builds, each in its own build folder with its own wine prefix: the static checks
# of the .scr (PE flavour, system DLLs only, resources), then on a private X server the portable
# unit tests and the saver end to end (/a, /s, /p inside another program's window, /c with OK and
# the dialog's buttons, the stored settings read back with `reg query`). The i686 build runs under
# wine32 in a 32-bit prefix, the x86_64 build under wine64 in a 64-bit one.
#   tools/test_wine.sh [i686] [x86_64]     (both when none is named)
# The builds are build-win32 (i686) and build-win64 (x86_64) in the source tree, configured
# (Release, tests on) when they have no cache yet, and built. The prefix is made afresh for every
# run. Screenshots land in BUILD/wine-shots. Ends with "N passed, N failed"; exit status 0 only if
# none failed. On a kernel that runs no 32-bit programs (its 32-bit emulation turned off) the i686
# build gets its static checks only, and the exit status is 77 (skipped) if nothing failed.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)

passed=0 failed=0 skipped=""
# Runs ctest in DIR, with any more options given, and adds its counts to the totals; finding no
# tests is a failure.
run_ctest() {
  local dir=$1 out total bad
  shift
  out=$(cd "$dir" && ctest -j "$JOBS" --no-tests=error --output-on-failure --timeout 300 "$@" 2>&1)
  echo "$out"
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' <<< "$out" | tail -1)
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests* failed out of.*/\1/p' <<< "$out" | tail -1)
  if [ -z "$total" ] || [ -z "$bad" ] || [ "$total" -eq 0 ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# Configures (once) and builds the Windows build of ARCH in DIR.
build() {
  local dir=$1 arch=$2
  local first=()
  [ -f "$dir/CMakeCache.txt" ] ||
    first=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release)
  mkdir -p "$dir"
  cmake -S . -B "$dir" "${first[@]}" -DTIDEFOLD_TESTS=ON > "$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; return 1; }
  cmake --build "$dir" -j "$JOBS" > "$dir/build.log" 2>&1 || { tail -50 "$dir/build.log"; return 1; }
}

# Builds and tests ARCH; counts a missing loader or a failed build as one failure.
test_arch() {
  local arch=$1 dir loader bits
  case $arch in
    i686) dir=$ROOT/build-win32 loader=/usr/lib/wine/wine bits=wine32 ;;
    x86_64) dir=$ROOT/build-win64 loader=/usr/lib/wine/wine64 bits=wine64 ;;
    *) echo "unknown architecture '$arch' (i686 or x86_64)"; failed=$((failed + 1)); return ;;
  esac
  echo "== Windows $arch build in $dir"
  if [ ! -x "$loader" ]; then
    echo "$bits is not installed ($loader; bash tools/deps.sh test installs it)"
    failed=$((failed + 1))
    return
  fi
  build "$dir" "$arch" || { echo "the $arch build failed"; failed=$((failed + 1)); return; }
  local out
  out=$("$loader" --version 2>&1)
  if [ $? -eq 126 ] && grep -q 'Exec format error' <<< "$out"; then
    echo "This kernel runs no 32-bit programs (its 32-bit emulation is off; booting it with"
    echo "ia32_emulation=on turns it on): the $arch build gets its static checks only, no run under $bits."
    run_ctest "$dir" -R '^WindowsBuild\.'
    skipped="$skipped $bits"
    return
  fi
  # A fresh prefix every run, so the settings tests start from nothing; the session is ended even
  # when ctest is interrupted.
  rm -rf "$dir/wine/prefix"
  trap 'bash "$ROOT/tests/wine/session.sh" stop "$dir/wine" "$arch"' EXIT
  echo "== Static checks, unit tests and end-to-end runs of the $arch build under $bits"
  run_ctest "$dir"
  bash "$ROOT/tests/wine/session.sh" stop "$dir/wine" "$arch"
  trap - EXIT
  echo "Screenshots: $dir/wine-shots"
}

for arch in "${arches[@]}"; do
  test_arch "$arch"
done
echo "$passed passed, $failed failed${skipped:+ (not run under$skipped: this kernel runs no 32-bit programs)}"
[ "$failed" -eq 0 ] || exit 1
[ -z "$skipped" ] || exit 77
