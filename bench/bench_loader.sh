#!/bin/bash
# Loader speed and memory on the two benchmark files, measured in one run:
#   load     CDicomFile::Load, in process (Google Benchmark, best of the
#            repetitions), and in a fresh process (loader_bench --once)
#   read     reading the file into a freshly allocated buffer: the floor
#   dcmdump, gdcmdump, quillon-dump   FILE >/dev/null, whole process
# each with its peak memory (max RSS of a process doing only that). Then the
# targets: on multiframe.dcm the load takes at most 0.75x the time of dcmdump
# and at most 2.2x the file size in memory; on structure.dcm the load reads at
# least 3 million elements per second and quillon-dump beats dcmdump and
# gdcmdump.
#
#   bench/bench_loader.sh            (RUNS=5 bench/bench_loader.sh for more runs)
#
# Times are wall clock, best of RUNS; the CPU time (user + system) of the same
# best run is printed too, because on a shared machine the wall clock also
# measures the neighbours. The files live in bench/data (make_bench_files.py).
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build loader_bench quillon-dump
/usr/bin/python3 "$here/make_bench_files.py"

bench=$build/bench/loader_bench
dump=$build/tools/quillon-dump
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

for name in multiframe structure; do
    file=$data/$name.dcm
    size=$(stat -c %s "$file")
    cat "$file" >/dev/null  # page cache warm for every contender

    "$bench" --benchmark_repetitions="$runs" --benchmark_format=json --benchmark_out="$results/$name.json" \
        --benchmark_out_format=json "$file" >/dev/null 2>&1
    /usr/bin/python3 - "$results/$name.json" >"$results/$name.gb" <<'EOF'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
def best(prefix):
    rs = [b for b in runs if b["name"].startswith(prefix)]
    b = min(rs, key=lambda b: b["real_time"])
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b.get("time_unit", "ns")]
    return b["real_time"] * scale, b["cpu_time"] * scale, b.get("elements", 0), b.get("nodes", 0)
r, l = best("read/"), best("load/")
print(r[0], r[1], l[0], l[1], int(l[2]), int(l[3]))
EOF
    read -r gb_read gb_read_cpu gb_load gb_load_cpu elements nodes <"$results/$name.gb"

    declare -A wall cpu rss
    for tool in read load dcmdump gdcmdump quillon-dump; do
        case $tool in
            read | load) out=$(measure "$bench" --once "$tool" "$file") ;;
            quillon-dump) out=$(measure "$dump" "$file") ;;
            *) out=$(measure "$tool" "$file") ;;
        esac
        read -r wall[$tool] cpu[$tool] rss[$tool] <<<"$out"
    done

    echo
    echo "== $name.dcm: $size bytes, $elements elements ($nodes nodes with items), best of $runs"
    printf '%-34s %10s %10s %12s %8s\n' "" "wall s" "cpu s" "max RSS MiB" "x size"
    row() { awk -v n="$1" -v w="$2" -v c="$3" -v k="$4" -v s="$size" \
        'BEGIN{printf "%-34s %10s %10s %12.1f %8.2f\n", n, w, c, k/1024, k*1024/s}'; }
    printf '%-34s %10.4f %10.4f\n' "Load, in process (Google Benchmark)" "$gb_load" "$gb_load_cpu"
    printf '%-34s %10.4f %10.4f\n' "read, in process (Google Benchmark)" "$gb_read" "$gb_read_cpu"
    row "Load, fresh process" "${wall[load]}" "${cpu[load]}" "${rss[load]}"
    row "read into a new buffer (floor)" "${wall[read]}" "${cpu[read]}" "${rss[read]}"
    row "dcmdump >/dev/null" "${wall[dcmdump]}" "${cpu[dcmdump]}" "${rss[dcmdump]}"
    row "gdcmdump >/dev/null" "${wall[gdcmdump]}" "${cpu[gdcmdump]}" "${rss[gdcmdump]}"
    row "quillon-dump >/dev/null" "${wall[quillon-dump]}" "${cpu[quillon-dump]}" "${rss[quillon-dump]}"
    # (the "fresh process" rows time the whole process: start, the operation, exit)

    verdict() { if awk "BEGIN{exit !($1)}"; then echo "met"; else echo "MISSED"; fi; }
    if [[ $name == multiframe ]]; then
        echo "target: Load <= 0.75 x dcmdump: $(awk -v a="$gb_load" -v b="${wall[dcmdump]}" 'BEGIN{printf "%.2f", a/b}')x" \
            "-> $(verdict "$gb_load <= 0.75 * ${wall[dcmdump]}")" \
            "(cpu: $(awk -v a="$gb_load_cpu" -v b="${cpu[dcmdump]}" 'BEGIN{printf "%.2f", a/b}')x)"
        echo "target: Load peak memory <= 2.2 x file size:" \
            "$(awk -v k="${rss[load]}" -v s="$size" 'BEGIN{printf "%.2f", k*1024/s}')x" \
            "-> $(verdict "${rss[load]} * 1024 <= 2.2 * $size")"
    else
        echo "target: >= 3 million elements/s: $(awk -v e="$elements" -v t="$gb_load" 'BEGIN{printf "%.2f", e/t/1e6}')M/s" \
            "-> $(verdict "$elements / $gb_load >= 3e6")" \
            "(fresh process, whole: $(awk -v e="$elements" -v t="${wall[load]}" 'BEGIN{printf "%.2f", e/t/1e6}')M/s)"
        echo "target: quillon-dump faster than dcmdump and gdcmdump:" \
            "${wall[quillon-dump]} s vs ${wall[dcmdump]} s and ${wall[gdcmdump]} s" \
            "-> $(verdict "${wall[quillon-dump]} < ${wall[dcmdump]} && ${wall[quillon-dump]} < ${wall[gdcmdump]}")" \
            "(cpu ${cpu[quillon-dump]} vs ${cpu[dcmdump]} and ${cpu[gdcmdump]})"
    fi
    unset wall cpu rss
done
echo
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
