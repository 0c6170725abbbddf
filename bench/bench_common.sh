# Shared by the bench scripts (sourced): the build to measure and best-of-N
# timing. Sets here, root, build, runs and data.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${QUILLON_BENCH_BUILD:-$root/build-bench}
runs=${RUNS:-3}
data=$here/data

# Configures the bench build once and builds the given targets.
bench_build() {
    if [[ ! -f $build/build.ninja ]]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BENCH=ON >/dev/null
    fi
    cmake --build "$build" --target "$@" -j "${QUILLON_BENCH_BUILD_JOBS:-2}" >/dev/null
}

# best-of-N for one command: prints "wall cpu maxrss_kib" of the fastest run
# (max RSS is the largest seen over the runs). A function before_run, when the
# sourcing script defines one, runs before every run.
measure() {
    local best="" cpu="" rss=0 line wall user sys kib
    for ((i = 0; i < runs; i++)); do
        if declare -F before_run >/dev/null; then before_run; fi
        line=$(/usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1)
        read -r wall user sys kib <<<"$line"
        if [[ -z $best ]] || awk -v a="$wall" -v b="$best" 'BEGIN{exit !(a<b)}'; then
            best=$wall
            cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u+s}')
        fi
        ((kib > rss)) && rss=$kib
    done
    echo "$best $cpu $rss"
}
