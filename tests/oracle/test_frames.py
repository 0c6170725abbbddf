#!/usr/bin/python3
"""Cross-checks frame samples and thumbnails of quillon-dump against pydicom.

For every file under pydicom's data directory that our loader accepts and
whose pixel data is native:
  * `quillon-dump --frame-samples K FILE` must equal frame K of pydicom's
    Pixel Data value, byte for byte (for big-endian files, after swapping
    16- and 32-bit samples, since our values are held little endian);
  * `quillon-dump --thumbnails DIR FILE` must write one 128 x 128 picture
    per frame for every image we can show (8-bit images of a known colour
    model, 1-bit grey, 12-, 16- and 32-bit images), and none for the others.
Then the pictures of the frames the 16-bit display path does not take as
they are (PICTURE_FILES: 1-bit grey, 32-bit grey native and RLE, 16- and
32-bit colour RLE) are compared with a reference made here from pydicom's
pixels: the bilinear scaling of the thumbnail (source position i x scale,
truncated) and the window over the sample range, within PICTURE_LEVELS grey
levels.

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

import numpy as np
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
    if bits == 1:
        return frames if fields["photometric"] in ("MONOCHROME1", "MONOCHROME2") else 0
    return frames if bits in (12, 16, 32) else 0


PICTURE_FILES = ["liver_1frame.dcm", "liver_expb_1frame.dcm", "rtdose_1frame.dcm", "rtdose.dcm",
                 "rtdose_expb.dcm", "rtdose_expb_1frame.dcm", "rtdose_rle_1frame.dcm",
                 "SC_rgb_rle_16bit.dcm", "SC_rgb_rle_16bit_2frame.dcm", "SC_rgb_rle_32bit_2frame.dcm"]
PICTURE_LEVELS = 2


def read_png(path):
    """The RGB pixels of one of our thumbnails (8-bit RGB, filters 0-4)."""
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack(">II", data[16:24])
    pos, idat = 8, b""
    while pos + 12 <= len(data):
        (n,) = struct.unpack(">I", data[pos:pos + 4])
        if data[pos + 4:pos + 8] == b"IDAT":
            idat += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    raw, stride = zlib.decompress(idat), 3 * width
    out, prev = np.zeros((height, stride), np.int64), np.zeros(stride, np.int64)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = np.frombuffer(raw, np.uint8, stride, y * (stride + 1) + 1).astype(np.int64)
        row = np.zeros(stride, np.int64)
        for x in range(stride):
            a = row[x - 3] if x >= 3 else 0
            b, c = prev[x], (prev[x - 3] if x >= 3 else 0)
            pred = {0: 0, 1: a, 2: b, 3: (a + b) // 2}.get(kind)
            if pred is None:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
            row[x] = (line[x] + pred) & 255
        out[y], prev = row, row
    return out.reshape(height, width, 3)


def bilinear(plane, size=128):
    """A square plane scaled to size x size: source position i x scale, the
    four neighbours weighted, truncated toward zero."""
    n = plane.shape[0]
    pos = np.arange(size) * (n / size)
    first = np.minimum(pos.astype(np.int64), n - 1)
    second = np.minimum(first + 1, n - 1)
    f = pos - first
    rows = plane[first] * (1 - f)[:, None] + plane[second] * f[:, None]
    both = rows[:, first] * (1 - f)[None, :] + rows[:, second] * f[None, :]
    return np.trunc(both)


def reference_picture(ds, k):
    """Frame k as our thumbnail should show it, from pydicom's pixels."""
    pixels = ds.pixel_array
    frame = pixels[k] if int(ds.get("NumberOfFrames", 1) or 1) > 1 else pixels
    if ds.SamplesPerPixel == 3:
        top = (frame.astype(np.int64) >> (ds.BitsStored - 8)) & 255
        return np.stack([bilinear(top[:, :, c].astype(np.float64)) for c in range(3)], axis=2)
    if ds.BitsAllocated == 1:
        grey = bilinear(frame.astype(np.float64) * 255)
    else:
        scaled = bilinear(frame.astype(np.float64))
        low, high = float(frame.min()), float(frame.max())
        if low >= 0 and high <= 255:
            low, high = 0.0, 255.0
        # The window over the range: centre the middle, width the range + 1.
        centre, width = low + (high - low) // 2, high - low + 1
        low, high = centre - width // 2 + 1, centre + width // 2
        grey = np.clip(np.trunc((scaled - low) / (high - low) * 255 + 0.5), 0, 255)
    if ds.PhotometricInterpretation == "MONOCHROME1":
        grey = 255 - grey
    return np.stack([grey] * 3, axis=2)


def check_pictures(dump, failures):
    for name in PICTURE_FILES:
        path = os.path.join(DATA_DIR, "test_files", name)
        ds = pydicom.dcmread(path)
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([dump, "--thumbnails", out, path], capture_output=True)
            for k in range(int(ds.get("NumberOfFrames", 1) or 1)):
                png = os.path.join(out, "thumb-%04d.png" % k)
                if not os.path.exists(png):
                    failures.append("%s: frame %d has no thumbnail" % (name, k))
                    continue
                worst = int(np.abs(read_png(png) - reference_picture(ds, k)).max())
                if worst > PICTURE_LEVELS:
                    failures.append("%s: frame %d's thumbnail is up to %d levels from the reference" % (name, k, worst))


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
        elif int(fields["bits_allocated"]) == 32:
            data = np.frombuffer(data, ">u4").astype("<u4").tobytes()
        elif int(fields["bits_allocated"]) not in (1, 8):
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


