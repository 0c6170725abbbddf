#!/usr/bin/python3
"""Manual check (not part of CTest): files of more than 4 GiB.

Writes two sparse files into bench/data/ (git-ignored; they take almost no
disk space, and loading them takes almost no memory: large values and
frames are left in the file):

  beyond4g.dcm   6.1 GiB. A Part 10 header, a private OB element of
                 0xFFFFFFF0 bytes, then the image elements and native pixel
                 data of 4 frames of 64 MiB, all of them past 4 GiB, then
                 2 GiB of trailing bytes that are never parsed.
  bigpixels.dcm  6 GiB. A Part 10 header and native pixel data of 2 frames of
                 1 GiB (16384 x 32768 x 16 bits) near the start, then 4 GiB of
                 trailing bytes.

and checks, with quillon-dump (Load from the file), that both load and that
every tag offset, data offset and byte range equals the offset at which the
script wrote the element -- with 64-bit arithmetic past 4 GiB -- and that the
frame nodes lie where the frames are. The second file is loaded once more
under `ulimit -v 5 GiB`, less than one copy of the file would need. Each run
prints time and peak memory.

    /usr/bin/python3 bench/large_file_check.py [--build build-ver] [--keep]
"""

import argparse
import os
import resource
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DATA = os.path.join(HERE, "data")
GiB = 1 << 30


def element(group, elem, vr, value):
    if isinstance(value, str):
        value = value.encode("ascii")
    if len(value) % 2:
        value += b"\0" if vr in ("UI", "OB") else b" "
    if vr in ("OB", "OW", "SQ", "UN", "UT"):
        return struct.pack("<HH2sHI", group, elem, vr.encode(), 0, len(value)) + value
    return struct.pack("<HH2sH", group, elem, vr.encode(), len(value)) + value


def header(vr, length, group, elem):
    return struct.pack("<HH2sHI", group, elem, vr.encode(), 0, length)


