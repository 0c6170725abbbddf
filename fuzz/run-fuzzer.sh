#!/bin/bash
# Builds a fuzz target with clang (libFuzzer, ASan, UBSan) and runs it for
# SECONDS seconds in one process. Without a target name it is the load
# fuzzer: its working corpus grows in fuzz/corpus-work/corpus (git-ignored),
# seeded from fuzz/seeds; crashes, leaks and timeouts land in
# fuzz/corpus-work/artifacts. The codec targets rle, jpeg, j2k, jls, htj2k, jxl and deflate use
# fuzz/corpus-work/<name>/ and the seeds in fuzz/seeds-<name>; the thumbnail
# target (load, then every frame's thumbnail) uses fuzz/corpus-work/thumbnail/
# and the load fuzzer's seeds.
#   fuzz/run-fuzzer.sh 600
#   fuzz/run-fuzzer.sh 600 -max_len=65536      (extra libFuzzer flags)
#   fuzz/run-fuzzer.sh jpeg 600
set -euo pipefail

target=load
if [[ $# -ge 1 && ! $1 =~ ^[0-9]+$ ]]; then
    target=$1
    shift
fi
if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 [load|thumbnail|rle|jpeg|j2k|jls|htj2k|jxl|deflate] SECONDS [libFuzzer flags...]" >&2
    exit 2
fi
seconds=$1
shift

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${QUILLON_FUZZ_BUILD:-$root/build-fuzz}
case $target in
    load) work=$here/corpus-work; seeds=$here/seeds; extra=(-dict="$here/dicom.dict"); max_len=16384 ;;
    thumbnail) work=$here/corpus-work/thumbnail; seeds=$here/seeds; extra=(-dict="$here/dicom.dict"); max_len=65536 ;;
    rle|jpeg|j2k|jls|htj2k|jxl|deflate) work=$here/corpus-work/$target; seeds=$here/seeds-$target; extra=(); max_len=65536 ;;
    *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac

if [[ ! -f $build/build.ninja ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILLON_FUZZ=ON -DQUILLON_WITH_QT=OFF -DQUILLON_TESTS=OFF
fi
cmake --build "$build" --target "${target}_fuzzer" -j "${QUILLON_FUZZ_BUILD_JOBS:-1}"

mkdir -p "$work/corpus" "$work/artifacts"
# Leaks the decoders are allowed (tests/lsan.supp) are not findings.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# -malloc_limit_mb: one allocation of more than 256 MiB from an input of at
# most 16 KiB (64 KiB for a codec) can only come from trusting a length or a count.
exec "$build/fuzz/${target}_fuzzer" \
    -max_total_time="$seconds" \
    -max_len="$max_len" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -malloc_limit_mb=256 \
    "${extra[@]}" \
    -artifact_prefix="$work/artifacts/" \
    -print_final_stats=1 \
    "$@" \
    "$work/corpus" "$seeds"
