#!/usr/bin/python3
"""Writes the seeds of the codec fuzzers into fuzz/seeds-rle, -jpeg, -j2k,
-jls, -htj2k, -jxl and -deflate.

Each seed is six bytes describing the frame (see fuzz/FrameFuzzInput.h)
followed by the first frame's compressed bytes, taken from small files of
pydicom's test data and from files made here with dcmcrle, dcmcjpeg,
dcmcjpls and gdcmconv X; the HTJ2K and JPEG XL seeds are codestreams that
ojph_compress and cjxl make of pydicom's small images. The deflate seeds are
native frames of pydicom's test data deflated here (raw deflate, RFC 1951),
as Deflated Image Frame Compression stores them.
Run with /usr/bin/python3; the output is deterministic for given tools.
"""

import os
import struct
import subprocess
import sys
import tempfile
import zlib

import numpy as np

import pydicom
from pydicom.encaps import generate_pixel_data_frame

DATA = "/usr/lib/python3/dist-packages/pydicom/data/test_files"
HERE = os.path.dirname(os.path.abspath(__file__))
PHOTOMETRIC = {"MONOCHROME2": 0, "MONOCHROME1": 1, "PALETTE COLOR": 2, "RGB": 3, "YBR_FULL": 4,
               "YBR_FULL_422": 5}
SAMPLES = [1, 3, 0, 4, 2, 16]
BITS = [8, 16, 12, 32, 1, 24]
LIMIT = 100 * 1024


def header(ds):
    rows, columns = ds.Rows - 1, ds.Columns - 1
    if rows > 511 or columns > 511:
        return None
    photometric = PHOTOMETRIC.get(str(ds.get("PhotometricInterpretation", "")), 6)
    flags = (rows >> 8) | (columns >> 8) << 1 | (4 if ds.get("PlanarConfiguration", 0) == 1 else 0) | photometric << 4
    return bytes([rows & 0xFF, columns & 0xFF, flags, SAMPLES.index(ds.SamplesPerPixel),
                  BITS.index(ds.BitsAllocated), ds.BitsStored & 0xFF])


def seed(path):
    if isinstance(path, bytes):
        return path
    ds = pydicom.dcmread(path)
    head = header(ds)
    if head is None:
        return None
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    return head + next(generate_pixel_data_frame(ds.PixelData, frames))


def deflated_seed(path):
    ds = pydicom.dcmread(path)
    head = header(ds)
    if head is None:
        return None
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    data = bytes(ds.PixelData)
    size = len(data) // frames
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    return head + z.compress(data[:size]) + z.flush()


def made(tmp, name, command, source):
    out = os.path.join(tmp, name + ".dcm")
    subprocess.run(command + [os.path.join(DATA, source), out], check=True, capture_output=True)
    return out


