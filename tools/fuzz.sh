#!/bin/bash
# Fuzzes the two inputs a user or another program hands Tidefold, the settings file and the
# command line: builds both libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz, then runs each from the seed corpus in fuzz/corpus for
# a bounded time, [seconds] each (60 by default). Any crash, leak, sanitizer report or broken
# rule fails the run; the input that did it is left in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
JOBS=${JOBS:-2}
CC=${FUZZ_CC:-clang-14}
CXX=${FUZZ_CXX:-clang++-14}

cmake -S . -B build-fuzz -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTIDEFOLD_FUZZ=ON -DTIDEFOLD_TESTS=OFF -DTIDEFOLD_BENCH=OFF > build-fuzz.log 2>&1 || { cat build-fuzz.log; exit 1; }
cmake --build build-fuzz -j "$JOBS" --target fuzz_settings fuzz_arguments

mkdir -p build-fuzz/crashes
for target in settings arguments; do
  echo "== fuzz_$target for ${SECONDS_EACH}s"
  # New inputs go to the build folder's corpus; the seeds in the repository are only read.
  mkdir -p "build-fuzz/corpus/$target"
  # libFuzzer ends with 77 on a finding by default, which the test command reads as "skipped".
  build-fuzz/fuzz/fuzz_$target -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -error_exitcode=1 -timeout_exitcode=1 \
    -artifact_prefix="build-fuzz/crashes/$target-" -print_final_stats=1 \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target"
done
