#!/usr/bin/python3
"""Cross-checks the decoded samples of compressed frames against DCMTK, GDCM,
OpenJPH's and libjxl's tools.

Every RLE, JPEG, JPEG-LS and JPEG 2000 file of pydicom's data directory is
decoded frame by frame with our decoders and compared with a reference
decoder's native output read by pydicom: dcmdrle for RLE (8-, 16- and 32-bit
samples, grey and colour), dcmdjpeg for JPEG (it turns YCbCr into RGB as we
do), dcmdjpls for JPEG-LS, gdcmconv --raw for JPEG 2000. Then native files
made here from pydicom's files (8 to 32 bits, signed and unsigned, grey and
RGB, one and several frames) are compressed with dcmcrle, dcmcjpeg +e1, +el,
+ee, +eb, dcmcjpls (three interleave modes, near-lossless), gdcmconv --j2k
and --jpegls (and with frames split over 1 KiB fragments, with and without a
basic offset table), decoded by us and compared with the native source
(lossless) or with the reference decoder's output (lossy). The same native
files, a 32-bit one and pydicom's 1-bit liver_1frame.dcm are also written
with their frames in fragments (two per frame, a basic offset table), as they
are (Encapsulated Uncompressed) and deflated by Python's zlib (Deflated Image
Frame Compression); we must give back the native frames exactly. Last, their
frames are encoded with ojph_compress (HTJ2K) and cjxl (JPEG XL, also
recompressing dcmcjpeg's baseline frames), wrapped into files here, and
compared with the source (lossless) or with ojph_expand's / djxl's /
dcmdjpeg's output.

Samples are compared interleaved per pixel, masked to Bits Stored: exactly
for lossless frames, within LOSSY_LEVELS for lossy ones. Files we do not
decode on purpose must fail to decode (EXPECTED_FAILURES); files whose
reference keeps YCbCr while we deliver RGB are in REFERENCE_IS_YCBCR.

Our samples come from `decode_frame --frame-samples K FILE` (the test tree's
tool), else from `quillon-dump --frame-samples K FILE`: see Decoder.

Run with /usr/bin/python3:
    /usr/bin/python3 tests/oracle/test_codecs.py --dump build/tools/quillon-dump
"""

import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import zlib

import numpy as np
import pydicom
from pydicom.dataset import FileMetaDataset
from pydicom.encaps import encapsulate, generate_pixel_data_fragment, generate_pixel_data_frame, get_frame_offsets
from pydicom.filebase import DicomBytesIO
from pydicom.uid import ExplicitVRLittleEndian

DATA_DIR = "/usr/lib/python3/dist-packages/pydicom/data"
RLE = "1.2.840.10008.1.2.5"
J2K = ("1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91")
JPEG_LS = ("1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81")
JPEG_LOSSLESS = ("1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.70")
ENCAPSULATED_UNCOMPRESSED = "1.2.840.10008.1.2.1.98"
DEFLATED_FRAMES = "1.2.840.10008.1.2.8.1"
LOSSY_LEVELS = 2

# Files that must not decode, and why.
EXPECTED_FAILURES = {
    "SC_rgb_jpeg.dcm": "implicit VR data set under a JPEG transfer syntax: the file does not load; dcmdjpeg "
                       "refuses it too",
    "JPEG2000-embedded-sequence-delimiter.dcm": "the fragment's codestream is cut by delimiter bytes inside its "
                                                "SIZ marker; gdcmconv --raw fails on it too",
}

# The stream is YCbCr 4:2:0 although the file says RGB: both reference
# decoders keep YCbCr (they follow the photometric interpretation); we
# deliver RGB, so the reference is converted with the YCbCr formulas first.
REFERENCE_IS_YCBCR = {"SC_rgb_jpeg_lossy_gdcm.dcm"}


