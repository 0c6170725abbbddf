#!/bin/bash
# quillon-dump over many files: files per second of one process given the
# folders (read on all cores) against one process per file, one after the
# other, and against one process per file with as many at once as there are
# cores (xargs -P), for the tree, --pixel-module and --problems. The files:
# pydicom's data directory and the fuzz seeds, and the folders given as
# arguments (bench/data, for instance). Target: the folder mode at least
# 1.5 x one process per file on 2 cores.
#
#   bench/bench_many_files.sh [FOLDER...]      (RUNS=5 for more runs)
set -euo pipefail

# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"
bench_build quillon-dump
dump=$build/tools/quillon-dump

folders=(/usr/lib/python3/dist-packages/pydicom/data "$root"/fuzz/seeds* "$@")
list=$(mktemp)
trap 'rm -f "$list"' EXIT
{ "$dump" --problems "${folders[@]}" 2>&1 >/dev/null || true; } | tail -1 >&2
find "${folders[@]}" -type f | sort >"$list"
files=$(wc -l <"$list")
cores=$(nproc)
cat $(cat "$list") >/dev/null 2>&1 || true  # page cache warm

printf '%s files, %s cores, best of %s\n' "$files" "$cores" "$runs"
printf '%-16s %12s %12s %12s %8s %8s\n' mode "folder f/s" "per-file f/s" "xargs -P f/s" ratio "ratio -P"
for mode in tree --pixel-module --problems; do
    opt=()
    [[ $mode != tree ]] && opt=("$mode")
    read -r folder _ _ <<<"$(measure "$dump" "${opt[@]}" "${folders[@]}")"
    read -r single _ _ <<<"$(measure xargs -d '\n' -n 1 -a "$list" "$dump" "${opt[@]}")"
    read -r parallel _ _ <<<"$(measure xargs -d '\n' -n 1 -P "$cores" -a "$list" "$dump" "${opt[@]}")"
    awk -v m="$mode" -v n="$files" -v f="$folder" -v s="$single" -v p="$parallel" 'BEGIN {
        printf "%-16s %12.0f %12.0f %12.0f %8.2f %8.2f\n", m, n / f, n / s, n / p, s / f, p / f }'
done