def meta_and_study():
    body = (element(0x0002, 0x0001, "OB", b"\0\1") +
            element(0x0002, 0x0002, "UI", "1.2.840.10008.5.1.4.1.1.7") +
            element(0x0002, 0x0003, "UI", "1.2.826.0.1.3680043.9.7433.9") +
            element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1"))
    return (element(0x0002, 0x0000, "UL", struct.pack("<I", len(body))) + body +
            element(0x0008, 0x0060, "CS", "OT") + element(0x0010, 0x0010, "PN", "Large^File") +
            element(0x0010, 0x0020, "LO", "LARGE"))


def image(rows, columns, frames):
    return (element(0x0028, 0x0002, "US", struct.pack("<H", 1)) +
            element(0x0028, 0x0004, "CS", "MONOCHROME2") +
            element(0x0028, 0x0008, "IS", str(frames)) +
            element(0x0028, 0x0010, "US", struct.pack("<H", rows)) +
            element(0x0028, 0x0011, "US", struct.pack("<H", columns)) +
            element(0x0028, 0x0100, "US", struct.pack("<H", 16)) +
            element(0x0028, 0x0101, "US", struct.pack("<H", 16)) +
            element(0x0028, 0x0102, "US", struct.pack("<H", 15)))


class Layout:
    """Writes pieces at known offsets (holes stay sparse) and remembers where."""

    def __init__(self, path):
        self.f = open(path, "wb")
        self.at = 0
        self.expect = []  # (tag offset, data offset, first, last, group, element)

    def put(self, data, group=None, elem=None, header_size=0, length=None):
        if group is not None:
            length = len(data) - header_size if length is None else length
            first = self.at
            self.expect.append((first, first + header_size, first, first + header_size + length - 1, group, elem))
        self.f.seek(self.at)
        self.f.write(data)
        self.at += len(data)

    def put_elements(self, blob):
        """Records each explicit VR little endian element of blob."""
        i = 0
        while i < len(blob):
            g, e, vr = struct.unpack_from("<HH2s", blob, i)
            if vr in (b"OB", b"OW", b"SQ", b"UN", b"UT"):
                n = struct.unpack_from("<I", blob, i + 8)[0]
                h = 12
            else:
                n = struct.unpack_from("<H", blob, i + 6)[0]
                h = 8
            self.put(blob[i:i + h + n], g, e, h)
            i += h + n

    def skip(self, n, last_byte=b"\x5a"):
        """A hole of n bytes (zeros), its last byte written so the size is real."""
        self.at += n
        self.f.seek(self.at - 1)
        self.f.write(last_byte)

    def close(self):
        self.f.truncate(self.at)
        self.f.close()


def write_beyond4g(path):
    frames, rows, columns = 4, 4096, 8192  # 64 MiB frames
    frame = rows * columns * 2
    out = Layout(path)
    out.put(bytes(128) + b"DICM")
    out.put_elements(meta_and_study())
    private = 0xFFFFFFF0
    out.put(element(0x0009, 0x0010, "LO", "QUILLON"), 0x0009, 0x0010, 8)
    out.put(header("OB", private, 0x0009, 0x1010), 0x0009, 0x1010, 12, private)
    out.skip(private)
    out.put_elements(image(rows, columns, frames))
    out.put(header("OW", frames * frame, 0x7FE0, 0x0010), 0x7FE0, 0x0010, 12, frames * frame)
    pixel_data_at = out.at
    for k in range(frames):
        out.f.seek(out.at)
        out.f.write(struct.pack("<II", 0xF00D0000 + k, k))  # a mark at the start of each frame
        out.skip(frame)
    out.skip(2 * GiB)  # trailing bytes: never parsed
    out.close()
    return out.expect, pixel_data_at, frame, frames


def write_bigpixels(path):
    frames, rows, columns = 2, 16384, 32768  # 1 GiB frames
    frame = rows * columns * 2
    out = Layout(path)
    out.put(bytes(128) + b"DICM")
    out.put_elements(meta_and_study())
    out.put_elements(image(rows, columns, frames))
    out.put(header("OW", frames * frame, 0x7FE0, 0x0010), 0x7FE0, 0x0010, 12, frames * frame)
    pixel_data_at = out.at
    for k in range(frames):
        out.f.seek(out.at)
        out.f.write(struct.pack("<II", 0xF00D0000 + k, k))
        out.skip(frame)
    out.skip(4 * GiB)
    out.close()
    return out.expect, pixel_data_at, frame, frames


def run_dump(dump, path, limit=None):
    """Runs quillon-dump: (exit status, stdout, stderr, seconds, peak memory in KiB)."""
    def preexec():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    t0 = time.time()
    with open(os.devnull, "rb") as stdin, \
            open(path + ".out", "w+b") as out, open(path + ".err", "w+b") as err:
        proc = subprocess.Popen([dump, path], stdin=stdin, stdout=out, stderr=err, preexec_fn=preexec)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.time() - t0
        out.seek(0)
        err.seek(0)
        result = proc.returncode, out.read(), err.read(), seconds, usage.ru_maxrss
    os.remove(path + ".out")
    os.remove(path + ".err")
    return result


def check(name, dump, path, expect, pixel_data_at, frame, frames, limit=None):
    size = os.path.getsize(path)
    status, out, err, seconds, rss = run_dump(dump, path, limit)
    what = "%s (%.2f GiB)%s" % (name, size / GiB, ", ulimit -v %d GiB" % (limit // GiB) if limit else "")
    if status != 0:
        print("FAIL %s: quillon-dump exit %d: %s" % (what, status, err.decode(errors="replace").strip()))
        return False
    rows = [line.split(b"\t") for line in out.split(b"\n") if line]
    top = [r for r in rows if r[0] == b"0"]
    ok = True
    if len(top) != len(expect):
        print("FAIL %s: %d top-level elements, %d written" % (what, len(top), len(expect)))
        return False
    for r, (tag_at, data_at, first, last, g, e) in zip(top, expect):
        got = (int(r[3]), int(r[4]), int(r[6]), int(r[7]), r[1].decode())
        want = (tag_at, data_at, first, last, "%04X,%04X" % (g, e))
        if got != want:
            print("FAIL %s: element %s: got tag/data/first/last %s, wrote %s" % (what, want[4], got[:4], want[:4]))
            ok = False
    nodes = [r for r in rows if r[0] == b"1" and r[1].startswith(b"0000,")]
    if len(nodes) != frames:
        print("FAIL %s: %d frame nodes, %d frames" % (what, len(nodes), frames))
        ok = False
    for k, r in enumerate(nodes):
        got = (int(r[3]), int(r[4]), int(r[5]), int(r[6]), int(r[7]))
        at = pixel_data_at + k * frame
        want = (at, at, frame, at, at + frame - 1)
        if got != want:
            print("FAIL %s: frame %d: got tag/data/length/first/last %s, expected %s" % (what, k + 1, got, want))
            ok = False
    beyond = sum(1 for r in rows if int(r[3]) >= 1 << 32)
    print("%s %s: loaded in %.1f s, peak memory %.2f GiB; %d nodes, %d of them at offsets past 4 GiB" % (
        "ok  " if ok else "FAIL", what, seconds, rss / (1 << 20), len(rows), beyond))
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build-ver"), help="build directory with quillon-dump")
    parser.add_argument("--keep", action="store_true", help="keep the sparse files")
    args = parser.parse_args()
    dump = os.path.join(args.build, "tools", "quillon-dump")
    os.makedirs(DATA, exist_ok=True)
    ok = True
    path = os.path.join(DATA, "beyond4g.dcm")
    expect, at, frame, frames = write_beyond4g(path)
    ok &= check("beyond4g.dcm", dump, path, expect, at, frame, frames)
    if not args.keep:
        os.remove(path)
    path = os.path.join(DATA, "bigpixels.dcm")
    expect, at, frame, frames = write_bigpixels(path)
    ok &= check("bigpixels.dcm", dump, path, expect, at, frame, frames)
    # No room for the 6 GiB buffer: the loader reads from the file itself.
    ok &= check("bigpixels.dcm", dump, path, expect, at, frame, frames, limit=5 * GiB)
    if not args.keep:
        os.remove(path)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
