#!/usr/bin/python3
"""Cross-checks frame samples and thumbnails of quillon-dump against pydicom.

For every file under pydicom's data directory that our loader accepts and
whose pixel data is native:
  * `quillon-dump --frame-samples K FILE` must equal frame K of pydicom's
    Pixel Data value, byte for byte (for big-endian files, after swapping
    16-bit words, since our values are held little endian after the parse);
  * `quillon-dump --thumbnails DIR FILE` must write one 128 x 128 picture
    per frame for every image we can show (8-bit images of a known colour
    model, 12- and 16-bit images), and none for the others (1- and 32-bit).

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_frames.py --dump build/tools/quillon-dump
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import warnings
import zlib

import pydicom

DATA_DIR = "/usr/lib/python3/dist-packages/pydicom/data"
SKIP_SUFFIXES = (".py", ".pyc", ".json")
BIG_ENDIAN = "1.2.840.10008.1.2.2"
# Colour models the byte conversion of uncompressed 8-bit frames knows.
BYTE_MODELS = {"MONOCHROME1", "MONOCHROME2", "PALETTE COLOR", "RGB", "ARGB", "YBR_FULL", "YBR_FULL_422",
               "YBR_PARTIAL_422", "YBR_ICT", "CMYK"}


def pixel_module(dump, path):
    run = subprocess.run([dump, "--pixel-module", path], capture_output=True)
    if run.returncode != 0:
        return None
    fields = {}
    for pair in run.stdout.decode().strip().split("\t"):
        key, _, value = pair.partition("=")
        fields[key] = value
    return fields


def png_size(path):
    """Width and height of a PNG whose chunks' CRCs and zlib stream check out; None otherwise."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    width, height = struct.unpack(">II", data[16:24])
    pos, idat = 8, b""
    while pos + 12 <= len(data):
        (n,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        (crc,) = struct.unpack(">I", data[pos + 8 + n:pos + 12 + n])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            return None
        if kind == b"IDAT":
            idat += body
        pos += 12 + n
    try:
        raw = zlib.decompress(idat)  # checks the Adler-32 too
    except zlib.error:
        return None
    return (width, height) if len(raw) == height * (1 + 3 * width) else None


def expected_thumbnails(fields):
    bits = int(fields["bits_allocated"])
    frames = int(fields["native_frames"])
    if int(fields["rows"]) == 0 or int(fields["columns"]) == 0:
        return 0
    if bits == 8:
        return frames if fields["photometric"] in BYTE_MODELS else 0
    return frames if bits in (12, 16) else 0


def check_file(dump, path, rel, failures):
    fields = pixel_module(dump, path)
    if fields is None or fields["compression"] not in ("NONE", "UNKNOWN"):
        return 0
    frames = int(fields["native_frames"])
    if frames == 0:
        return 0
    frame_size = int(fields["frame_size"])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ds = pydicom.dcmread(path, force=True)
    data = bytes(ds.PixelData)
    meta = getattr(ds, "file_meta", None)
    if meta is not None and str(meta.get("TransferSyntaxUID", "")) == BIG_ENDIAN:
        if int(fields["bits_allocated"]) == 16:
            swapped = bytearray(data)
            swapped[0::2], swapped[1::2] = data[1::2], data[0::2]
            data = bytes(swapped)
        elif int(fields["bits_allocated"]) != 8:
            return 0  # other word sizes are swapped by their VR; not compared
    for k in range(frames):
        run = subprocess.run([dump, "--frame-samples", str(k), path], capture_output=True)
        want = data[k * frame_size:(k + 1) * frame_size]
        if run.returncode != 0:
            failures.append("%s: frame %d: exit %d %s" % (rel, k, run.returncode, run.stderr.decode().strip()))
        elif run.stdout != want:
            failures.append("%s: frame %d: %d bytes differ from pydicom's %d" % (rel, k, len(run.stdout), len(want)))

    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([dump, "--thumbnails", out, path], capture_output=True)
        if run.returncode != 0:
            failures.append("%s: --thumbnails exit %d %s" % (rel, run.returncode, run.stderr.decode().strip()))
            return frames
        names = sorted(os.listdir(out))
        want = expected_thumbnails(fields)
        wanted_names = ["thumb-%04d.png" % k for k in range(want)]
        if names != wanted_names:
            failures.append("%s: thumbnails %s, expected %d" % (rel, names[:4], want))
        for name in names:
            if png_size(os.path.join(out, name)) != (128, 128):
                failures.append("%s: %s is not a 128 x 128 PNG" % (rel, name))
    return frames


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    files = frames = 0
    for root, _, names in os.walk(DATA_DIR):
        for name in sorted(names):
            if name.endswith(SKIP_SUFFIXES):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, DATA_DIR)
            n = check_file(args.dump, path, rel, failures)
            if n:
                files += 1
                frames += n
    for failure in failures:
        print("FAIL", failure)
    print("%d native files, %d frames compared" % (files, frames))
    if files < 50:
        print("FAIL: too few native files found; is pydicom's data installed?")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