class Decoder:
    """Our decoded samples of one frame: (bytes, header fields)."""

    def __init__(self, dump):
        tool = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(dump))), "tests", "decode_frame")
        tool = os.environ.get("QUILLON_DECODE_FRAME", tool)
        self.command = [tool] if os.path.exists(tool) else [dump]

    def frame(self, path, k):
        run = subprocess.run(self.command + ["--frame-samples", str(k), path], capture_output=True)
        if run.returncode != 0:
            return None, run.returncode
        line, _, data = run.stdout.partition(b"\n")
        fields = dict(item.split("=") for item in line.decode().split())
        return data, {key: int(value) for key, value in fields.items()}


def frame_count(ds):
    return int(ds.get("NumberOfFrames", 1) or 1)


def fragment_count(path):
    ds = pydicom.dcmread(path)
    fp = DicomBytesIO(ds.PixelData)
    fp.is_little_endian = True
    get_frame_offsets(fp)
    return sum(1 for _ in generate_pixel_data_fragment(fp))


def interleaved(data, ds, k, planar, bits_stored):
    """Frame k of `data` as a flat array of samples, pixels interleaved,
    masked to `bits_stored` bits."""
    samples = ds.SamplesPerPixel
    dtype = {8: np.uint8, 16: np.dtype("<u2"), 32: np.dtype("<u4")}[ds.BitsAllocated]
    per_frame = ds.Rows * ds.Columns * samples
    values = np.frombuffer(data, dtype=dtype)[k * per_frame:(k + 1) * per_frame]
    if len(values) != per_frame:
        return None
    if samples > 1 and planar:
        values = values.reshape(samples, -1).T.reshape(-1)
    return values.astype(np.int64) & ((1 << bits_stored) - 1)


def ycbcr_to_rgb(values):
    ycc = values.reshape(-1, 3).astype(np.float64)
    y, cb, cr = ycc[:, 0], ycc[:, 1] - 128, ycc[:, 2] - 128
    rgb = np.stack([y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb], axis=1)
    return np.clip(np.round(rgb), 0, 255).astype(np.int64).reshape(-1)


class Checker:
    def __init__(self, decoder, work, verbose):
        self.decoder = decoder
        self.work = work
        self.verbose = verbose
        self.failures = []
        self.checked = 0

    def fail(self, name, text):
        self.failures.append("%s: %s" % (name, text))

    def reference(self, name, command, path):
        out = os.path.join(self.work, "ref_%d.dcm" % self.checked)
        run = subprocess.run(command + [path, out], capture_output=True)
        if run.returncode != 0 or not os.path.exists(out):
            self.fail(name, "%s failed: %s" % (" ".join(command), run.stderr.decode(errors="replace")[:200]))
            return None
        return pydicom.dcmread(out)

    def compare(self, name, path, ref, levels, ycbcr_reference=False):
        """Every frame of `path` decoded by us against native `ref`."""
        self.checked += 1
        ds = pydicom.dcmread(path, stop_before_pixels=True)
        for k in range(frame_count(ds)):
            data, head = self.decoder.frame(path, k)
            if data is None:
                self.fail(name, "frame %d does not decode (exit %d)" % (k, head))
                return
            ours = interleaved(data, ds, 0, head["planar"] == 1, ds.BitsStored)
            theirs = interleaved(ref.PixelData, ref, k, ref.get("PlanarConfiguration", 0) == 1, ds.BitsStored)
            if ours is None or theirs is None:
                self.fail(name, "frame %d: short output" % k)
                return
            if ycbcr_reference:
                theirs = ycbcr_to_rgb(theirs)
            worst = int(np.abs(ours - theirs).max())
            if self.verbose:
                print("%s frame %d: up to %d levels apart (allowed %d)" % (name, k, worst, levels))
            if worst > levels:
                self.fail(name, "frame %d differs by up to %d levels (allowed %d)" % (k, worst, levels))

    def expect_failure(self, name, path):
        self.checked += 1
        data, _ = self.decoder.frame(path, 0)
        if data is not None:
            self.fail(name, "expected no decoded frame")
        elif self.verbose:
            print("%s: not decoded, as expected" % name)


