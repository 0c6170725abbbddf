#!/bin/bash
# The deflated load against the explicit VR load of the same 200,000-element
# data set, in one run: loader_bench loads bench/data/structure.dcm and
# bench/data/structure_deflated.dcm (make_bench_files.py), the repetitions of
# the two interleaved by Google Benchmark, and the ratio of the best loads is
# the figure (target: at most 1.5). The peak memory of a load of each, in a
# fresh process, and quillon-dump on each, follow.
#
#   bench/bench_deflate.sh            (RUNS=9 bench/bench_deflate.sh for more runs)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build loader_bench quillon-dump
/usr/bin/python3 "$here/make_bench_files.py" --structure-only >/dev/null

plain=$data/structure.dcm
deflated=$data/structure_deflated.dcm
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
cat "$plain" "$deflated" >/dev/null  # page cache warm for both

"$build/bench/loader_bench" --benchmark_repetitions="$((runs * 3))" --benchmark_filter='^load/' \
    --benchmark_enable_random_interleaving=true --benchmark_format=json \
    --benchmark_out="$results/loads.json" --benchmark_out_format=json "$plain" "$deflated" >/dev/null 2>&1
read -r plain_wall plain_cpu deflated_wall deflated_cpu < <(/usr/bin/python3 - "$results/loads.json" <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
def best(name):
    rs = [b for b in runs if b["name"].startswith("load/") and b["name"].split("/real_time")[0].endswith("/" + name)]
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[rs[0].get("time_unit", "ns")]
    return min(b["real_time"] for b in rs) * scale, min(b["cpu_time"] for b in rs) * scale
p, d = best("structure.dcm"), best("structure_deflated.dcm")
print(p[0], p[1], d[0], d[1])
PY
)
read -r _ _ plain_rss <<<"$(measure "$build/bench/loader_bench" --once load "$plain")"
read -r _ _ deflated_rss <<<"$(measure "$build/bench/loader_bench" --once load "$deflated")"
read -r plain_dump _ _ <<<"$(measure "$build/tools/quillon-dump" "$plain")"
read -r deflated_dump _ _ <<<"$(measure "$build/tools/quillon-dump" "$deflated")"

echo "== 200,000 elements: $(stat -c %s "$plain") bytes explicit VR, $(stat -c %s "$deflated") bytes deflated"
printf '%-34s %10s %10s %12s %14s\n' "" "load s" "load cpu s" "max RSS MiB" "quillon-dump s"
printf '%-34s %10.4f %10.4f %12.1f %14s\n' "explicit VR little endian" "$plain_wall" "$plain_cpu" \
    "$(awk -v k="$plain_rss" 'BEGIN{print k/1024}')" "$plain_dump"
printf '%-34s %10.4f %10.4f %12.1f %14s\n' "deflated" "$deflated_wall" "$deflated_cpu" \
    "$(awk -v k="$deflated_rss" 'BEGIN{print k/1024}')" "$deflated_dump"
ratio=$(awk -v a="$deflated_wall" -v b="$plain_wall" 'BEGIN{printf "%.2f", a/b}')
cpu_ratio=$(awk -v a="$deflated_cpu" -v b="$plain_cpu" 'BEGIN{printf "%.2f", a/b}')
if awk "BEGIN{exit !($ratio <= 1.5)}"; then verdict=met; else verdict=MISSED; fi
echo "target: deflated load <= 1.5 x explicit VR load: ${ratio}x (cpu ${cpu_ratio}x) -> $verdict"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