def made_file(path, rows, columns, frames, bits, pixels_keyword, values):
    """A native explicit VR little endian file of MONOCHROME2 frames written by pydicom."""
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.uid import ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    ds.file_meta.MediaStorageSOPInstanceUID = "1.2.3.4"
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.SOPClassUID, ds.SOPInstanceUID, ds.Modality = ds.file_meta.MediaStorageSOPClassUID, "1.2.3.4", "OT"
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.NumberOfFrames, ds.Rows, ds.Columns, ds.BitsAllocated = frames, rows, columns, bits
    if bits == 1:
        ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 1, 0, 0
    setattr(ds, pixels_keyword, values)
    ds.save_as(path, write_like_original=False)
    return pydicom.dcmread(path)


def float_reference(frame):
    """A float frame as our thumbnail should show it: the window over its
    finite range, NaN and -Inf as its lowest sample, +Inf as its highest."""
    finite = frame[np.isfinite(frame)]
    low, high = float(finite.min()), float(finite.max())
    shown = np.where(np.isnan(frame) | (frame == -np.inf), low, np.where(frame == np.inf, high, frame))
    # Windowed to grey levels first, then scaled (the samples are no integers).
    grey = bilinear(np.clip(np.trunc((shown.astype(np.float64) - low) / (high - low) * 255 + 0.5), 0, 255))
    return np.stack([grey] * 3, axis=2)


def check_made(dump, failures):
    """Float and Double Float Pixel Data, and 1-bit frames that do not end on
    a byte, written by pydicom: every frame's samples as pydicom reads them
    (1-bit ones packed from bit 0), frame nodes over the bytes that hold each
    frame, and thumbnails as the reference pictures show them."""
    ramp = np.tile(np.arange(32, dtype=np.float64) * 0.37 - 5.5, (32, 1))
    floats = np.stack([ramp, ramp * 3 + 1000]).astype(np.float32)
    floats[1, 0, :3] = [np.nan, np.inf, -np.inf]
    patterns = np.zeros((3, 5, 5), np.uint8)
    patterns[0] = np.eye(5, dtype=np.uint8)
    patterns[1] = np.fliplr(np.eye(5, dtype=np.uint8))
    patterns[1][2, :] = 1
    patterns[2][:, 1] = 1
    patterns[2][4, :] = 1
    bits = np.packbits(patterns.ravel(), bitorder="little").tobytes()
    cases = [
        ("float32", (32, 32, 2, 32, "FloatPixelData", floats.tobytes()), "(7FE0,0008)  Float Pixel Data"),
        ("float64", (32, 32, 1, 64, "DoubleFloatPixelData", (ramp / 7).tobytes()),
         "(7FE0,0009)  Double Float Pixel Data"),
        ("bits_5x5", (5, 5, 3, 1, "PixelData", bits + b"\0" * (len(bits) % 2)), "(7FE0,0010)  Frame Data"),
    ]
    with tempfile.TemporaryDirectory() as work:
        for name, args, label in cases:
            path = os.path.join(work, name + ".dcm")
            ds = made_file(path, *args)
            pixels = ds.pixel_array
            frames = args[2]
            if frames == 1:
                pixels = pixels[None]
            tree = [line.split("\t") for line in subprocess.run([dump, path], capture_output=True).stdout.decode().splitlines()]
            element = [row for row in tree if row[0] == "0" and row[-1] == label]
            nodes = [row for row in tree if row[0] == "1" and row[1].startswith("0000,")]
            if len(element) != 1 or len(nodes) != frames:
                failures.append("%s: %d elements labelled %r, %d frame nodes" % (name, len(element), label, len(nodes)))
                continue
            value = int(element[0][4])
            frame_bits = args[0] * args[1] * args[3]
            for k in range(frames):
                first, last = k * frame_bits // 8, ((k + 1) * frame_bits + 7) // 8 - 1
                if (int(nodes[k][6]), int(nodes[k][7])) != (value + first, value + last):
                    failures.append("%s: frame %d's node spans %s-%s, not %d-%d" %
                                    (name, k, nodes[k][6], nodes[k][7], value + first, value + last))
                if args[3] == 1:
                    want = np.packbits(pixels[k].ravel(), bitorder="little").tobytes()
                else:
                    want = pixels[k].astype(pixels.dtype.newbyteorder("<")).tobytes()
                run = subprocess.run([dump, "--frame-samples", str(k), path], capture_output=True)
                if run.stdout != want:
                    failures.append("%s: frame %d's samples differ from pydicom's" % (name, k))
            with tempfile.TemporaryDirectory() as out:
                subprocess.run([dump, "--thumbnails", out, path], capture_output=True)
                for k in range(frames):
                    png = os.path.join(out, "thumb-%04d.png" % k)
                    if not os.path.exists(png):
                        failures.append("%s: frame %d has no thumbnail" % (name, k))
                        continue
                    got = read_png(png)
                    want = reference_picture(ds, k) if args[3] == 1 else float_reference(pixels[k])
                    worst = int(np.abs(got - want).max())
                    if worst > PICTURE_LEVELS:
                        failures.append("%s: frame %d's thumbnail is up to %d levels from the reference" % (name, k, worst))
    return len(cases)


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
    check_pictures(args.dump, failures)
    made = check_made(args.dump, failures)
    for failure in failures:
        print("FAIL", failure)
    print("%d native files, %d frames compared, %d files' pictures, %d files made here" %
          (files, frames, len(PICTURE_FILES), made))
    if files < 50:
        print("FAIL: too few native files found; is pydicom's data installed?")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