def corpus_files():
    for path in sorted(glob.glob(os.path.join(DATA_DIR, "**", "*.dcm"), recursive=True)):
        try:
            ds = pydicom.dcmread(path, stop_before_pixels=True)
            syntax = str(ds.file_meta.TransferSyntaxUID)
            if "Rows" not in ds:
                continue  # no image (UN_sequence.dcm)
        except Exception:
            continue
        if syntax == RLE or syntax in J2K or syntax in JPEG_LS or syntax.startswith("1.2.840.10008.1.2.4.5") \
                or syntax.startswith("1.2.840.10008.1.2.4.6") or syntax == "1.2.840.10008.1.2.4.70":
            yield path, syntax


def check_corpus(checker):
    for path, syntax in corpus_files():
        name = os.path.basename(path)
        if name in EXPECTED_FAILURES:
            checker.expect_failure(name, path)
            continue
        if syntax == RLE:
            ref = checker.reference(name, ["dcmdrle"], path)
            levels = 0
        elif syntax in J2K:
            ref = checker.reference(name, ["gdcmconv", "--raw"], path)
            levels = 0 if syntax == J2K[0] else LOSSY_LEVELS
        elif syntax in JPEG_LS:
            ref = checker.reference(name, ["dcmdjpls"], path)
            levels = 0
        else:
            ref = checker.reference(name, ["dcmdjpeg"], path)
            levels = 0 if syntax in JPEG_LOSSLESS else LOSSY_LEVELS
        if ref is not None:
            checker.compare(name, path, ref, levels, name in REFERENCE_IS_YCBCR)


def native(path, ds, pixels, photometric, bits_stored, signed):
    """Writes an explicit VR little endian file with these pixels."""
    frames = pixels.shape[0]
    ds = ds.copy()
    ds.file_meta = FileMetaDataset(ds.file_meta)
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.Rows, ds.Columns = pixels.shape[1], pixels.shape[2]
    ds.SamplesPerPixel = 1 if pixels.ndim == 3 else pixels.shape[3]
    ds.PhotometricInterpretation = photometric
    if ds.SamplesPerPixel > 1:
        ds.PlanarConfiguration = 0
    elif "PlanarConfiguration" in ds:
        del ds.PlanarConfiguration
    ds.BitsAllocated = pixels.dtype.itemsize * 8
    ds.BitsStored, ds.HighBit = bits_stored, bits_stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    ds.NumberOfFrames = frames
    for keyword in ("SmallestImagePixelValue", "LargestImagePixelValue", "WindowCenter", "WindowWidth"):
        if keyword in ds:
            delattr(ds, keyword)
    ds.PixelData = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
    ds["PixelData"].VR = "OB" if ds.BitsAllocated == 8 else "OW"
    ds.save_as(path, write_like_original=False)


