#!/usr/bin/python3
"""Writes the frame decoding benchmark files into bench/data/ (git-ignored).

  phantom16.dcm      100 native frames of 512 x 512, 16 bits (12 stored),
                     MONOCHROME2: smooth phantom frames (discs and a ramp that
                     move from frame to frame) with noise
  phantom8.dcm       the same at 8 bits
  phantom16_rle.dcm  phantom16 through dcmcrle (RLE lossless)
  phantom16_jll.dcm  phantom16 through dcmcjpeg +e1 (JPEG lossless, first order)
  phantom8_jpb.dcm   phantom8 through dcmcjpeg +eb (JPEG baseline)

Needs numpy and DCMTK's encoders; files that exist are kept (--force writes
them again).
"""

import argparse
import os
import struct
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
sys.path.insert(0, HERE)
from make_bench_files import element, meta, patient_study  # noqa: E402


def phantom(frames, rows, columns, bits):
    rng = np.random.default_rng(7433)
    y, x = np.mgrid[0:rows, 0:columns].astype(np.float32)
    top = (1 << bits) - 1
    out = np.empty((frames, rows, columns), dtype=np.uint16 if bits > 8 else np.uint8)
    for k in range(frames):
        t = k / max(1, frames - 1)
        img = 0.15 * top * (x / columns + y / rows)
        for cx, cy, r, v in ((0.5, 0.5, 0.35, 0.45), (0.35 + 0.2 * t, 0.4, 0.08, 0.3), (0.65, 0.6 - 0.2 * t, 0.1, 0.2)):
            img += v * top * (((x / columns - cx) ** 2 + (y / rows - cy) ** 2) < r * r)
        img += rng.normal(0, 0.01 * top, size=(rows, columns))
        out[k] = np.clip(img, 0, top).astype(out.dtype)
    return out


def write_native(path, pixels, bits_stored):
    frames, rows, columns = pixels.shape
    bits = 8 * pixels.dtype.itemsize
    sop_class = "1.2.840.10008.5.1.4.1.1.7.3" if bits == 16 else "1.2.840.10008.5.1.4.1.1.7.2"
    sop = "1.2.826.0.1.3680043.9.7433.%d" % (40 + bits)
    data = pixels.astype("<u2" if bits == 16 else "u1").tobytes()
    head = (meta(sop_class, sop) + patient_study("OT", sop_class, sop) +
            element(0x0028, 0x0002, "US", struct.pack("<H", 1)) +
            element(0x0028, 0x0004, "CS", "MONOCHROME2") +
            element(0x0028, 0x0008, "IS", str(frames)) +
            element(0x0028, 0x0010, "US", struct.pack("<H", rows)) +
            element(0x0028, 0x0011, "US", struct.pack("<H", columns)) +
            element(0x0028, 0x0100, "US", struct.pack("<H", bits)) +
            element(0x0028, 0x0101, "US", struct.pack("<H", bits_stored)) +
            element(0x0028, 0x0102, "US", struct.pack("<H", bits_stored - 1)) +
            element(0x0028, 0x0103, "US", struct.pack("<H", 0)) +
            struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OW" if bits == 16 else b"OB", 0, len(data)))
    with open(path, "wb") as f:
        f.write(head)
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--force", action="store_true")
    parser.add_argument("--out", default=DATA)
    parser.add_argument("--frames", type=int, default=100)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    def path(name):
        return os.path.join(args.out, name)

    def missing(name):
        return args.force or not os.path.exists(path(name))

    if missing("phantom16.dcm"):
        write_native(path("phantom16.dcm"), phantom(args.frames, 512, 512, 12), 12)
    if missing("phantom8.dcm"):
        write_native(path("phantom8.dcm"), phantom(args.frames, 512, 512, 8), 8)
    for src, out, tool in (("phantom16.dcm", "phantom16_rle.dcm", ["dcmcrle"]),
                           ("phantom16.dcm", "phantom16_jll.dcm", ["dcmcjpeg", "+e1"]),
                           ("phantom8.dcm", "phantom8_jpb.dcm", ["dcmcjpeg", "+eb"])):
        if missing(out):
            subprocess.run(tool + [path(src), path(out)], check=True)
    for name in sorted(os.listdir(args.out)):
        if name.startswith("phantom"):
            print("%s: %d bytes" % (path(name), os.path.getsize(path(name))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
