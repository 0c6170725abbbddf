#!/bin/bash
# Frame decoding speed against the peers, measured in one run (best of RUNS,
# wall clock and CPU time of the same run, peak memory of the process):
#   multiframe.dcm (1000 native frames of 512 x 512 x 16 bits):
#     quillon-dump --thumbnails DIR   against   dcmj2pnm --all-frames --write-png
#     the window's open with every thumbnail (quillon-snapshot, offscreen),
#     against the load alone (loader_bench --once load)
#   phantom16_rle.dcm, phantom16_jll.dcm, phantom8_jpb.dcm (100 frames of
#   512 x 512, RLE 16-bit, JPEG lossless 16-bit, JPEG baseline 8-bit):
#     quillon-dump --thumbnails DIR   against   dcmdrle / dcmdjpeg IN OUT
#
#   bench/bench_frames.sh            (RUNS=5 bench/bench_frames.sh for more runs)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build loader_bench quillon-dump quillon-snapshot
/usr/bin/python3 "$here/make_bench_files.py" >/dev/null
/usr/bin/python3 "$here/make_frame_bench_files.py" >/dev/null

dump=$build/tools/quillon-dump
snapshot=$build/tools/quillon-snapshot
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The scratch folder is emptied before every run.
before_run() { rm -rf "$scratch/out" && mkdir -p "$scratch/out"; }

row() {  # label, ours (wall cpu rss), peer (wall cpu rss)
    awk -v l="$1" -v a="$2" -v b="$3" -v c="$4" -v d="$5" -v e="$6" -v f="$7" 'BEGIN{
        printf "%-22s quillon %6.2f s (cpu %6.2f, %5.0f MB)   peer %6.2f s (cpu %6.2f, %5.0f MB)   ratio %.2f\n",
            l, a, b, c / 1024, d, e, f / 1024, a / d }'
}

echo "frame decoding, best of $runs runs ($(nproc) cores)"
file=$data/multiframe.dcm
cat "$file" >/dev/null
read -r w c r <<<"$(measure "$dump" --thumbnails "$scratch/out" "$file")"
read -r pw pc pr <<<"$(measure dcmj2pnm --all-frames --write-png "$file" "$scratch/out/frame")"
row "multiframe thumbnails" "$w" "$c" "$r" "$pw" "$pc" "$pr"

read -r lw lc lr <<<"$(measure "$build/bench/loader_bench" --once load "$file")"
read -r ow oc orss <<<"$(QT_QPA_PLATFORM=offscreen measure "$snapshot" "$file" "$scratch/out/window.png")"
size=$(stat -c %s "$file")
awk -v ow="$ow" -v lw="$lw" -v r="$orss" -v s="$size" 'BEGIN{
    printf "window open with thumbnails %.2f s (target 2 x load %.2f s + 0.5 = %.2f s), peak %.0f MB = %.2f x file\n",
        ow, lw, 2 * lw + 0.5, r / 1024, r * 1024 / s }'

for pair in phantom16_rle.dcm:dcmdrle phantom16_jll.dcm:dcmdjpeg phantom8_jpb.dcm:dcmdjpeg; do
    name=${pair%%:*}
    peer=${pair##*:}
    file=$data/$name
    cat "$file" >/dev/null
    read -r w c r <<<"$(measure "$dump" --thumbnails "$scratch/out" "$file")"
    read -r pw pc pr <<<"$(measure "$peer" "$file" "$scratch/out/peer.dcm")"
    row "$name ($peer)" "$w" "$c" "$r" "$pw" "$pc" "$pr"
done
