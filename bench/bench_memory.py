#!/usr/bin/python3
"""Memory and time of opening big files, measured in one run.

  1. The window's open of bench/data/multiframe.dcm (500 MiB, 1000 native
     frames) with every thumbnail made (quillon-snapshot, offscreen): wall
     time and peak private memory (RssAnon of /proc/PID/status, sampled; the
     pages of the file itself are not private), as a ratio to the file size.
  2. quillon-dump on multiframe.dcm against dcmdump on it: wall time and
     the ratio.
  3. quillon-dump on two sparse files written under /tmp and deleted
     afterwards: a 4 GiB file whose private OB value is 0xFFFFFFF0 bytes
     long, and large_file_check.py's 6.1 GiB file (the same value, then 4
     frames of 64 MiB past 4 GiB): wall time and peak resident memory.
  4. The window's open of a 20 GiB sparse file (five private OB values of
     0xFFFFFFF0 bytes, then the patient's name and a 512 x 512 image),
     selecting the patient's name (quillon-snapshot --select 0010,0010):
     wall time and peak resident memory.

With --baseline DIR (a build folder of an earlier version) every row is
measured for that build too, in the same run.

    /usr/bin/python3 bench/bench_memory.py [--build build] [--baseline DIR] [--runs N]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import large_file_check as lfc  # noqa: E402

GiB = 1 << 30


def status_kib(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run(cmd, env=None):
    """Runs cmd; returns (wall seconds, peak RssAnon KiB, peak VmHWM KiB, exit code)."""
    start = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    anon = hwm = 0
    while p.poll() is None:
        anon = max(anon, status_kib(p.pid, "RssAnon"))
        hwm = max(hwm, status_kib(p.pid, "VmHWM"))
        time.sleep(0.002)
    return time.monotonic() - start, anon, hwm, p.returncode


def best(cmd, runs, env=None):
    results = [run(cmd, env) for _ in range(runs)]
    wall = min(r[0] for r in results)
    return wall, max(r[1] for r in results), max(r[2] for r in results), results[-1][3]


def write_sparse4g(path):
    out = lfc.Layout(path)
    out.put(bytes(128) + b"DICM")
    out.put_elements(lfc.meta_and_study())
    private = 0xFFFFFFF0
    out.put(lfc.element(0x0009, 0x0010, "LO", "QUILLON"))
    out.put(lfc.header("OB", private, 0x0009, 0x1010))
    out.skip(private)
    out.put(lfc.element(0x0020, 0x000D, "UI", "1.2.3"))
    out.close()


def write_sparse20g(path):
    out = lfc.Layout(path)
    out.put(bytes(128) + b"DICM")
    out.put_elements(lfc.meta_and_study()[:-len(lfc.element(0x0010, 0x0010, "PN", "Large^File")) -
                                          len(lfc.element(0x0010, 0x0020, "LO", "LARGE"))])
    private = 0xFFFFFFF0
    out.put(lfc.element(0x0009, 0x0010, "LO", "QUILLON"))
    for k in range(5):
        out.put(lfc.header("OB", private, 0x0009, 0x1010 + k))
        out.skip(private)
    out.put(lfc.element(0x0010, 0x0010, "PN", "Large^File"))
    out.put(lfc.element(0x0010, 0x0020, "LO", "LARGE"))
    rows = columns = 512
    out.put_elements(lfc.image(rows, columns, 1))
    pixels = bytes((x + y) & 0xFF for y in range(rows) for x in range(columns))
    out.put(lfc.element(0x7FE0, 0x0010, "OW", b"".join(bytes((v, 0)) for v in pixels)))
    out.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--baseline", help="build folder of an earlier version, measured alongside")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    builds = [("this", args.build)] + ([("before", args.baseline)] if args.baseline else [])
    subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_bench_files.py")], check=True,
                   stdout=subprocess.DEVNULL)
    multiframe = os.path.join(HERE, "data", "multiframe.dcm")
    size = os.path.getsize(multiframe)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    print("window open of multiframe.dcm (%d MiB) with every thumbnail, best of %d" % (size >> 20, args.runs))
    with tempfile.TemporaryDirectory() as scratch:
        png = os.path.join(scratch, "out.png")
        for name, build in builds:
            wall, anon, hwm, rc = best([os.path.join(build, "tools", "quillon-snapshot"), multiframe, png],
                                       args.runs, env)
            print("  %-7s %6.2f s   peak RssAnon %5.0f MB (%.2f x file)   peak RSS %5.0f MB   exit %d"
                  % (name, wall, anon / 1024, anon * 1024 / size, hwm / 1024, rc))

    print("quillon-dump on multiframe.dcm against dcmdump, best of %d" % args.runs)
    peer, _, peer_hwm, _ = best(["dcmdump", multiframe], args.runs)
    print("  %-7s %6.2f s   peak RSS %6.0f MB" % ("dcmdump", peer, peer_hwm / 1024))
    for name, build in builds:
        wall, anon, hwm, rc = best([os.path.join(build, "tools", "quillon-dump"), multiframe], args.runs)
        print("  %-7s %6.2f s   peak RSS %6.0f MB   exit %d   ratio to dcmdump %.3f"
              % (name, wall, hwm / 1024, rc, wall / peer))

    work = tempfile.mkdtemp(dir="/tmp", prefix="quillon-bench-")
    try:
        files = [("4 GiB, private OB of 0xFFFFFFF0", os.path.join(work, "sparse4g.dcm")),
                 ("6.1 GiB (large_file_check)", os.path.join(work, "beyond4g.dcm"))]
        write_sparse4g(files[0][1])
        lfc.write_beyond4g(files[1][1])
        print("quillon-dump on sparse files, best of %d" % args.runs)
        for label, path in files:
            for name, build in builds:
                wall, anon, hwm, rc = best([os.path.join(build, "tools", "quillon-dump"), path], args.runs)
                print("  %-33s %-7s %6.2f s   peak RSS %6.0f MB   exit %d" % (label, name, wall, hwm / 1024, rc))
        for _, path in files:
            os.remove(path)
        huge = os.path.join(work, "sparse20g.dcm")
        write_sparse20g(huge)
        # Only this build: one that copies values would need 20 GiB of memory.
        print("window open of the 20 GiB sparse file, selecting (0010,0010), best of %d" % args.runs)
        png = os.path.join(work, "out.png")
        for name, build in builds[:1]:
            wall, anon, hwm, rc = best([os.path.join(build, "tools", "quillon-snapshot"), huge, png,
                                        "--select", "0010,0010"], args.runs, env)
            print("  %-7s %6.2f s   peak RssAnon %5.0f MB   peak RSS %5.0f MB   exit %d"
                  % (name, wall, anon / 1024, hwm / 1024, rc))
    finally:
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
        os.rmdir(work)


if __name__ == "__main__":
    main()
