#!/usr/bin/python3
"""Manual check (not part of CTest): small files that claim huge images.

Writes a handful of small files whose data set or stream header claims far
more than the file holds, into a temporary folder (deleted afterwards unless
--keep), and runs quillon-dump on each three times -- plain, --problems and
--thumbnails DIR -- measuring wall time, CPU time and peak resident memory of
every run. A run over the limits (3 s of wall time, 400 MB) is a breach: the
table marks it and the script exits 1. On a machine shared with other work
the CPU column is the steadier figure.

  rle-huge        about 350 bytes: RLE, the data set claims 65535 x 65535 x 16
                  bits, two segments of 13 bytes.
  jpeg-baseline   a 16 x 16 baseline JPEG stream (dcmcjpeg), the data set
                  claims 65535 x 65535.
  jpeg-lossless   a 16 x 16 x 16-bit lossless JPEG stream (dcmcjpeg), the
                  data set claims 65535 x 65535.
  j2k-huge        a 16 x 16 J2K stream (gdcmconv), the data set claims
                  65535 x 65535.
  jp2-decoy       a JP2 file whose first box after the header holds a
                  harmless decoy codestream header (SOC SIZ of 16 x 16, one
                  tile, one component) before the real jp2c box, whose SIZ
                  claims 255 x 257 in 65535 one-pixel tiles of 16 components
                  (the data set agrees on the size).
  fragments-4m    32 MB: four million zero-length fragment items.
  deflate-bomb    about 4 MB: a deflated data set whose OB value of 4 GiB of
                  zeros is one flushed MiB of deflate stream repeated; it
                  inflates up to the limit (256 MiB) and no further.
  native-20k      a genuinely large frame: 20000 x 20000 8-bit grey native
                  samples (400 MB, a sparse file: zeros but for a few bright
                  rows), over the decode budget; its thumbnail is made from a
                  reduced decode, a band of rows at a time, within the budget
                  (the --thumbnails run must write its picture).

    /usr/bin/python3 bench/small_file_check.py [--build build] [--keep] [--cases a,b]
"""

import argparse
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

from large_file_check import element

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

LIMIT_SECONDS = 3.0
LIMIT_MB = 400
# A run is stopped past this, so that a breach cannot take the machine.
HARD_SECONDS = 60
HARD_BYTES = 12 << 30

EXPLICIT_LE = "1.2.840.10008.1.2.1"
RLE = "1.2.840.10008.1.2.5"
JPEG_BASELINE = "1.2.840.10008.1.2.4.50"
JPEG_LOSSLESS = "1.2.840.10008.1.2.4.70"
J2K_LOSSLESS = "1.2.840.10008.1.2.4.90"
DEFLATED_LE = "1.2.840.10008.1.2.1.99"


def us(group, elem, v):
    return element(group, elem, "US", struct.pack("<H", v))


def meta(syntax):
    body = (element(0x0002, 0x0001, "OB", b"\0\1") +
            element(0x0002, 0x0002, "UI", "1.2.840.10008.5.1.4.1.1.7") +
            element(0x0002, 0x0003, "UI", "1.2.826.0.1.3680043.9.7433.18") +
            element(0x0002, 0x0010, "UI", syntax))
    return b"\0" * 128 + b"DICM" + element(0x0002, 0x0000, "UL", struct.pack("<I", len(body))) + body


def image_module(rows, columns, bits, samples=1, frames=None):
    photometric = "MONOCHROME2" if samples == 1 else "RGB"
    out = us(0x0028, 0x0002, samples) + element(0x0028, 0x0004, "CS", photometric)
    if samples > 1:
        out += us(0x0028, 0x0006, 0)
    if frames is not None:
        out += element(0x0028, 0x0008, "IS", str(frames))
    out += (us(0x0028, 0x0010, rows) + us(0x0028, 0x0011, columns) + us(0x0028, 0x0100, bits) +
            us(0x0028, 0x0101, bits) + us(0x0028, 0x0102, bits - 1) + us(0x0028, 0x0103, 0))
    return out


def encapsulated(fragments):
    out = struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OB", 0, 0xFFFFFFFF)
    out += struct.pack("<HHI", 0xFFFE, 0xE000, 0)  # empty offset table
    for f in fragments:
        if len(f) % 2:
            f += b"\0"
        out += struct.pack("<HHI", 0xFFFE, 0xE000, len(f)) + f
    return out + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)