def made_natives(work):
    """Small native files covering the sample layouts the encoders take."""
    test_files = os.path.join(DATA_DIR, "test_files")
    ct = pydicom.dcmread(os.path.join(test_files, "CT_small.dcm"))
    mr = pydicom.dcmread(os.path.join(test_files, "MR_small.dcm"))
    rgb = pydicom.dcmread(os.path.join(test_files, "SC_rgb_jpeg_dcmd.dcm"))
    ct_pixels = ct.pixel_array.astype(np.int32)
    mr_pixels = mr.pixel_array.astype(np.int32)
    rgb_pixels = rgb.pixel_array[:96, :80]
    grey8 = ((ct_pixels - ct_pixels.min()) * 255 // max(1, ct_pixels.max() - ct_pixels.min())).astype(np.uint8)
    files = {
        "grey8": (ct, grey8[None], "MONOCHROME2", 8, False),
        "grey8_3frames": (ct, np.stack([grey8, grey8[::-1], 255 - grey8]), "MONOCHROME2", 8, False),
        "signed16": (mr, mr_pixels.astype(np.int16)[None], "MONOCHROME2", 16, True),
        "signed16_ct": (ct, ct_pixels.astype(np.int16)[None], "MONOCHROME2", 16, True),
        "unsigned16_2frames": (mr, np.stack([mr_pixels, mr_pixels[:, ::-1] + 30000]).astype(np.uint16),
                               "MONOCHROME2", 16, False),
        "unsigned12": (ct, (ct_pixels - ct_pixels.min()).clip(0, 4095).astype(np.uint16)[None], "MONOCHROME2",
                       12, False),
        "unsigned11": (ct, (ct_pixels - ct_pixels.min()).clip(0, 2047).astype(np.uint16)[None], "MONOCHROME2",
                       11, False),
        "signed12": (ct, ct_pixels.clip(-2048, 2047).astype(np.int16)[None], "MONOCHROME2", 12, True),
        "rgb8": (rgb, rgb_pixels[None], "RGB", 8, False),
        "rgb8_2frames": (rgb, np.stack([rgb_pixels, rgb_pixels[::-1, ::-1]]), "RGB", 8, False),
        "signed32_2frames": (ct, np.stack([ct_pixels * 70001, -ct_pixels * 3]).astype(np.int32), "MONOCHROME2", 32,
                             True),
    }
    made = {}
    for name, (ds, pixels, photometric, bits, signed) in files.items():
        path = os.path.join(work, "native_%s.dcm" % name)
        native(path, ds, pixels, photometric, bits, signed)
        made[name] = (path, bits)
    return made


# Encoders, which native files each takes, and the decoder whose output
# their frames are compared with: None for lossless (the native source).
RGB = lambda name, bits: name.startswith("rgb")
ALL = lambda name, bits: True
# The JPEG, JPEG-LS and JPEG 2000 encoders take up to 16 bits.
UP16 = lambda name, bits: bits <= 16
ENCODERS = [
    ("dcmcrle", ["dcmcrle"], ALL, None),
    ("e1", ["dcmcjpeg", "+e1"], UP16, None),
    ("el", ["dcmcjpeg", "+el"], UP16, None),
    ("ee", ["dcmcjpeg", "+ee"], lambda name, bits: bits <= 12, ["dcmdjpeg"]),
    ("eb", ["dcmcjpeg", "+eb"], lambda name, bits: bits == 8, ["dcmdjpeg"]),
    ("j2k", ["gdcmconv", "--j2k"], UP16, None),
    # Frames split into 1 KiB fragments, with and without an offset table.
    ("e1_fragments", ["dcmcjpeg", "+e1", "+fs", "1"], UP16, None),
    ("eb_fragments_no_table", ["dcmcjpeg", "+eb", "+fs", "1", "-ot"], lambda name, bits: name == "grey8",
     ["dcmdjpeg"]),
    ("dcmcrle_fragments", ["dcmcrle", "+fs", "1"], ALL, None),
    # JPEG-LS: the three interleave modes, near-lossless, fragments with and
    # without a table, and a second encoder.
    ("jls", ["dcmcjpls", "+el"], UP16, None),
    ("jls_sample", ["dcmcjpls", "+el", "+is"], RGB, None),
    ("jls_none", ["dcmcjpls", "+el", "+in"], RGB, None),
    # (dcmcjpls takes no signed samples near-losslessly.)
    ("jls_near", ["dcmcjpls", "+en", "+md", "2"], lambda name, bits: bits <= 16 and not name.startswith("signed"), ["dcmdjpls"]),
    ("jls_near_none", ["dcmcjpls", "+en", "+md", "3", "+in"], RGB, ["dcmdjpls"]),
    # (The small colour frames fit in one 1 KiB fragment.)
    ("jls_fragments", ["dcmcjpls", "+el", "+fs", "1"], lambda name, bits: bits <= 16 and not name.startswith("rgb"), None),
    ("jls_fragments_no_table", ["dcmcjpls", "+el", "+fs", "1", "-ot"],
     lambda name, bits: bits <= 16 and "frames" in name and not name.startswith("rgb"), None),
    ("gdcm_jpegls", ["gdcmconv", "--jpegls"], UP16, None),
]


def in_fragments(source_path, path, syntax, deflated):
    """Writes the native file's frames two fragments each, deflated or not."""
    ds = pydicom.dcmread(source_path)
    frames = frame_count(ds)
    data = bytes(ds.PixelData)
    size = len(data) // frames
    streams = []
    for k in range(frames):
        stream = data[k * size:(k + 1) * size]
        if deflated:
            z = zlib.compressobj(6, zlib.DEFLATED, -15)
            stream = z.compress(stream) + z.flush()
        streams.append(stream)
    # This pydicom does not know the two syntaxes: the file is written under
    # a compressed one whose UID has the same padded length, then renamed.
    stand_in = "1.2.840.10008.1.2.4.50"
    ds.file_meta.TransferSyntaxUID = stand_in
    ds.PixelData = encapsulate(streams, fragments_per_frame=2, has_bot=True)
    ds["PixelData"].VR = "OB"
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)
    with open(path, "rb") as f:
        written = f.read()
    uid = syntax.encode() + b"\0" * (len(stand_in) - len(syntax))
    assert len(uid) == len(stand_in) and written.count(stand_in.encode()) == 1
    with open(path, "wb") as f:
        f.write(written.replace(stand_in.encode(), uid))


