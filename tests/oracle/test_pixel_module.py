#!/usr/bin/python3
"""Cross-checks the pixel description of quillon-dump against pydicom.

For every file under pydicom's data directory that our loader accepts,
`quillon-dump --pixel-module FILE` must agree with pydicom's reading of the
same file on Rows, Columns, Number of Frames, Bits Allocated, Bits Stored,
Samples per Pixel, Pixel Representation, Planar Configuration, the
compression name of the Transfer Syntax UID and the photometric
interpretation (when pydicom reads one that we have a predicate for). Native
pixel data must be cut into the number of frames and the frame size that
pydicom's values give (Rows x Columns x Bits Allocated x Samples / 8, two
thirds of that for YBR_FULL_422), and pydicom's Pixel Data value must hold
that many bytes; encapsulated pixel data has no native frames. Files the
loader rejects are not compared (another cross-check covers load outcomes).

An absent element reads as 0 on our side. Where our rules differ from
pydicom on purpose, the file is listed below with the reason and our exact
value; the script fails when a listed file no longer shows that value, or
no longer differs at all, so the lists stay exact:
  * FRAMES_FROM_ROWS: no Number of Frames but Rows: we count one frame.
  * EXPECTED_DIFFERENCES: everything else, file by file.

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_pixel_module.py --dump build/tools/quillon-dump
"""

import argparse
import os
import subprocess
import sys
import warnings

import pydicom

DATA_DIR = "/usr/lib/python3/dist-packages/pydicom/data"
SKIP_SUFFIXES = (".py", ".pyc", ".json")

# Compression name of each known Transfer Syntax UID; any other UID, or an
# empty value, is "UNKNOWN", and a data set without one is "NONE".
COMPRESSION = {}
for uid in ("1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.1.99",
            "1.2.840.10008.1.2.2", "1.2.840.10008.1.20"):
    COMPRESSION[uid] = "NONE"
for n in (50, 51, 52, 53, 54, 55, 56, 60, 61, 62, 63, 64):
    COMPRESSION["1.2.840.10008.1.2.4.%d" % n] = "JPEG"
for n in (57, 58, 59, 65, 66, 70):
    COMPRESSION["1.2.840.10008.1.2.4.%d" % n] = "JPEG Lossless"
COMPRESSION.update({
    "1.2.840.10008.1.2.4.80": "JPEG-LS Lossless",
    "1.2.840.10008.1.2.4.81": "JPEG-LS Lossy",
    "1.2.840.10008.1.2.4.90": "JPEG2000 Lossless",
    "1.2.840.10008.1.2.4.91": "JPEG2000 Lossy",
    "1.2.840.10008.1.2.5": "RLE",
})
BIG_ENDIAN = "1.2.840.10008.1.2.2"

PHOTOMETRIC_TERMS = {"RGB", "CMYK", "ARGB", "YBR_FULL", "YBR_FULL_422", "YBR_PARTIAL_422", "YBR_ICT",
                     "PALETTE COLOR", "MONOCHROME1", "MONOCHROME2"}

COMPARED = ("rows", "columns", "frames", "bits_allocated", "bits_stored", "samples",
            "pixel_representation", "planar", "compression", "photometric", "native_frames", "frame_size")

