#!/bin/bash
# The window with its thumbnails made in the background, measured in one run
# (best of RUNS, the whole quillon-snapshot process on the offscreen platform):
#   phantom16_j2k.dcm (100 JPEG 2000 frames of 512 x 512, 16-bit):
#     a header element selected (--select 0028,0010)           target < 1 s
#     the frame in the middle selected (its fragment item)      target < 1.5 s
#     every thumbnail waited for (no --select), as before the pool
#   multiframe.dcm (500 MiB, 1000 native frames): the window's peak private
#     memory (RssAnon) while every thumbnail is made, as a ratio to the file
#
#   bench/bench_window.sh            (RUNS=5 bench/bench_window.sh for more runs)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build quillon-dump quillon-snapshot
/usr/bin/python3 "$here/make_bench_files.py" >/dev/null
/usr/bin/python3 "$here/make_frame_bench_files.py" >/dev/null

dump=$build/tools/quillon-dump
snapshot=$build/tools/quillon-snapshot
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen

file=$data/phantom16_j2k.dcm
cat "$file" >/dev/null
# The middle frame's item: the Nth (FFFE,E000) in tree order, counted from the dump's tree.
frames=$("$dump" --pixel-module "$file" | tr '\t' '\n' | awk -F= '$1 == "frames" {print $2}')
items=$("$dump" "$file" | awk -F'\t' '$2 == "FFFE,E000"' | wc -l)
middle=$((items - frames + frames / 2))

echo "window with background thumbnails, best of $runs runs ($(nproc) cores), $(basename "$file") ($frames frames)"
line() { printf "%-40s %6.2f s (cpu %6.2f, peak %4.0f MB)  %s\n" "$1" "$2" "$3" "$(($4 / 1024))" "$5"; }
read -r w c r <<<"$(measure "$snapshot" "$file" "$scratch/a.png" --select 0028,0010)"
line "header element (0028,0010) selected" "$w" "$c" "$r" "target < 1 s"
read -r w c r <<<"$(measure "$snapshot" "$file" "$scratch/b.png" --select "FFFE,E000/$middle")"
line "frame $((frames / 2)) selected (item $middle)" "$w" "$c" "$r" "target < 1.5 s"
read -r w c r <<<"$(measure "$snapshot" "$file" "$scratch/c.png")"
line "every thumbnail waited for" "$w" "$c" "$r" ""
before_run() { rm -rf "$scratch/out" && mkdir -p "$scratch/out"; }
read -r w c r <<<"$(measure "$dump" --thumbnails "$scratch/out" "$file")"
line "quillon-dump --thumbnails" "$w" "$c" "$r" ""
unset -f before_run

# Private memory of the window while the 500 MiB file's thumbnails are made.
/usr/bin/python3 -c '
import os, sys
sys.path.insert(0, sys.argv[1])
import bench_memory as bm
snapshot, path, png, runs = sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
wall, anon, hwm, rc = bm.best([snapshot, path, png], runs, dict(os.environ))
size = os.path.getsize(path)
print("%-40s %6.2f s   peak RssAnon %4.0f MB = %.2f x file (%d MiB)   exit %d"
      % ("multiframe.dcm, every thumbnail", wall, anon / 1024, anon * 1024 / size, size >> 20, rc))
' "$here" "$snapshot" "$data/multiframe.dcm" "$scratch/m.png" "$runs"
