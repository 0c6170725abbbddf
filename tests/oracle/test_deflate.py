#!/usr/bin/python3
"""Deflated data sets (1.2.840.10008.1.2.1.99) against dcmdump and against the
same data set written uncompressed.

  * pydicom's image_dfl.dcm and files written with `dcmconv +td` from corpus
    files (sequences, private elements, several character sets, pixel data):
    quillon-dump lists every element dcmdump lists, in the same order (items
    and delimiters aside, which dcmdump prints as entries of their own), with
    the same VR and length, and the value text of every short text element
    equals dcmdump's; `--problems` prints nothing.
  * Each converted file is also written with `dcmconv +te` (explicit VR
    little endian, the same meta group but for the two characters the
    deflated UID is longer): every line quillon-dump prints for it equals the
    deflated file's line with the offsets moved by that difference. So the
    inflated data set is shown as if it followed the meta group in the file,
    byte for byte.
  * Where the data set has native pixel data, `--frame-samples 0` gives
    exactly the Pixel Data value pydicom reads from the deflated file.
  * A zlib-wrapped stream (made here with Python's zlib) reads as the raw one.

Run with /usr/bin/python3:
    /usr/bin/python3 tests/oracle/test_deflate.py --dump build/tools/quillon-dump
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import zlib

DATA = "/usr/lib/python3/dist-packages/pydicom/data/test_files"
DEFLATED = "1.2.840.10008.1.2.1.99"
# Corpus files converted with dcmconv +td: nested sequences (rtplan), an
# image (CT_small, MR_small), Japanese text in two character sets.
CONVERTED = ["rtplan.dcm", "CT_small.dcm", "MR_small.dcm", "../charset_files/chrH32.dcm"]

DCMDUMP_LINE = re.compile(r"^\s*\(([0-9a-f]{4}),([0-9a-f]{4})\) (\w\w) (.*?)\s+#\s*(\d+|u/l),")


def dump_lines(dump, path, *options):
    proc = subprocess.run([dump, *options, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")


def dcmdump_entries(path):
    """(tag, VR, length, value text) for every element dcmdump lists, items,
    delimiters and the group length elements it makes up aside."""
    out = subprocess.run(["dcmdump", "+L", path], stdout=subprocess.PIPE, check=True).stdout
    entries = []
    for line in out.decode("latin-1").splitlines():
        m = DCMDUMP_LINE.match(line)
        if not m:
            continue
        group, element, vr, value, length = m.groups()
        if group == "fffe":
            continue
        value = value[1:-1] if value.startswith("[") and value.endswith("]") else None
        entries.append(("%s,%s" % (group.upper(), element.upper()), vr,
                        "FFFFFFFF" if length == "u/l" else length, value))
    return entries


def our_entries(dump, path):
    rc, out, err = dump_lines(dump, path)
    if rc != 0:
        raise AssertionError("%s: quillon-dump exit %d: %s" % (path, rc, err.strip()))
    entries = []
    for line in out.splitlines():
        f = line.split("\t")
        if f[1] == "FFFE,E000" or (f[1].startswith("0000,") and f[0] != "0"):
            continue
        entries.append((f[1], f[2], f[5], f[9]))
    return entries


def check_against_dcmdump(dump, path, failures):
    ours = our_entries(dump, path)
    theirs = dcmdump_entries(path)
    # Frame nodes under native pixel data are ours alone (group 0000 inside 7FE0,0010).
    ours = [e for e in ours if not e[0].startswith("0000,")]
    if [e[:3] for e in ours] != [e[:3] for e in theirs]:
        for i, (a, b) in enumerate(zip(ours, theirs)):
            if a[:3] != b[:3]:
                failures.append("%s: entry %d is %s, dcmdump has %s" % (path, i, a[:3], b[:3]))
                break
        else:
            failures.append("%s: %d entries, dcmdump lists %d" % (path, len(ours), len(theirs)))
        return
    for a, b in zip(ours, theirs):
        # Short text values: dcmdump prints them in brackets as stored
        # (trailing blanks removed); ours is the value text.
        if b[3] is not None and a[1] in ("CS", "DA", "TM", "UI", "SH", "LO", "AE", "IS", "DS") and \
                len(b[3]) < 60 and "\\" not in b[3] and b[3].isascii():
            if a[3].rstrip(" \x00").replace("\\x00", "") != b[3].rstrip(" "):
                failures.append("%s: %s value %r, dcmdump %r" % (path, a[0], a[3], b[3]))
    rc, out, err = dump_lines(dump, path, "--problems")
    if rc != 0 or out.strip():
        failures.append("%s: --problems is not empty (exit %d): %s %s" % (path, rc, out.strip()[:300], err.strip()))


def check_samples(dump, path, failures):
    import pydicom
    ds = pydicom.dcmread(path)
    if "PixelData" not in ds:
        return
    frame = len(ds.PixelData) // int(getattr(ds, "NumberOfFrames", 1) or 1)
    proc = subprocess.run([dump, "--frame-samples", "0", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if proc.returncode != 0 or proc.stdout != ds.PixelData[:frame]:
        failures.append("%s: frame 0's samples (exit %d, %d bytes) are not pydicom's Pixel Data (%d bytes)" % (
            path, proc.returncode, len(proc.stdout), frame))


def shifted_equal(dump, deflated, plain, shift, failures):
    """Every line of `deflated` equals `plain`'s with offsets (fields 4, 5, 7,
    8) past the meta group moved by `shift`."""
    _, a, _ = dump_lines(dump, deflated)
    _, b, _ = dump_lines(dump, plain)
    la, lb = a.splitlines(), b.splitlines()
    if len(la) != len(lb):
        failures.append("%s: %d lines, the uncompressed file %d" % (deflated, len(la), len(lb)))
        return
    for x, y in zip(la, lb):
        fx, fy = x.split("\t"), y.split("\t")
        if fx[1].startswith("0002,"):
            continue
        for i in (3, 4, 6, 7):
            fy[i] = str(int(fy[i]) + shift)
        if fx != fy:
            failures.append("%s: line\n  %s\ndiffers from the uncompressed file's\n  %s" % (deflated, x, "\t".join(fy)))
            return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    checked = 0

    check_against_dcmdump(args.dump, os.path.join(DATA, "image_dfl.dcm"), failures)
    check_samples(args.dump, os.path.join(DATA, "image_dfl.dcm"), failures)
    checked += 1

    with tempfile.TemporaryDirectory() as tmp:
        for name in CONVERTED:
            source = os.path.normpath(os.path.join(DATA, name))
            base = os.path.join(tmp, os.path.basename(name))
            deflated, plain = base + ".dfl.dcm", base + ".evr.dcm"
            subprocess.run(["dcmconv", "+td", source, deflated], check=True)
            subprocess.run(["dcmconv", "+te", source, plain], check=True)
            check_against_dcmdump(args.dump, deflated, failures)
            check_samples(args.dump, deflated, failures)
            # The two files' meta groups differ in the transfer syntax
            # (two characters) and the group length that counts them.
            shifted_equal(args.dump, deflated, plain, 2, failures)
            checked += 1

        # The same data set in a zlib wrapper reads as the raw stream.
        source = os.path.join(tmp, "CT_small.dcm.dfl.dcm")
        raw = open(source, "rb").read()
        out = subprocess.run([args.dump, source], stdout=subprocess.PIPE, check=True).stdout.decode()
        meta_end = int(out.splitlines()[0].split("\t")[4]) + int(out.splitlines()[0].split("\t")[5])
        # The meta group's own length tells where the stream starts.
        group_length = int.from_bytes(raw[140:144], "little")
        start = 144 + group_length
        assert meta_end <= start
        inflated = zlib.decompressobj(-15).decompress(raw[start:])
        wrapped = os.path.join(tmp, "wrapped.dcm")
        with open(wrapped, "wb") as f:
            f.write(raw[:start] + zlib.compress(inflated, 6))
        _, a, _ = dump_lines(args.dump, source)
        rc, b, err = dump_lines(args.dump, wrapped)
        if rc != 0 or a != b:
            failures.append("zlib-wrapped stream: exit %d, %s" % (rc, err.strip() or "the listing differs"))
        rc, problems, _ = dump_lines(args.dump, wrapped, "--problems")
        if rc != 0 or problems.strip():
            failures.append("zlib-wrapped stream: problems %r" % problems)
        checked += 1

    for f in failures:
        print("FAIL", f)
    print("%d deflated files checked, %d failures" % (checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
