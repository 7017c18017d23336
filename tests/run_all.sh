#!/usr/bin/env bash
# Builds Quintor and runs every test twice: in the normal build, then in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer; then a brief
# fuzzing of every target (QUINTOR_FUZZ_SECONDS per target, default 20; 0
# skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 4 ] && jobs=4

# The program needs a compiler and CMake, the tests GoogleTest as well.
missing=()
command -v cmake > /dev/null || missing+=(cmake)
command -v g++ > /dev/null || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
  echo "The tests need the Debian packages ${missing[*]}, not found here."
  echo "Install them with: apt-get install cmake g++ libgtest-dev"
  exit 1
fi

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DQUINTOR_REQUIRE_TESTS=ON "$@" > /dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure)
}

echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=Release
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUINTOR_SANITIZE=ON

fuzz_seconds=${QUINTOR_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" != 0 ]; then
  echo "== fuzzing, $fuzz_seconds s per target =="
  bash tests/fuzz/run.sh "$fuzz_seconds"
fi