def encoded(tmp, name, source, command):
    """A seed of a codestream made by `command` (ojph_compress or cjxl, given
    the input and output paths) from the first frame of a pydicom file,
    written as PGM/PPM (PNG for cjxl, which reads other PGM depths imprecisely)."""
    ds = pydicom.dcmread(os.path.join(DATA, source))
    pixels = ds.pixel_array
    if int(ds.get("NumberOfFrames", 1) or 1) > 1:
        pixels = pixels[0]
    bits = int(ds.BitsStored)
    values = pixels.astype(np.int64) & ((1 << bits) - 1)
    wide = ds.BitsAllocated > 8
    colour = values.ndim == 3
    if command[0] == "cjxl":
        path = os.path.join(tmp, name + ".png")
        depth = 16 if wide else 8
        scaled = (values * ((1 << depth) - 1) + ((1 << bits) - 1) // 2) // ((1 << bits) - 1)
        rows = b"".join(b"\0" + row.astype(">u2" if wide else "u1").tobytes() for row in scaled)
        chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
        header = struct.pack(">IIBBBBB", ds.Columns, ds.Rows, depth, 2 if colour else 0, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"sBIT", bytes([bits] * (3 if colour else 1)))
                    + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    else:
        path = os.path.join(tmp, name + (".ppm" if colour else ".pgm"))
        with open(path, "wb") as f:
            f.write(b"%s\n%d %d\n%d\n" % (b"P6" if colour else b"P5", ds.Columns, ds.Rows, (1 << bits) - 1)
                    + values.astype(">u2" if wide else "u1").tobytes())
    out = os.path.join(tmp, name + ".out")
    subprocess.run(command[:1] + [path, out] + command[1:] if command[0] == "cjxl"
                   else command[:1] + ["-i", path, "-o", out] + command[1:], check=True, capture_output=True)
    with open(out, "rb") as f:
        return header_of(ds) + f.read()


def header_of(ds):
    head = header(ds)
    # The pixel representation has no byte of its own: the seeds are unsigned.
    return head


def main():
    with tempfile.TemporaryDirectory() as tmp:
        sets = {
            "rle": [("MR_small_RLE", os.path.join(DATA, "MR_small_RLE.dcm")),
                    ("SC_rgb_rle", os.path.join(DATA, "SC_rgb_rle.dcm")),
                    ("rtdose_rle_1frame", os.path.join(DATA, "rtdose_rle_1frame.dcm")),
                    ("made_rgb_small_odd", made(tmp, "rle_odd", ["dcmcrle"], "SC_rgb_small_odd.dcm"))],
            "jpeg": [("SC_rgb_small_odd_jpeg", os.path.join(DATA, "SC_rgb_small_odd_jpeg.dcm")),
                     ("SC_rgb_dcmtk_eb_cy_s2", os.path.join(DATA, "SC_rgb_dcmtk_+eb+cy+s2.dcm")),
                     ("SC_jpeg_no_color_transform", os.path.join(DATA, "SC_jpeg_no_color_transform.dcm")),
                     ("made_mr_e1", made(tmp, "e1", ["dcmcjpeg", "+e1"], "MR_small.dcm")),
                     ("made_mr_ee", made(tmp, "ee", ["dcmcjpeg", "+ee"], "MR_small.dcm")),
                     ("made_odd_el", made(tmp, "el", ["dcmcjpeg", "+el"], "SC_rgb_small_odd.dcm"))],
            "j2k": [("693_J2KI", os.path.join(DATA, "693_J2KI.dcm")),
                    ("MR_small_jp2klossless", os.path.join(DATA, "MR_small_jp2klossless.dcm")),
                    ("JPEG2000", os.path.join(DATA, "JPEG2000.dcm")),
                    ("made_ct_j2k", made(tmp, "j2k", ["gdcmconv", "--j2k"], "CT_small.dcm"))],
            "jls": [("MR_small_jpeg_ls_lossless", os.path.join(DATA, "MR_small_jpeg_ls_lossless.dcm")),
                    ("made_rgb_line", made(tmp, "jls_line", ["dcmcjpls", "+el", "+il"], "SC_rgb_small_odd.dcm")),
                    ("made_rgb_none", made(tmp, "jls_none", ["dcmcjpls", "+el", "+in"], "SC_rgb_small_odd.dcm")),
                    ("made_rgb_near", made(tmp, "jls_near", ["dcmcjpls", "+en", "+md", "3"], "SC_rgb_small_odd.dcm"))],
            "htj2k": [("ojph_mr", encoded(tmp, "ojph_mr", "MR_small.dcm", ["ojph_compress", "-reversible", "true"])),
                      ("ojph_rgb_rpcl", encoded(tmp, "ojph_rgb", "SC_rgb_small_odd.dcm",
                                                ["ojph_compress", "-reversible", "true", "-prog_order", "RPCL"])),
                      ("ojph_ct_lossy", encoded(tmp, "ojph_ct", "CT_small.dcm", ["ojph_compress", "-qstep", "0.01"]))],
            "jxl": [("cjxl_mr", encoded(tmp, "cjxl_mr", "MR_small.dcm", ["cjxl", "-d", "0"])),
                    ("cjxl_rgb", encoded(tmp, "cjxl_rgb", "SC_rgb_small_odd.dcm", ["cjxl", "-d", "0"])),
                    ("cjxl_rgb_container", encoded(tmp, "cjxl_rgbc", "SC_rgb_small_odd.dcm",
                                                   ["cjxl", "-d", "1", "--container=1"]))],
            "deflate": [("MR_small", os.path.join(DATA, "MR_small.dcm")),
                        ("SC_rgb_small_odd", os.path.join(DATA, "SC_rgb_small_odd.dcm")),
                        ("liver_1frame", os.path.join(DATA, "liver_1frame.dcm")),
                        ("rtdose_1frame", os.path.join(DATA, "rtdose_1frame.dcm"))],
        }
        for codec, files in sets.items():
            folder = os.path.join(HERE, "seeds-" + codec)
            os.makedirs(folder, exist_ok=True)
            total = 0
            for name, path in files:
                data = deflated_seed(path) if codec == "deflate" else seed(path)
                if data is None:
                    continue
                total += len(data)
                with open(os.path.join(folder, name + ".bin"), "wb") as f:
                    f.write(data)
            print("%s: %d bytes" % (codec, total))
            if total > LIMIT:
                sys.exit("seed set %s is larger than %d bytes" % (codec, LIMIT))


if __name__ == "__main__":
    main()