# Files without Number of Frames whose Rows give them one frame on our side
# (pydicom has no value; we count 1).
FRAMES_FROM_ROWS = {
    "charset_files/chrArab.dcm", "charset_files/chrFren.dcm", "charset_files/chrFrenMulti.dcm",
    "charset_files/chrGerm.dcm", "charset_files/chrGreek.dcm", "charset_files/chrH31.dcm",
    "charset_files/chrH32.dcm", "charset_files/chrHbrw.dcm", "charset_files/chrI2.dcm",
    "charset_files/chrJapMulti.dcm", "charset_files/chrJapMultiExplicitIR6.dcm",
    "charset_files/chrKoreanMulti.dcm", "charset_files/chrRuss.dcm", "charset_files/chrX1.dcm",
    "charset_files/chrX2.dcm", "test_files/693_J2KI.dcm", "test_files/CT_small.dcm",
    "test_files/ExplVR_BigEnd.dcm", "test_files/GDCMJ2K_TextGBR.dcm", "test_files/J2K_pixelrep_mismatch.dcm",
    "test_files/MR_small.dcm", "test_files/MR_small_RLE.dcm", "test_files/image_dfl.dcm", "test_files/MR_small_bigendian.dcm",
    "test_files/MR_small_expb.dcm", "test_files/MR_small_implicit.dcm",
    "test_files/MR_small_jp2klossless.dcm", "test_files/MR_small_jpeg_ls_lossless.dcm",
    "test_files/MR_small_padded.dcm", "test_files/SC_jpeg_no_color_transform.dcm",
    "test_files/SC_jpeg_no_color_transform_2.dcm", "test_files/SC_rgb_dcmtk_+eb+cr.dcm",
    "test_files/SC_rgb_dcmtk_+eb+cy+n1.dcm", "test_files/SC_rgb_dcmtk_+eb+cy+n2.dcm",
    "test_files/SC_rgb_dcmtk_+eb+cy+np.dcm", "test_files/SC_rgb_dcmtk_+eb+cy+s2.dcm",
    "test_files/SC_rgb_dcmtk_+eb+cy+s4.dcm", "test_files/SC_rgb_gdcm_KY.dcm",
    "test_files/SC_rgb_jpeg_app14_dcmd.dcm", "test_files/SC_rgb_jpeg_dcmd.dcm",
    "test_files/SC_rgb_jpeg_dcmtk.dcm", "test_files/SC_rgb_jpeg_gdcm.dcm",
    "test_files/SC_rgb_jpeg_lossy_gdcm.dcm", "test_files/SC_rgb_rle.dcm", "test_files/SC_rgb_rle_16bit.dcm",
    "test_files/SC_rgb_rle_32bit.dcm", "test_files/SC_ybr_full_422_uncompressed.dcm",
    "test_files/dicomdirtests/77654033/CR1/6154", "test_files/dicomdirtests/77654033/CR2/6247",
    "test_files/dicomdirtests/77654033/CR3/6278", "test_files/dicomdirtests/77654033/CT2/17106",
    "test_files/dicomdirtests/77654033/CT2/17136", "test_files/dicomdirtests/77654033/CT2/17166",
    "test_files/dicomdirtests/77654033/CT2/17196", "test_files/dicomdirtests/98892001/CT2N/6293",
    "test_files/dicomdirtests/98892001/CT2N/6924", "test_files/dicomdirtests/98892001/CT5N/2062",
    "test_files/dicomdirtests/98892001/CT5N/2392", "test_files/dicomdirtests/98892001/CT5N/2693",
    "test_files/dicomdirtests/98892001/CT5N/3023", "test_files/dicomdirtests/98892001/CT5N/3353",
    "test_files/dicomdirtests/98892003/MR1/15820", "test_files/dicomdirtests/98892003/MR1/4919",
    "test_files/dicomdirtests/98892003/MR1/5641", "test_files/dicomdirtests/98892003/MR2/15970",
    "test_files/dicomdirtests/98892003/MR2/4950", "test_files/dicomdirtests/98892003/MR2/4981",
    "test_files/dicomdirtests/98892003/MR2/5011", "test_files/dicomdirtests/98892003/MR2/6273",
    "test_files/dicomdirtests/98892003/MR2/6605", "test_files/dicomdirtests/98892003/MR2/6935",
    "test_files/dicomdirtests/98892003/MR700/4467", "test_files/dicomdirtests/98892003/MR700/4528",
    "test_files/dicomdirtests/98892003/MR700/4558", "test_files/dicomdirtests/98892003/MR700/4588",
    "test_files/dicomdirtests/98892003/MR700/4618", "test_files/dicomdirtests/98892003/MR700/4648",
    "test_files/dicomdirtests/98892003/MR700/4678", "test_files/liver_1frame.dcm",
    "test_files/liver_expb_1frame.dcm", "test_files/rtdose_1frame.dcm", "test_files/rtdose_expb_1frame.dcm",
    "test_files/rtdose_rle_1frame.dcm",
}

# (file, key) -> (reason, our value as the dump prints it).
EXPECTED_DIFFERENCES = {
    ("test_files/badVR.dcm", "frames"): (
        "Number of Frames is the IS text '1A': the number is read up to the first byte that cannot "
        "belong to it; pydicom keeps the invalid text", "1"),
    ("test_files/badVR.dcm", "native_frames"): (
        "one frame (from the frame count '1A' read as 1) is cut from the native pixel data", "1"),
}


def run_dump(dump, path):
    """Our pixel description as a dict, or None when the loader rejects the file."""
    result = subprocess.run([dump, "--pixel-module", path], capture_output=True)
    if result.returncode < 0:
        raise RuntimeError("quillon-dump crashed on %s (signal %d)" % (path, -result.returncode))
    if result.returncode != 0:
        return None
    line = result.stdout.decode("utf-8").rstrip("\n")
    fields = dict(field.split("=", 1) for field in line.split("\t") if "=" in field)
    missing = [key for key in COMPARED if key not in fields]
    if missing:
        raise RuntimeError("quillon-dump --pixel-module printed no %s for %s: %r" % (", ".join(missing), path, line))
    return fields


def number(ds, keyword):
    """The integer value of a top-level element, 0 when absent or empty."""
    value = ds.get(keyword)
    if value is None or value == "":
        return 0
    return int(value) if not isinstance(value, str) else value


