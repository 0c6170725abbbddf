#!/bin/bash
# Frame decoding speed against the peers, measured in one run (best of RUNS,
# wall clock and CPU time of the same run, peak memory of the process):
#   multiframe.dcm (1000 native frames of 512 x 512 x 16 bits):
#     quillon-dump --thumbnails DIR   against   dcmj2pnm --all-frames --write-png
#     the window's open with every thumbnail (quillon-snapshot, offscreen),
#     against the load alone (loader_bench --once load)
#   phantom16_rle.dcm, phantom16_jll.dcm, phantom8_jpb.dcm, phantom16_j2k.dcm
#   (100 frames of 512 x 512, RLE 16-bit, JPEG lossless 16-bit, JPEG baseline
#   8-bit, JPEG 2000 lossless 16-bit):
#     quillon-dump --thumbnails DIR   against   dcmdrle / dcmdjpeg / gdcmconv --raw
#     with the floors: reading the file (cat > /dev/null, after the cache was
#     warmed) and our own full-size decode of every frame (thumbnail_compare
#     --full: the thumbnails made from full-size images, no PNG written)
#   the thumbnails at the size shown against the full-size ones
#   (thumbnail_compare: how far they differ, per file)
#
#   bench/bench_frames.sh            (RUNS=5 bench/bench_frames.sh for more runs)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build loader_bench quillon-dump quillon-snapshot thumbnail_compare
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

floor() {  # label, read floor (wall), full-size decode (wall cpu), ours (wall)
    awk -v l="$1" -v r="$2" -v f="$3" -v fc="$4" -v w="$5" 'BEGIN{
        printf "%-22s floors: read %.3f s, full-size decode %.2f s (cpu %.2f); thumbnails / full-size decode %.2f\n",
            l, r, f, fc, w / f }'
}

for pair in phantom16_rle.dcm:dcmdrle:0.25 phantom16_jll.dcm:dcmdjpeg:0.5 phantom8_jpb.dcm:dcmdjpeg:0.3 \
    phantom16_j2k.dcm:gdcmconv:0.3; do
    IFS=: read -r name peer target <<<"$pair"
    file=$data/$name
    cat "$file" >/dev/null
    read -r w c r <<<"$(measure "$dump" --thumbnails "$scratch/out" "$file")"
    if [[ $peer == gdcmconv ]]; then
        read -r pw pc pr <<<"$(measure gdcmconv --raw "$file" "$scratch/out/peer.dcm")"
    else
        read -r pw pc pr <<<"$(measure "$peer" "$file" "$scratch/out/peer.dcm")"
    fi
    row "$name ($peer)" "$w" "$c" "$r" "$pw" "$pc" "$pr"
    echo "                       target <= $target"
    read -r cw _ _ <<<"$(measure cat "$file")"
    read -r fw fc _ <<<"$(measure "$build/bench/thumbnail_compare" --full "$file")"
    floor "$name" "$cw" "$fw" "$fc" "$w"
done

echo
echo "thumbnails at the size shown against full-size ones (absolute differences of every sample)"
"$build/bench/thumbnail_compare" "$data"/phantom*.dcm \
    $(/usr/bin/python3 -c 'import pydicom, glob; print(" ".join(sorted(glob.glob(pydicom.data.get_testdata_file("CT_small.dcm").rsplit("/", 1)[0] + "/*.dcm"))))') |
    awk 'NR <= 2 || ($3 ~ /^[0-9]+$/ && $3 > 0)' || true
