#!/usr/bin/python3
"""Writes the frame decoding benchmark files into bench/data/ (git-ignored).

  phantom16.dcm      100 native frames of 512 x 512, 16 bits (12 stored),
                     MONOCHROME2: smooth phantom frames (discs and a ramp that
                     move from frame to frame) with noise
  phantom8.dcm       the same at 8 bits
  phantom16_rle.dcm  phantom16 through dcmcrle (RLE lossless)
  phantom16_jll.dcm  phantom16 through dcmcjpeg +e1 (JPEG lossless, first order)
  phantom8_jpb.dcm   phantom8 through dcmcjpeg +eb (JPEG baseline)
  phantom16_jls.dcm  phantom16 through dcmcjpls +el (JPEG-LS lossless)
  phantom16_j2k.dcm  phantom16 through gdcmconv --j2k (JPEG 2000 lossless)
  phantom16_htj2k/   each frame of phantom16 through ojph_compress -reversible
                     true (frame-NNN.j2c, and frame-NNN.pgm, its source)
  phantom16_htj2k.dcm  those codestreams as HTJ2K lossless frames

Needs numpy, DCMTK's encoders, gdcmconv and ojph_compress; files that exist are kept (--force writes
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


def write_encapsulated(path, frames, rows, columns, bits_stored, syntax):
    """A file of these compressed frames, one fragment each, with a Basic
    Offset Table."""
    sop_class = "1.2.840.10008.5.1.4.1.1.7.3"
    sop = "1.2.826.0.1.3680043.9.7433.61"
    offsets, at = [], 0
    items = b""
    for frame in frames:
        if len(frame) % 2:
            frame += b"\0"
        offsets.append(at)
        items += struct.pack("<HHI", 0xFFFE, 0xE000, len(frame)) + frame
        at += 8 + len(frame)
    table = struct.pack("<%dI" % len(offsets), *offsets)
    head = (meta(sop_class, sop, syntax) + patient_study("OT", sop_class, sop) +
            element(0x0028, 0x0002, "US", struct.pack("<H", 1)) +
            element(0x0028, 0x0004, "CS", "MONOCHROME2") +
            element(0x0028, 0x0008, "IS", str(len(frames))) +
            element(0x0028, 0x0010, "US", struct.pack("<H", rows)) +
            element(0x0028, 0x0011, "US", struct.pack("<H", columns)) +
            element(0x0028, 0x0100, "US", struct.pack("<H", 16)) +
            element(0x0028, 0x0101, "US", struct.pack("<H", bits_stored)) +
            element(0x0028, 0x0102, "US", struct.pack("<H", bits_stored - 1)) +
            element(0x0028, 0x0103, "US", struct.pack("<H", 0)) +
            struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OB", 0, 0xFFFFFFFF) +
            struct.pack("<HHI", 0xFFFE, 0xE000, len(table)) + table)
    with open(path, "wb") as f:
        f.write(head + items + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))


def htj2k_frames(native, folder):
    """Each frame of the 16-bit native file through ojph_compress (lossless)."""
    with open(native, "rb") as f:
        data = f.read()
    pixels = phantom_pixels(data)
    os.makedirs(folder, exist_ok=True)
    frames = []
    for k, frame in enumerate(pixels):
        pgm = os.path.join(folder, "frame-%03d.pgm" % k)
        j2c = os.path.join(folder, "frame-%03d.j2c" % k)
        with open(pgm, "wb") as f:
            f.write(b"P5\n%d %d\n4095\n" % (frame.shape[1], frame.shape[0]) + frame.astype(">u2").tobytes())
        subprocess.run(["ojph_compress", "-i", pgm, "-o", j2c, "-reversible", "true"], check=True,
                       capture_output=True)
        with open(j2c, "rb") as f:
            frames.append(f.read())
    return pixels.shape, frames


def phantom_pixels(data):
    """The frames of phantom16.dcm, read back from its native pixel data."""
    at = data.rfind(struct.pack("<HH2sH", 0x7FE0, 0x0010, b"OW", 0))
    length = struct.unpack("<I", data[at + 8:at + 12])[0]
    pixels = np.frombuffer(data[at + 12:at + 12 + length], dtype="<u2")
    count = length // (512 * 512 * 2)
    return pixels.reshape(count, 512, 512)


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
    for src, out, tool in (("phantom16.dcm", "phantom16_jls.dcm", ["dcmcjpls", "+el"]),
                           ("phantom16.dcm", "phantom16_j2k.dcm", ["gdcmconv", "--j2k"])):
        if missing(out):
            subprocess.run(tool + [path(src), path(out)], check=True)
    if missing("phantom16_htj2k.dcm"):
        (count, rows, columns), frames = htj2k_frames(path("phantom16.dcm"), path("phantom16_htj2k"))
        write_encapsulated(path("phantom16_htj2k.dcm"), frames, rows, columns, 12, "1.2.840.10008.1.2.4.201")
    for name in sorted(os.listdir(args.out)):
        if name.startswith("phantom") and name.endswith(".dcm"):
            print("%s: %d bytes" % (path(name), os.path.getsize(path(name))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