def check_native_fragments(checker, work, made):
    sources = {name: path for name, (path, bits) in made.items()}
    sources["liver_1frame"] = os.path.join(DATA_DIR, "test_files", "liver_1frame.dcm")
    for name, source_path in sources.items():
        source = pydicom.dcmread(source_path)
        for label, syntax, deflated in (("encapsulated", ENCAPSULATED_UNCOMPRESSED, False),
                                        ("deflated", DEFLATED_FRAMES, True)):
            case = "%s+%s" % (name, label)
            path = os.path.join(work, "%s_%s.dcm" % (name, label))
            in_fragments(source_path, path, syntax, deflated)
            if fragment_count(path) != 2 * frame_count(source):
                checker.fail(case, "expected two fragments a frame")
            checker.checked += 1
            data = bytes(source.PixelData)
            size = len(data) // frame_count(source)
            for k in range(frame_count(source)):
                ours, _ = checker.decoder.frame(path, k)
                if ours != data[k * size:(k + 1) * size]:
                    checker.fail(case, "frame %d differs from the native frame" % k)


def check_made(checker, work):
    made = made_natives(work)
    check_native_fragments(checker, work, made)
    for name, (path, bits) in made.items():
        source = pydicom.dcmread(path)
        for label, command, takes, reference in ENCODERS:
            if not takes(name, bits):
                continue
            case = "%s+%s" % (name, label)
            encoded = os.path.join(work, "%s_%s.dcm" % (name, label))
            run = subprocess.run(command + [path, encoded], capture_output=True)
            if run.returncode != 0:
                checker.fail(case, "%s failed: %s" % (" ".join(command), run.stderr.decode(errors="replace")[:200]))
                continue
            if label.endswith("_fragments") or label.endswith("_no_table"):
                if fragment_count(encoded) <= frame_count(source):
                    checker.fail(case, "expected more fragments than frames")
            if reference is None:
                checker.compare(case, encoded, source, 0)
            else:
                ref = checker.reference(case, reference, encoded)
                # Near-lossless JPEG-LS decodes to exactly what dcmdjpls gives.
                if ref is not None:
                    checker.compare(case, encoded, ref, 0 if reference == ["dcmdjpls"] else LOSSY_LEVELS)


