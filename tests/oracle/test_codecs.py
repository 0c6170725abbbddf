#!/usr/bin/python3
"""Cross-checks the decoded samples of compressed frames against DCMTK and GDCM.

Every RLE, JPEG and JPEG 2000 file of pydicom's data directory is decoded
frame by frame with our decoders and compared with a reference decoder's
native output read by pydicom: dcmdrle for RLE (8-, 16- and 32-bit samples,
grey and colour), dcmdjpeg for JPEG (it turns
YCbCr into RGB as we do), gdcmconv --raw for JPEG 2000. Then native files
made here from pydicom's files (8 and 16 bits, signed and unsigned, grey
and RGB, one and several frames) are compressed with dcmcrle, dcmcjpeg +e1,
+el, +ee, +eb and gdcmconv --j2k (and with frames split over 1 KiB
fragments, with and without a basic offset table), decoded by us and compared with the native
source (lossless) or with dcmdjpeg's output (lossy). The same native files,
a 32-bit one and pydicom's 1-bit liver_1frame.dcm are also written with their
frames in fragments (two per frame, a basic offset table), as they are
(Encapsulated Uncompressed) and deflated by Python's zlib (Deflated Image
Frame Compression); we must give back the native frames exactly.

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
import subprocess
import sys
import tempfile
import warnings
import zlib

import numpy as np
import pydicom
from pydicom.dataset import FileMetaDataset
from pydicom.encaps import encapsulate, generate_pixel_data_fragment, get_frame_offsets
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
    "MR_small_jpeg_ls_lossless.dcm": "JPEG-LS is not decoded",
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


# Encoders, which native files each takes, lossless or not.
ENCODERS = [
    ("dcmcrle", ["dcmcrle"], lambda name, bits: True, True),
    ("e1", ["dcmcjpeg", "+e1"], lambda name, bits: bits <= 16, True),
    ("el", ["dcmcjpeg", "+el"], lambda name, bits: bits <= 16, True),
    ("ee", ["dcmcjpeg", "+ee"], lambda name, bits: bits <= 12, False),
    ("eb", ["dcmcjpeg", "+eb"], lambda name, bits: bits == 8, False),
    ("j2k", ["gdcmconv", "--j2k"], lambda name, bits: bits <= 16, True),
    # Frames split into 1 KiB fragments, with and without an offset table.
    ("e1_fragments", ["dcmcjpeg", "+e1", "+fs", "1"], lambda name, bits: bits <= 16, True),
    ("eb_fragments_no_table", ["dcmcjpeg", "+eb", "+fs", "1", "-ot"], lambda name, bits: name == "grey8",
     False),
    ("dcmcrle_fragments", ["dcmcrle", "+fs", "1"], lambda name, bits: True, True),
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
        for label, command, takes, lossless in ENCODERS:
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
            if lossless:
                checker.compare(case, encoded, source, 0)
            else:
                ref = checker.reference(case, ["dcmdjpeg"], encoded)
                if ref is not None:
                    checker.compare(case, encoded, ref, LOSSY_LEVELS)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    parser.add_argument("--verbose", action="store_true", help="one line per frame compared")
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    for tool in ("dcmdrle", "dcmdjpeg", "dcmcrle", "dcmcjpeg", "gdcmconv"):
        if not shutil.which(tool):
            sys.exit("missing reference tool %s (dcmtk, libgdcm-tools)" % tool)
    checker = Checker(Decoder(args.dump), None, args.verbose)
    with tempfile.TemporaryDirectory() as work:
        checker.work = work
        check_corpus(checker)
        check_made(checker, work)
    for line in checker.failures:
        print("FAIL", line)
    print("%d files checked, %d failures" % (checker.checked, len(checker.failures)))
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