def dicom(syntax, rows, columns, bits, fragments, samples=1, frames=None):
    return (meta(syntax) + element(0x0008, 0x0060, "CS", "OT") +
            image_module(rows, columns, bits, samples, frames) + encapsulated(fragments))


def native_file(path, bits):
    """A 16 x 16 native grey file with a gradient, for the encoders."""
    size = 16
    if bits == 8:
        pixels = bytes((x * 16 + y) & 0xFF for y in range(size) for x in range(size))
        vr = "OB"
    else:
        pixels = b"".join(struct.pack("<H", (x * 4096 + y * 256) & 0xFFFF)
                          for y in range(size) for x in range(size))
        vr = "OW"
    data = (meta(EXPLICIT_LE) + element(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7") +
            element(0x0008, 0x0018, "UI", "1.2.826.0.1.3680043.9.7433.18.1") +
            element(0x0008, 0x0060, "CS", "OT") + image_module(size, size, bits) +
            element(0x7FE0, 0x0010, vr, pixels))
    with open(path, "wb") as f:
        f.write(data)


def first_fragment(path):
    """The first fragment after the offset table of an encapsulated file."""
    data = open(path, "rb").read()
    at = data.rfind(struct.pack("<HH", 0x7FE0, 0x0010) + b"OB")
    at += 12
    group, elem, length = struct.unpack_from("<HHI", data, at)
    at += 8 + length  # offset table
    group, elem, length = struct.unpack_from("<HHI", data, at)
    assert (group, elem) == (0xFFFE, 0xE000)
    return data[at + 8:at + 8 + length]


def encode(work, bits, command):
    source = os.path.join(work, "native%d.dcm" % bits)
    native_file(source, bits)
    target = os.path.join(work, "encoded.dcm")
    subprocess.run(command + [source, target], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return first_fragment(target)


def rle_huge():
    # Two segments of a few runs each: far too few bytes for the frame.
    segment = bytes([0x81, 0x00]) * 4 + bytes([0x03, 1, 2, 3, 4])
    header = struct.pack("<I", 2) + struct.pack("<I", 64) + struct.pack("<I", 64 + len(segment)) + b"\0" * 52
    stream = header + segment + segment
    return dicom(RLE, 65535, 65535, 16, [stream])


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def siz(width, height, tile_w, tile_h, components):
    comps = b"".join(bytes([7, 1, 1]) for _ in range(components))
    body = struct.pack(">HIIIIIIIIH", 0, width, height, 0, 0, tile_w, tile_h, 0, 0, components) + comps
    return b"\xFF\x4F\xFF\x51" + struct.pack(">H", 2 + len(body)) + body


def jp2_decoy():
    decoy = siz(16, 16, 16, 16, 1)
    # COD (one layer, no decomposition) and QCD (no quantisation) of 16
    # components, then one empty tile part and the end.
    cod = b"\xFF\x52" + struct.pack(">HBBHBBBBBB", 12, 0, 0, 1, 0, 0, 4, 4, 0, 0)
    qcd = b"\xFF\x5C" + struct.pack(">HBB", 4, 0x40, 0x40)
    real = siz(255, 257, 1, 1, 16) + cod + qcd + b"\xFF\xD9"
    ihdr = box(b"ihdr", struct.pack(">IIHBBBB", 257, 255, 16, 7, 7, 0, 0))
    jp2 = (box(b"jP  ", b"\x0D\x0A\x87\x0A") + box(b"ftyp", b"jp2 " + b"\0\0\0\0" + b"jp2 ") +
           box(b"jp2h", ihdr + box(b"colr", bytes([1, 0, 0]) + struct.pack(">I", 17))) +
           box(b"xml ", decoy) + box(b"jp2c", real))
    return dicom(J2K_LOSSLESS, 257, 255, 8, [jp2])


def fragments_4m():
    count = 4_000_000
    body = (meta(RLE) + element(0x0008, 0x0060, "CS", "OT") + image_module(16, 16, 8, frames=1) +
            struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OB", 0, 0xFFFFFFFF) + struct.pack("<HHI", 0xFFFE, 0xE000, 0))
    return body + struct.pack("<HHI", 0xFFFE, 0xE000, 0) * count + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)


def deflate_bomb():
    head = (element(0x0008, 0x0060, "CS", "OT") + element(0x0010, 0x0010, "PN", "Bomb") +
            struct.pack("<HH2sHI", 0x0042, 0x0011, b"OB", 0, 0xFFFFFFFE))
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream = packer.compress(head) + packer.flush(zlib.Z_FULL_FLUSH)
    # After a full flush the history is gone: each MiB of zeros compresses to
    # the same bytes.
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    mib = packer.compress(bytes(1 << 20)) + packer.flush(zlib.Z_FULL_FLUSH)
    return meta(DEFLATED_LE) + stream + mib * 4096 + b"\x03\x00"


def native_20k(path):
    # Writes the file itself: the samples are a hole in the file but for a
    # bright band, so the thumbnail has something to show.
    side = 20000
    head = (meta(EXPLICIT_LE) + element(0x0008, 0x0060, "CS", "OT") + image_module(side, side, 8) +
            struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OB", 0, side * side))
    with open(path, "wb") as f:
        f.write(head)
        f.seek(len(head) + side * (side // 2))
        f.write(b"\xFF" * (side * 200))
        f.truncate(len(head) + side * side)


def make_cases(work):
    cases = {}
    cases["rle-huge"] = rle_huge
    cases["jpeg-baseline"] = lambda: dicom(
        JPEG_BASELINE, 65535, 65535, 8, [encode(work, 8, ["dcmcjpeg", "+eb"])])
    cases["jpeg-lossless"] = lambda: dicom(
        JPEG_LOSSLESS, 65535, 65535, 16, [encode(work, 16, ["dcmcjpeg", "+el"])])
    cases["j2k-huge"] = lambda: dicom(
        J2K_LOSSLESS, 65535, 65535, 8, [encode(work, 8, ["gdcmconv", "--j2k"])])
    cases["jp2-decoy"] = jp2_decoy
    cases["fragments-4m"] = fragments_4m
    cases["deflate-bomb"] = deflate_bomb
    cases["native-20k"] = native_20k
    return cases


def run(cmd):
    """Runs cmd; returns (wall seconds, CPU seconds, peak RSS in MB, exit code or a word)."""
    def limits():
        resource.setrlimit(resource.RLIMIT_AS, (HARD_BYTES, HARD_BYTES))

    start = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=limits)
    outcome = None
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() - start > HARD_SECONDS:
            p.kill()
            outcome = "killed"
        time.sleep(0.01)
    wall = time.monotonic() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    if outcome is None:
        outcome = "rc=%d" % p.returncode if p.returncode >= 0 else "signal %d" % -p.returncode
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, outcome


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--keep", action="store_true", help="keep the files (the folder is printed)")
    parser.add_argument("--cases", help="comma-separated names of the cases to run")
    args = parser.parse_args()
    dump = os.path.join(args.build, "tools", "quillon-dump")
    if not os.path.exists(dump):
        sys.exit("no quillon-dump at " + dump)

    work = tempfile.mkdtemp(prefix="quillon-small-")
    breaches = 0
    try:
        cases = make_cases(work)
        names = args.cases.split(",") if args.cases else list(cases)
        print("%-14s %9s  %-12s %8s %8s %9s  %s" % ("case", "bytes", "run", "seconds", "CPU s", "peak MB", "outcome"))
        for name in names:
            path = os.path.join(work, name + ".dcm")
            if name == "native-20k":
                cases[name](path)
            else:
                with open(path, "wb") as f:
                    f.write(cases[name]())
            size = os.path.getsize(path)
            thumbs = os.path.join(work, name + ".thumbs")
            os.makedirs(thumbs, exist_ok=True)
            for label, extra in (("dump", []), ("--problems", ["--problems"]),
                                 ("--thumbnails", ["--thumbnails", thumbs])):
                wall, cpu, mb, outcome = run([dump] + extra + [path])
                if label == "--thumbnails":
                    outcome += ", %d picture(s)" % len(os.listdir(thumbs))
                over = wall > LIMIT_SECONDS or mb > LIMIT_MB or outcome in ("killed",) or outcome.startswith("signal")
                breaches += over
                print("%-14s %9d  %-12s %8.2f %8.2f %9.1f  %s%s" % (name, size, label, wall, cpu, mb, outcome,
                                                             "  BREACH" if over else ""))
                sys.stdout.flush()
    finally:
        if args.keep:
            print("files kept in", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("%d breach(es) of %.0f s / %d MB" % (breaches, LIMIT_SECONDS, LIMIT_MB))
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
