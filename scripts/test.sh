#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (unit, widget and
# cross-check tests) and a second build with AddressSanitizer and
# UndefinedBehaviorSanitizer (unit and widget tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TESTS=ON -DQUILLON_BENCH=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_TESTS=ON \
  -DCMAKE_CXX_FLAGS="-O1"
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs" -E '^oracle_')