def transfer_syntax(ds):
    """(present, value) of the first (0002,0010): the meta group's, else one in the data set."""
    meta = getattr(ds, "file_meta", None)
    for source in (meta, ds):
        if source is not None and (0x0002, 0x0010) in source:
            value = source[0x0002, 0x0010].value
            return True, str(value or "").strip(" \0")
    return False, ""


def expected_values(rel, ds):
    """What our loader must report for this file, from pydicom's reading of it."""
    rows = number(ds, "Rows")
    columns = number(ds, "Columns")
    bits = number(ds, "BitsAllocated")
    samples = number(ds, "SamplesPerPixel")
    frames = number(ds, "NumberOfFrames")
    if "NumberOfFrames" not in ds and rows:
        frames = ("rows", 1)  # resolved against FRAMES_FROM_ROWS by the caller
    present, uid = transfer_syntax(ds)
    compression = "NONE" if not present else COMPRESSION.get(uid, "UNKNOWN")
    photometric = str(ds.get("PhotometricInterpretation", "") or "").strip()

    frame_size = rows * columns * bits * (samples or 1) // 8
    if photometric == "YBR_FULL_422":
        frame_size = 2 * frame_size // 3
    frame_count = frames[1] if isinstance(frames, tuple) else frames
    encapsulated = (present and uid != BIG_ENDIAN and compression not in ("NONE", "UNKNOWN"))
    native = 0
    pixel_length = None
    if "PixelData" in ds and isinstance(frame_count, int) and frame_size:
        element = ds["PixelData"]
        if not encapsulated and not element.is_undefined_length:
            native = frame_count
            pixel_length = len(element.value)
    return {
        "rows": rows,
        "columns": columns,
        "frames": frames,
        "bits_allocated": bits,
        "bits_stored": number(ds, "BitsStored"),
        "samples": samples,
        "pixel_representation": number(ds, "PixelRepresentation"),
        "planar": number(ds, "PlanarConfiguration"),
        "compression": compression,
        "photometric": photometric if photometric in PHOTOMETRIC_TERMS else None,
        "native_frames": native,
        "frame_size": frame_size if native else None,
        "_pixel_length": pixel_length,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dump", required=True, help="path to quillon-dump")
    args = parser.parse_args()

    failures = []
    compared = rejected = 0
    frames_from_rows_seen = set()
    differences_seen = set()

    for root, dirs, files in os.walk(DATA_DIR):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(SKIP_SUFFIXES):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, DATA_DIR)
            ours = run_dump(args.dump, path)
            if ours is None:
                rejected += 1
                continue
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    ds = pydicom.dcmread(path, force=True)
                    expected = expected_values(rel, ds)
            except Exception as error:  # pydicom cannot read what we loaded
                failures.append("%s: loaded by us, unreadable for pydicom (%s)" % (rel, error))
                continue
            compared += 1

            if isinstance(expected["frames"], tuple):
                frames_from_rows_seen.add(rel)
                if rel not in FRAMES_FROM_ROWS:
                    failures.append("%s: no Number of Frames but Rows; add it to FRAMES_FROM_ROWS "
                                    "if one frame is right" % rel)
                expected["frames"] = 1

            for key in COMPARED:
                want = expected[key]
                if want is None:
                    continue
                have = ours[key]
                listed = EXPECTED_DIFFERENCES.get((rel, key))
                if listed:
                    differences_seen.add((rel, key))
                    reason, our_value = listed
                    if str(want) == have:
                        failures.append("%s %s: listed as different (%s) but agrees with pydicom: %s"
                                        % (rel, key, reason, have))
                    elif have != our_value:
                        failures.append("%s %s: %r, listed as %r (%s)" % (rel, key, have, our_value, reason))
                    continue
                if str(want) != have:
                    failures.append("%s %s: ours %r, pydicom %r" % (rel, key, have, str(want)))

            length = expected["_pixel_length"]
            if expected["native_frames"] and length is not None:
                need = expected["native_frames"] * expected["frame_size"]
                if length < need:
                    failures.append("%s: %d native frames of %d bytes need %d bytes, pydicom's "
                                    "Pixel Data has %d" % (rel, expected["native_frames"],
                                                          expected["frame_size"], need, length))

    for rel in sorted(FRAMES_FROM_ROWS - frames_from_rows_seen):
        failures.append("%s: listed in FRAMES_FROM_ROWS but not met" % rel)
    for rel, key in sorted(set(EXPECTED_DIFFERENCES) - differences_seen):
        failures.append("%s %s: listed in EXPECTED_DIFFERENCES but not met" % (rel, key))

    print("%d files compared, %d rejected by the loader, %d listed differences"
          % (compared, rejected, len(FRAMES_FROM_ROWS) + len(EXPECTED_DIFFERENCES)))
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
