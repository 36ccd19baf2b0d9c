#!/usr/bin/env bash
# Builds with warnings as errors and runs every test twice: a plain build and a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DTARVEL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300)
  # ctest shows no output of a skipped test: tell why each was skipped.
  awk '/^\[ RUN      \] / { test = $4 }
       reason { print "skipped: " test ": " $0; reason = 0 }
       / Skipped$/ { reason = 1 }
       /^SKIP: / { print "skipped: package: " substr($0, 7) }' \
    "$dir/Testing/Temporary/LastTest.log"
}

echo "== plain build =="
run_suite build
echo "== sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp run_suite build-asan -DTARVEL_SANITIZE=ON
