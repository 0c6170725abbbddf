#!/bin/bash
# JPEG-LS and HTJ2K decoding speed against the peers, in one run (best of
# RUNS, wall clock and CPU time of the same run, peak memory), on the 100
# frames of 512 x 512 x 16 bits (12 stored) of phantom16.dcm:
#   phantom16_jls.dcm    quillon-dump --thumbnails   against   dcmdjpls IN OUT
#   phantom16_htj2k.dcm  quillon-dump --thumbnails   against   our JPEG 2000
#                        thumbnails of the same frames (phantom16_j2k.dcm)
#                        and ojph_expand (OpenJPH) over the 100 codestreams
#
#   bench/bench_codecs.sh        (RUNS=5 for more runs; QUILLON_BENCH_BUILD=DIR to measure another build)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build quillon-dump
/usr/bin/python3 "$here/make_frame_bench_files.py" >/dev/null

dump=$build/tools/quillon-dump
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
before_run() { rm -rf "$scratch/out" && mkdir -p "$scratch/out"; }

row() {  # label, ours (wall cpu rss), peer (wall cpu rss), target
    awk -v l="$1" -v a="$2" -v b="$3" -v c="$4" -v d="$5" -v e="$6" -v f="$7" -v t="$8" 'BEGIN{
        printf "%-34s quillon %6.2f s (cpu %6.2f, %4.0f MB)   peer %6.2f s (cpu %6.2f, %4.0f MB)   ratio %.2f (target <= %s)\n",
            l, a, b, c / 1024, d, e, f / 1024, a / d, t }'
}

echo "JPEG-LS and HTJ2K decoding, best of $runs runs ($(nproc) cores)"
for name in phantom16_jls.dcm phantom16_j2k.dcm phantom16_htj2k.dcm; do
    cat "$data/$name" >/dev/null
done
read -r lw lc lr <<<"$(measure "$dump" --thumbnails "$scratch/out" "$data/phantom16_jls.dcm")"
read -r pw pc pr <<<"$(measure dcmdjpls "$data/phantom16_jls.dcm" "$scratch/out/peer.dcm")"
row "JPEG-LS thumbnails (dcmdjpls)" "$lw" "$lc" "$lr" "$pw" "$pc" "$pr" 0.7

read -r hw hc hr <<<"$(measure "$dump" --thumbnails "$scratch/out" "$data/phantom16_htj2k.dcm")"
read -r jw jc jr <<<"$(measure "$dump" --thumbnails "$scratch/out" "$data/phantom16_j2k.dcm")"
row "HTJ2K thumbnails (our JPEG 2000)" "$hw" "$hc" "$hr" "$jw" "$jc" "$jr" 0.3
expand_all() {
    for f in "$data"/phantom16_htj2k/frame-*.j2c; do ojph_expand -i "$f" -o "$scratch/out/frame.pgm" >/dev/null; done
}
export -f expand_all
export data scratch
read -r ew ec er <<<"$(measure bash -c expand_all)"
row "HTJ2K thumbnails (ojph_expand)" "$hw" "$hc" "$hr" "$ew" "$ec" "$er" 1

# Exactness: frames 0, 50 and 99 of the HTJ2K and JPEG-LS files against the
# native source.
/usr/bin/python3 - "$dump" "$data" <<'PY'
import subprocess, sys
dump, data = sys.argv[1], sys.argv[2]
def samples(name, k):
    run = subprocess.run([dump, "--frame-samples", str(k), "%s/%s" % (data, name)], capture_output=True)
    return run.stdout.partition(b"\n")[2] if run.returncode == 0 else None
for name in ("phantom16_jls.dcm", "phantom16_htj2k.dcm"):
    same = all(samples(name, k) == samples("phantom16.dcm", k) for k in (0, 50, 99))
    print("%-24s frames 0, 50, 99 %s the source" % (name, "equal" if same else "DIFFER FROM"))
PY
