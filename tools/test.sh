#!/bin/bash
# Builds everything and runs every test, in stages:
#   deps     installs the run and test package sets (tools/deps.sh test)
#   fresh    the README's first command (tools/run.sh) in a bare Debian 12 made with mmdebstrap:
#            it must exit 0 and leave rippling frames (tools/fresh.sh run)
#   wine32   the i686 .scr (build-win32): static checks, unit tests and end-to-end runs under wine32
#   wine64   the x86_64 .scr (build-win64): the same under wine64
#   asan     the Linux build with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan) and its tests
#   linux    the Linux build (build, benchmarks built too) and its tests, the Debian package's among them
#   fuzz     the fuzz targets, each for a bounded time (tools/fuzz.sh)
#   tools/test.sh            every stage, in this order
#   tools/test.sh asan linux only the stages named
#   tools/test.sh fresh-all  this whole command (all stages but fresh) in a bare Debian 12, the way
#                            fresh runs tools/run.sh; long, so not among the stages run by default
# Every stage configures its own build folder with the tests on, whatever was cached there before,
# and every ctest run fails when it finds no tests. A failed stage does not stop the later ones.
# Ends with a table of the stages, their results and times; exit status 0 only if none failed. A
# stage that cannot run on the machine says why and shows as SKIPPED: the wine32 runs, on a kernel
# with its 32-bit emulation off, and the fresh stages where no mount namespace can be made, are the
# cases.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export JOBS=${JOBS:-2}

# A stage is a function stage_NAME whose exit status is the stage's result (77: could not run
# here); STAGES gives the order.
STAGES=(deps fresh wine32 wine64 asan linux fuzz)

# Configures the build folder DIR with the options given; the output goes to DIR/configure.log,
# shown only when configuring fails.
configure() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" "$@" > "$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; return 1; }
}

# Runs ctest in the build folder DIR with the usual options and any more given.
run_ctest() {
  local dir=$1
  shift
  (cd "$dir" && ctest -j "$JOBS" --no-tests=error --output-on-failure --timeout 300 "$@")
}

stage_deps() { bash tools/deps.sh test; }
stage_fresh() { bash tools/fresh.sh run; }
stage_fresh-all() { bash tools/fresh.sh all; }
stage_wine32() { bash tools/test_wine.sh i686; }
stage_wine64() { bash tools/test_wine.sh x86_64; }

stage_asan() {
  configure build-asan -DCMAKE_BUILD_TYPE=Debug -DTIDEFOLD_SANITIZE=ON -DTIDEFOLD_TESTS=ON -DTIDEFOLD_BENCH=OFF || return 1
  cmake --build build-asan -j "$JOBS" || return 1
  ASAN_OPTIONS=detect_leaks=0 run_ctest build-asan
}

stage_linux() {
  # The .scr files the Windows stages made are checked here too, when they are there.
  local scrs=""
  [ -f build-win32/tidefold.scr ] && scrs="i686=$ROOT/build-win32/tidefold.scr"
  [ -f build-win64/tidefold.scr ] && scrs="${scrs:+$scrs;}x86_64=$ROOT/build-win64/tidefold.scr"
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDEFOLD_TESTS=ON -DTIDEFOLD_BENCH=ON \
            -DTIDEFOLD_WINDOWS_BUILDS="$scrs" || return 1
  cmake --build build -j "$JOBS" || return 1
  run_ctest build
}

stage_fuzz() {
  if [ ! -f tools/fuzz.sh ]; then
    echo "tools/fuzz.sh is missing"
    return 1
  fi
  bash tools/fuzz.sh
}

selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${STAGES[@]}")
for name in "${selected[@]}"; do
  if ! declare -F "stage_$name" > /dev/null; then
    echo "unknown stage '$name'; the stages: ${STAGES[*]}, and fresh-all" >&2
    exit 2
  fi
done

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
results=()
status=0
start_all=$SECONDS
for name in "${selected[@]}"; do
  echo
  echo "==== $name"
  start=$SECONDS
  "stage_$name" 2>&1 | tee "$logs/$name.log"
  rc=${PIPESTATUS[0]}
  took=$((SECONDS - start))
  # The stage's own count of tests, when it gives one.
  counts=$(grep -E 'tests passed, [0-9]+ tests? failed out of|^[0-9]+ passed, [0-9]+ failed' "$logs/$name.log" | tail -1)
  # 77: the stage could not run here (the wine32 runs on a kernel without 32-bit programs, a bare
  # system where no mount namespace can be made).
  case $rc in
    0) result=passed ;;
    77) result=SKIPPED ;;
    *) result=FAILED status=1 ;;
  esac
  results+=("$(printf '%-8s %-7s %4d:%02d  %s' "$name" "$result" $((took / 60)) $((took % 60)) "$counts")")
  if [ "$name" = deps ] && [ "$rc" -ne 0 ]; then
    echo "The packages could not be installed; the other stages are not run."
    break
  fi
done

took=$((SECONDS - start_all))
echo
echo "==== Summary"
printf '%s\n' "${results[@]}"
if [ "$status" -eq 0 ]; then
  printf 'No stage failed (%d:%02d in all).\n' $((took / 60)) $((took % 60))
else
  printf 'Some stages FAILED (%d:%02d in all).\n' $((took / 60)) $((took % 60))
fi
exit $status