# HTJ2K and JPEG XL: DCMTK, GDCM and pydicom here do not know their UIDs, so
# each frame of a native file is written out as PGM/PPM (or raw, for signed
# HTJ2K), encoded with the library's own tool and wrapped into a file here.
HTJ2K = {"lossless": "1.2.840.10008.1.2.4.201", "rpcl": "1.2.840.10008.1.2.4.202",
         "lossy": "1.2.840.10008.1.2.4.203"}
JXL = {"lossless": "1.2.840.10008.1.2.4.110", "jpeg": "1.2.840.10008.1.2.4.111",
       "lossy": "1.2.840.10008.1.2.4.112"}
# A compressed syntax pydicom 2 knows, of the same length as the new UIDs: the
# file is written with it and the UID patched afterwards.
PLACEHOLDER = "1.2.840.10008.1.2.4.100"


def frames_of(ds):
    """The frames of a native file as arrays (rows, columns[, samples]), the
    stored bits unsigned (signed samples as their two's complement in Bits
    Stored bits)."""
    pixels = ds.pixel_array.reshape((frame_count(ds), ds.Rows, ds.Columns) + ((3,) if ds.SamplesPerPixel == 3 else ()))
    mask = (1 << ds.BitsStored) - 1
    return [(frame.astype(np.int64) & mask).astype(np.uint16 if ds.BitsAllocated == 16 else np.uint8)
            for frame in pixels]


def write_pnm(path, frame, bits_stored):
    magic = b"P6" if frame.ndim == 3 else b"P5"
    data = frame.astype(">u2" if frame.dtype == np.uint16 else "u1").tobytes()
    with open(path, "wb") as out:
        out.write(b"%s\n%d %d\n%d\n" % (magic, frame.shape[1], frame.shape[0], (1 << bits_stored) - 1) + data)


def read_pnm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1
    width, height, top = int(fields[1]), int(fields[2]), int(fields[3])
    samples = 3 if fields[0] == b"P6" else 1
    dtype = ">u2" if top > 255 else "u1"
    return np.frombuffer(data[at:], dtype=dtype)[:width * height * samples].reshape(
        (height, width) + ((3,) if samples == 3 else ())).astype(np.uint16 if top > 255 else np.uint8)


def ojph(work, frame, ds, options, reference=None):
    """One frame encoded with ojph_compress; with `reference` a list, also its
    ojph_expand decoding is appended to it."""
    signed = ds.PixelRepresentation == 1
    if signed:
        source = os.path.join(work, "frame.raw")
        values = frame.astype(np.int64)
        top = 1 << (ds.BitsStored - 1)
        values = np.where(values >= top, values - (1 << ds.BitsStored), values)
        values.astype("<i2" if ds.BitsAllocated == 16 else "i1").tofile(source)
        extra = ["-dims", "{%d,%d}" % (ds.Columns, ds.Rows), "-num_comps", "1", "-signed", "true",
                 "-bit_depth", str(ds.BitsStored), "-downsamp", "{1,1}"]
    else:
        source = os.path.join(work, "frame.ppm" if frame.ndim == 3 else "frame.pgm")
        write_pnm(source, frame, ds.BitsStored)
        extra = []
    coded = os.path.join(work, "frame.j2c")
    subprocess.run(["ojph_compress", "-i", source, "-o", coded] + extra + options, check=True, capture_output=True)
    if reference is not None:
        if signed:
            decoded = os.path.join(work, "back.raw")
            subprocess.run(["ojph_expand", "-i", coded, "-o", decoded], check=True, capture_output=True)
            # ojph_expand's raw output keeps overshooting lossy samples;
            # Bits Stored holds them only within its range.
            values = np.fromfile(decoded, dtype="<i2" if ds.BitsAllocated == 16 else "i1").astype(np.int64)
            half = 1 << (ds.BitsStored - 1)
            reference.append(values.clip(-half, half - 1).reshape(frame.shape) & ((1 << ds.BitsStored) - 1))
        else:
            decoded = os.path.join(work, "back.ppm" if frame.ndim == 3 else "back.pgm")
            subprocess.run(["ojph_expand", "-i", coded, "-o", decoded], check=True, capture_output=True)
            reference.append(read_pnm(decoded))
    with open(coded, "rb") as f:
        return f.read()


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_png(path, frame, bits_stored):
    """A PNG of the frame whose significant bits (sBIT) are Bits Stored: the
    samples are scaled to their 8 or 16 bits by bit replication, as PNG keeps
    them (cjxl reads PGM files of other maximum values imprecisely, and
    plain shifted samples lose their top value)."""
    depth = 16 if frame.dtype == np.uint16 else 8
    samples = 3 if frame.ndim == 3 else 1
    shift = depth - bits_stored
    values = frame.astype(np.uint32)
    shifted = values << shift
    while shift > 0:
        shift -= bits_stored
        shifted |= (values << shift) if shift >= 0 else (values >> -shift)
    rows = b"".join(b"\0" + row.astype(">u2" if depth == 16 else "u1").tobytes() for row in shifted)
    header = struct.pack(">IIBBBBB", frame.shape[1], frame.shape[0], depth, 2 if samples == 3 else 0, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"sBIT", bytes([bits_stored] * samples))
                  + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


