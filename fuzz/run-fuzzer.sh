#!/bin/bash
# Builds the load fuzzer with clang (libFuzzer, ASan, UBSan) and runs it for
# SECONDS seconds in one process. The working corpus grows in
# fuzz/corpus-work/corpus (git-ignored), seeded from fuzz/seeds; crashes,
# leaks and timeouts land in fuzz/corpus-work/artifacts.
#   fuzz/run-fuzzer.sh 600
#   fuzz/run-fuzzer.sh 600 -max_len=65536      (extra libFuzzer flags)
set -euo pipefail

if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [libFuzzer flags...]" >&2
    exit 2
fi
seconds=$1
shift

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${QUILLON_FUZZ_BUILD:-$root/build-fuzz}
work=$here/corpus-work

if [[ ! -f $build/build.ninja ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILLON_FUZZ=ON -DQUILLON_WITH_QT=OFF -DQUILLON_TESTS=OFF
fi
cmake --build "$build" --target load_fuzzer -j "${QUILLON_FUZZ_BUILD_JOBS:-1}"

mkdir -p "$work/corpus" "$work/artifacts"
# -malloc_limit_mb: one allocation of more than 256 MiB from an input of at
# most 16 KiB can only come from trusting a length or a count.
exec "$build/fuzz/load_fuzzer" \
    -max_total_time="$seconds" \
    -max_len=16384 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -malloc_limit_mb=256 \
    -dict="$here/dicom.dict" \
    -artifact_prefix="$work/artifacts/" \
    -print_final_stats=1 \
    "$@" \
    "$work/corpus" "$here/seeds"
