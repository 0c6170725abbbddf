#!/usr/bin/python3
"""Thumbnails of every frame against the peer decompressing the same file, as
medians: quillon-dump --thumbnails and the peer run in turn, RUNS times each
(15 unless set), so that both meet the same moments of a noisy machine.
Wall-clock medians, the fastest run beside them, and the ratio of the medians.

    bench/thumbnail_medians.py      (after bench/bench_frames.sh made the files)

QUILLON_BENCH_BUILD names the build to measure (default: build-bench)."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("QUILLON_BENCH_BUILD", os.path.join(os.path.dirname(HERE), "build-bench"))
RUNS = int(os.environ.get("RUNS", "15"))
DATA = os.path.join(HERE, "data")

# file, peer command (FILE and OUT replaced), target ratio
CASES = [
    ("phantom16_rle.dcm", ["dcmdrle", "FILE", "OUT"], 0.25),
    ("phantom16_jll.dcm", ["dcmdjpeg", "FILE", "OUT"], 0.5),
    ("phantom8_jpb.dcm", ["dcmdjpeg", "FILE", "OUT"], 0.3),
    ("phantom16_j2k.dcm", ["gdcmconv", "--raw", "FILE", "OUT"], 0.3),
]


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def main():
    dump = os.path.join(BUILD, "tools", "quillon-dump")
    if not os.access(dump, os.X_OK):
        sys.exit(f"no quillon-dump in {BUILD}: run bench/bench_frames.sh first")
    scratch = tempfile.mkdtemp()
    try:
        out = os.path.join(scratch, "out")
        print(f"thumbnails against the peer, medians of {RUNS} runs in turn ({os.cpu_count()} cores)")
        for name, peer, target in CASES:
            path = os.path.join(DATA, name)
            if not os.path.exists(path):
                print(f"{name}: missing (bench/make_frame_bench_files.py makes it)")
                continue
            peer_command = [path if a == "FILE" else os.path.join(scratch, "peer.dcm") if a == "OUT" else a
                            for a in peer]
            ours, theirs = [], []
            for _ in range(RUNS):
                shutil.rmtree(out, ignore_errors=True)
                os.mkdir(out)
                ours.append(timed([dump, "--thumbnails", out, path]))
                theirs.append(timed(peer_command))
            a, b = statistics.median(ours), statistics.median(theirs)
            print(f"{name:20} quillon {a:6.3f} s (fastest {min(ours):.3f})   {peer[0]:9} {b:6.3f} s "
                  f"(fastest {min(theirs):.3f})   ratio {a / b:.2f}   target <= {target}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