def jxl(work, frame, ds, options, reference=None):
    """One frame encoded with cjxl (from PNG, or from the JPEG file given as
    options[0] when it ends in .jpg); djxl's decoding appended to `reference`
    when given."""
    if options and options[0].endswith(".jpg"):
        source, options = options[0], options[1:]
    else:
        source = os.path.join(work, "frame.png")
        write_png(source, frame, ds.BitsStored)
    coded = os.path.join(work, "frame.jxl")
    subprocess.run(["cjxl", source, coded] + options, check=True, capture_output=True)
    if reference is not None:
        decoded = os.path.join(work, "back.ppm" if frame.ndim == 3 else "back.pgm")
        subprocess.run(["djxl", coded, decoded], check=True, capture_output=True)
        reference.append(read_pnm(decoded))
    with open(coded, "rb") as f:
        return f.read()


def wrap(source_path, frames, uid, out, per_frame=1, table=True):
    """A copy of the native file with `frames` as its encapsulated pixel data."""
    from pydicom.encaps import encapsulate
    ds = pydicom.dcmread(source_path)
    ds.file_meta.TransferSyntaxUID = PLACEHOLDER
    ds.PixelData = encapsulate(frames, fragments_per_frame=per_frame, has_bot=table)
    ds["PixelData"].VR = "OB"
    ds["PixelData"].is_undefined_length = True
    ds.save_as(out, write_like_original=False)
    with open(out, "rb") as f:
        data = f.read()
    placeholder = PLACEHOLDER.encode() + b"\0"
    assert data.count(placeholder) == 1
    with open(out, "wb") as f:
        f.write(data.replace(placeholder, uid.encode() + b"\0"))


def reference_file(source_path, work, frames):
    """A native dataset like the source's holding the reference frames."""
    ds = pydicom.dcmread(source_path)
    stacked = np.stack(frames).astype(np.uint16 if ds.BitsAllocated == 16 else np.uint8)
    ds.PixelData = stacked.astype(stacked.dtype.newbyteorder("<")).tobytes()
    ds.PixelRepresentation = 0
    return ds


# label, encoder, its options, syntax, fragments per frame, basic offset
# table, which native files, levels allowed against the reference decoder
# (None: lossless, exactly the source).
WRAPPED = [
    ("htj2k", ojph, ["-reversible", "true"], HTJ2K["lossless"], 1, True, UP16, None),
    ("htj2k_rpcl", ojph, ["-reversible", "true", "-prog_order", "RPCL"], HTJ2K["rpcl"], 1, True, UP16, None),
    # OpenJPEG and OpenJPH round the irreversible wavelet a level apart.
    ("htj2k_lossy", ojph, ["-qstep", "0.005"], HTJ2K["lossy"], 1, True, UP16, 1),
    ("htj2k_fragments_no_table", ojph, ["-reversible", "true"], HTJ2K["lossless"], 3, False,
     lambda name, bits: bits <= 16 and "frames" in name, None),
    ("jxl", jxl, ["-d", "0"], JXL["lossless"], 1, True, UP16, None),
    ("jxl_container", jxl, ["-d", "0", "--container=1"], JXL["lossless"], 1, True, UP16, None),
    ("jxl_lossy", jxl, ["-d", "1"], JXL["lossy"], 1, True, lambda name, bits: bits == 8, 1),
    ("jxl_fragments_no_table", jxl, ["-d", "0"], JXL["lossless"], 2, False, lambda name, bits: bits <= 16 and "frames" in name,
     None),
]


def check_wrapped(checker, work):
    for name, (path, bits) in made_natives(work).items():
        source = pydicom.dcmread(path)
        frames = frames_of(source)
        for label, encode, options, uid, per_frame, table, takes, levels in WRAPPED:
            if not takes(name, bits):
                continue
            case = "%s+%s" % (name, label)
            reference = [] if levels is not None else None
            try:
                coded = [encode(work, frame, source, options, reference) for frame in frames]
            except subprocess.CalledProcessError as e:
                checker.fail(case, "%s failed: %s" % (" ".join(e.cmd[:1]), e.stderr.decode(errors="replace")[:200]))
                continue
            encoded = os.path.join(work, "%s_%s.dcm" % (name, label))
            wrap(path, coded, uid, encoded, per_frame, table)
            if per_frame > 1 and fragment_count(encoded) <= frame_count(source):
                checker.fail(case, "expected more fragments than frames")
            if levels is None:
                checker.compare(case, encoded, source, 0)
            else:
                checker.compare(case, encoded, reference_file(path, work, reference), levels)
    # JPEG recompression: dcmcjpeg's baseline frames recompressed by cjxl,
    # against dcmdjpeg's decoding of the same JPEG stream.
    for name in ("grey8", "rgb8_2frames"):
        path = os.path.join(work, "native_%s.dcm" % name)
        baseline = os.path.join(work, "%s_recompress_eb.dcm" % name)
        subprocess.run(["dcmcjpeg", "+eb", path, baseline], check=True, capture_output=True)
        ds = pydicom.dcmread(baseline)
        coded = []
        for k, frame in enumerate(generate_pixel_data_frame(ds.PixelData, frame_count(ds))):
            jpg = os.path.join(work, "frame.jpg")
            with open(jpg, "wb") as f:
                f.write(frame)
            coded.append(jxl(work, None, ds, [jpg, "--lossless_jpeg=1"]))
        case = "%s+jxl_jpeg_recompression" % name
        encoded = os.path.join(work, "%s_jxl_jpeg.dcm" % name)
        wrap(baseline, coded, JXL["jpeg"], encoded)
        ref = checker.reference(case, ["dcmdjpeg"], baseline)
        # libjxl and libjpeg upsample the 4:2:2 chroma slightly differently.
        if ref is not None:
            checker.compare(case, encoded, ref, LOSSY_LEVELS + 2)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    parser.add_argument("--verbose", action="store_true", help="one line per frame compared")
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    for tool in ("dcmdrle", "dcmdjpeg", "dcmcrle", "dcmcjpeg", "dcmcjpls", "dcmdjpls", "gdcmconv", "ojph_compress",
                 "ojph_expand", "cjxl", "djxl"):
        if not shutil.which(tool):
            sys.exit("missing reference tool %s (dcmtk, libgdcm-tools, openjph-tools, libjxl-tools)" % tool)
    checker = Checker(Decoder(args.dump), None, args.verbose)
    with tempfile.TemporaryDirectory() as work:
        checker.work = work
        check_corpus(checker)
        check_made(checker, work)
        check_wrapped(checker, work)
    for line in checker.failures:
        print("FAIL", line)
    print("%d files checked, %d failures" % (checker.checked, len(checker.failures)))
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
