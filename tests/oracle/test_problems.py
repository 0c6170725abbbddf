#!/usr/bin/python3
"""Checks `quillon-dump --problems` against the oracles' own complaints.

On every DICOM file under pydicom's data directory (the Python sources, JSON,
text and the gzip file next to them aside) the script runs

  * dcdump -v and dciodvfy (dicom3tools): their "Error - " and "Warning - "
    lines about the encoding: lengths, VRs, group lengths, tag order, value
    formats, private creators, the pixel data length, reads that fail. The
    complaints about the content of the object (missing or unexpected
    attributes, retired attributes, enumerated values, ...) are left out;
  * dcmdump (DCMTK): every "W:" and "E:" line;
  * pydicom's dcmread: the warnings it gives while each element is read and
    converted, each tied to the element being read;

and checks:

  1. Each complaint is answered by a problem of ours at the same place: the
     same tag where the oracle names one (the group length element for
     dicom3tools' "Bad group length - Group 0xgggg", the element that their
     complaints without a tag concern, as listed in PLACES), the same offset
     where it gives one, or any problem in the file where it names no place.
     Where CODES tells what the complaint is about, the problem has that
     code. A complaint we deliberately leave unanswered is listed in
     KNOWN_DIFFERENCES with the reason; an entry that no unanswered complaint
     matches any more fails as stale.
  2. Well-formed files, on which no oracle complains about the encoding, show
     no problem at all. Which files those are follows from the oracles; the
     count is checked against WELL_FORMED_COUNT so that a change in the
     corpus or in the filters is seen.
  3. quillon-dump --problems exits 0, or exits 1 with "Invalid DICOM file"
     and a last line `stopped`.

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_problems.py --dump build/tools/quillon-dump
"""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import warnings

DATA_ROOT = "/usr/lib/python3/dist-packages/pydicom/data"

NOT_DICOM_SUFFIXES = (".py", ".json", ".txt", ".md", ".dump", ".gz")
NOT_DICOM_NAMES = {"README"}

# dicom3tools' complaints that concern the encoding. Anything else they say
# is about the content of the object.
DICOM3TOOLS_ENCODING = re.compile(
    r"Bad Value Length|Bad group length|Explicit value representation doesn't match|Tags out of order"
    r"|Value invalid for this VR|Value dubious for this VR|PixelData has incorrect value length|Seek failed"
    r"|Tag read failed|Illegal zero bytes|Bad Explicit Value Length|read failed|Private tag without owner"
    r"|Bad private owner value|Illegal root for UID|Metaheader present but|Bad FileMetaInformationVersion"
    r"|explicit value representation is UN")

# dicom3tools' complaints that name no tag but concern one element.
PLACES = [
    (r"PixelData|Pixel Data", (0x7FE0, 0x0010)),
    (r"FileMetaInformationVersion", (0x0002, 0x0001)),
    (r"doesn't contain Transfer Syntax UID", (0x0002, 0x0010)),
]

# What the problem that answers a complaint is about: its code, one of these.
# A complaint that matches none of the patterns is answered by a problem of any
# code at its place.
CODES = [
    (r"Bad group length|No Group Length", {"group-length"}),
    (r"is odd", {"odd-length"}),
    (r"same element occurs twice|found twice", {"tag-order"}),
    (r"Explicit value representation doesn't match|Non-standard VR|not a multiple of 2 \(VR=OW\)"
     r"|Implicit VR encoding even though", {"vr-mismatch"}),
    (r"Value invalid for this VR|Illegal root for UID|Invalid value for VR", {"value-vr"}),
    (r"Private tag without owner|Bad private owner|Invalid Element", {"private-tag"}),
    (r"explicit value representation is UN|VR UN and undefined length", {"un-sequence", "private-tag"}),
    (r"PixelData has incorrect value length", {"pixel-data-length"}),
    (r"larger \(\d+\) than remaining bytes|Seek failed", {"truncated", "stopped"}),
    (r"doesn't contain Transfer Syntax UID", {"no-transfer-syntax"}),
]

# A Person Name in the retired form (blanks where the carets go) is dubious to
# dciodvfy, not invalid: it keeps the VR's characters and lengths. Not a
# complaint about the encoding.
DICOM3TOOLS_DUBIOUS = re.compile(r"Retired Person Name form")

# pydicom warnings that are not about the encoding: its own deprecations, and
# tags its dictionary does not know (ours does not either; that is no fault).
PYDICOM_IGNORED = re.compile(r"class is deprecated|Unknown DICOM tag")

# ---------------------------------------------------------------------------
# Complaints we do not answer, each with its reason. Key: (file or None for
# any, oracle, tag or None for any, regular expression searched in the
# complaint's text). The oracle "dicom3tools" stands for both dcdump and
# dciodvfy, which share their reading and say the same.
UN_DEFINED = ("(300C,0002) is written with VR UN and a defined length: its 148 bytes stay one value, so the UID"
              " in its item is never read as an element (test_offsets.py lists the same difference)")
PRIVATE_DICTIONARY = ("dcdump knows this maker's private dictionary; ours has no private tags, and the VR of a"
                      " private element is the maker's to choose")
IMPLICIT_UNDER_EXPLICIT = ("the data set is implicit VR under an explicit VR transfer syntax; we read on as explicit"
                           " VR, report the first two elements as holding no VR and stop where the second runs past"
                           " the end of the file: the elements dcdump reads later are never reached")

KNOWN_DIFFERENCES = {
    ("test_files/JPEG-lossy.dcm", "dicom3tools", (0x0009, 0x1040), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG-lossy.dcm", "dicom3tools", (0x0013, 0x101C), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG-lossy.dcm", "dicom3tools", (0x0013, 0x101D), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG2000.dcm", "dicom3tools", (0x0009, 0x1040), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG2000.dcm", "dicom3tools", (0x0013, 0x101C), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG2000.dcm", "dicom3tools", (0x0013, 0x101D), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPEG2000-embedded-sequence-delimiter.dcm", "dicom3tools", (0x0009, 0x1040), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/JPEG2000-embedded-sequence-delimiter.dcm", "dicom3tools", (0x0013, 0x101C), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/JPEG2000-embedded-sequence-delimiter.dcm", "dicom3tools", (0x0013, 0x101D), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/JPGExtended.dcm", "dicom3tools", (0x0009, 0x1040), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPGExtended.dcm", "dicom3tools", (0x0013, 0x101C), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/JPGExtended.dcm", "dicom3tools", (0x0013, 0x101D), r"doesn't match"): PRIVATE_DICTIONARY,
    ("test_files/dicomdirtests/77654033/CR1/6154", "dicom3tools", (0x0019, 0x1010), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/dicomdirtests/77654033/CR2/6247", "dicom3tools", (0x0019, 0x1010), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/dicomdirtests/77654033/CR3/6278", "dicom3tools", (0x0019, 0x1010), r"doesn't match"):
        PRIVATE_DICTIONARY,
    ("test_files/rtdose_rle.dcm", "dciodvfy", (0x0008, 0x1155), r"Leading zeroes"): UN_DEFINED,
    ("test_files/rtdose_rle.dcm", "pydicom", (0x0008, 0x1155), r"Invalid value for VR UI"): UN_DEFINED,
    ("test_files/rtdose_rle_1frame.dcm", "dciodvfy", (0x0008, 0x1155), r"Leading zeroes"): UN_DEFINED,
    ("test_files/rtdose_rle_1frame.dcm", "pydicom", (0x0008, 0x1155), r"Invalid value for VR UI"): UN_DEFINED,
    ("test_files/SC_ybr_full_422_uncompressed.dcm", "dciodvfy", None, r"PixelData has incorrect value length"):
        "dciodvfy expects 3 samples per pixel in full; YBR_FULL_422 keeps 2 samples per pixel on average, so the"
        " 20000 bytes of 100 x 100 pixels are the right length",
    ("test_files/no_meta_group_length.dcm", "dicom3tools", None, r"Bad FileMetaInformationVersion"):
        "the version's two bytes read 01 00 instead of 00 01: the content of a value, not its encoding",
    ("test_files/dicomdirtests/DICOMDIR-bigEnd", "pydicom", None, r"Invalid transfer syntax for DICOMDIR"):
        "a directory file must be explicit VR little endian: a rule of the media formats, not of the encoding",
    ("test_files/dicomdirtests/DICOMDIR-implicit", "pydicom", None, r"Invalid transfer syntax for DICOMDIR"):
        "a directory file must be explicit VR little endian: a rule of the media formats, not of the encoding",
    ("test_files/SC_rgb_jpeg.dcm", "dcmdump", (0x4544, 0x4952), r"is odd"):
        "the two bytes where the VR belongs read 'VE', no VR: dcmdump then reads a 4-byte length, which is odd;"
        " we read a 2-byte length (23620), as for any VR that has no long form, and report the missing VR",
    ("test_files/dicomdirtests/DICOMDIR-nooffset", "dicom3tools", (0x0004, 0x1220), r"Bad Explicit Value Length"):
        "the item lengths are larger than the directory records: dcdump measures each item against the records"
        " it holds; we read each item to its length, which takes in the next one's first elements, and report"
        " the item that runs past the end of the file (truncated, then stopped)",
}
for _tag in [(0x0008, 0x0016), (0x0008, 0x0018), (0x0008, 0x0020), (0x0008, 0x0023), (0x0008, 0x0030),
             (0x0008, 0x0033), (0x0008, 0x0050), (0x0008, 0x0060), (0x0008, 0x0064), (0x0008, 0x0070),
             (0x0008, 0x0090), (0x0010, 0x0010), (0x0010, 0x0020), (0x0010, 0x0030), (0x0010, 0x0040),
             (0x0020, 0x000D), (0x0020, 0x000E), (0x0020, 0x0010), (0x0020, 0x0011), (0x0020, 0x0013),
             (0x0028, 0x0002), (0x0028, 0x0004), (0x0028, 0x0006), (0x0028, 0x0010), (0x0028, 0x0011),
             (0x0028, 0x0100), (0x0028, 0x0101), (0x0028, 0x0102), (0x0028, 0x0103), (0x0028, 0x2110),
             (0x0028, 0x2112), (0x0028, 0x2114), (0x7FE0, 0x0010)]:
    KNOWN_DIFFERENCES[("test_files/SC_rgb_jpeg.dcm", "dicom3tools", _tag, r"")] = IMPLICIT_UNDER_EXPLICIT

# dicom3tools does not inflate a deflated data set: it reads the compressed
# bytes as elements and complains about them. We inflate it (dcmdump, which
# inflates too, does not complain) and report nothing.
NOT_INFLATED = ("dicom3tools reads the deflated data set without inflating it, so its complaints are about the"
                " compressed bytes; inflated, the data set is well-formed (dcmdump reads it without complaint)")
KNOWN_DIFFERENCES[("test_files/image_dfl.dcm", "dicom3tools", (0xDDED, 0x6ECF), r"")] = NOT_INFLATED
KNOWN_DIFFERENCES[("test_files/image_dfl.dcm", "dicom3tools", None, r"Dicom dataset read failed")] = NOT_INFLATED

# Files that no oracle complains about; the check in 2. keeps this number honest.
WELL_FORMED_COUNT = 137


# ---------------------------------------------------------------------------

class Complaint:
    __slots__ = ("oracle", "family", "tag", "offset", "text")

    def __init__(self, oracle, tag, offset, text):
        self.oracle = oracle
        self.family = "dicom3tools" if oracle in ("dcdump", "dciodvfy") else oracle
        self.tag = tag
        self.offset = offset
        self.text = text

    def __str__(self):
        where = []
        if self.tag is not None:
            where.append("(%04X,%04X)" % self.tag)
        if self.offset is not None:
            where.append("@%d" % self.offset)
        return "%s %s: %s" % (self.oracle, " ".join(where) or "(no place)", self.text)


TAG_0X = re.compile(r"\(0x([0-9a-fA-F]{4}),0x([0-9a-fA-F]{4})\)")
TAG_PLAIN = re.compile(r"\(([0-9a-fA-F]{4}),([0-9a-fA-F]{4})\)")
DC_LEVEL = re.compile(r"(?:^|\s)(Error|Warning) - (.*)$")
DC_OFFSET = re.compile(r"^@0x([0-9a-fA-F]+)")
DC_GROUP = re.compile(r"Bad group length - Group 0x([0-9a-fA-F]+)")


def run(args):
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return p.returncode, p.stdout.decode("latin-1")


def dicom3tools_complaints(oracle, output):
    out = []
    for line in output.splitlines():
        level = DC_LEVEL.search(line)
        if not level or not DICOM3TOOLS_ENCODING.search(level.group(2)) or DICOM3TOOLS_DUBIOUS.search(line):
            continue
        tag = None
        group = DC_GROUP.search(line)
        if group:
            tag = (int(group.group(1), 16), 0)
        else:
            m = TAG_0X.search(line)
            if m:
                tag = (int(m.group(1), 16), int(m.group(2), 16))
        if tag is None:
            for pattern, element in PLACES:
                if re.search(pattern, level.group(2)):
                    tag = element
        offset = DC_OFFSET.search(line)
        text = level.group(1) + " - " + level.group(2).strip()
        if tag and not group:
            text = "(%04X,%04X) " % tag + text
        out.append(Complaint(oracle, tag, int(offset.group(1), 16) if offset else None, text))
    return out


def dcmdump_complaints(output):
    out = []
    for line in output.splitlines():
        if not (line.startswith("W: ") or line.startswith("E: ")):
            continue
        m = TAG_PLAIN.search(line)
        tag = (int(m.group(1), 16), int(m.group(2), 16)) if m else None
        if "No Group Length available in Meta Information Header" in line:
            tag = (0x0002, 0x0000)
        out.append(Complaint("dcmdump", tag, None, line.strip()))
    return out


def pydicom_complaints(path):
    import pydicom
    out = []

    def note(caught, tag):
        for w in caught:
            text = str(w.message).replace("\n", " ")
            if not PYDICOM_IGNORED.search(text):
                out.append(Complaint("pydicom", tag, None, text))

    def walk(ds):
        for tag in list(ds.keys()):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                try:
                    elem = ds[tag]
                    value = elem.value
                except Exception as e:  # a value pydicom cannot convert
                    out.append(Complaint("pydicom", (tag.group, tag.element), None, "exception: %s" % e))
                    continue
            note(caught, (tag.group, tag.element))
            if elem.VR == "SQ" and value is not None:
                for item in value:
                    walk(item)

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            ds = pydicom.dcmread(path, force=True)
        except Exception as e:
            out.append(Complaint("pydicom", None, None, "dcmread fails: %s" % e))
            ds = None
    note(caught, None)
    if ds is not None:
        if getattr(ds, "file_meta", None) is not None:
            walk(ds.file_meta)
        try:
            walk(ds)
        except Exception as e:
            out.append(Complaint("pydicom", None, None, "reading fails: %s" % e))
    return out


class Problem:
    __slots__ = ("offset", "tag", "code", "text")

    def __init__(self, line):
        offset, tag, code, text = line.split("\t", 3)
        self.offset = int(offset)
        g, e = tag.split(",")
        self.tag = (int(g, 16), int(e, 16))
        self.code = code
        self.text = text


def examine(dump, rel):
    path = os.path.join(DATA_ROOT, rel)
    p = subprocess.run([dump, "--problems", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    # The structure is what the oracles judge: a frame our decoders do not
    # take (32-bit RLE, 1-bit samples) is no fault of the file.
    ours = [Problem(line) for line in p.stdout.decode("utf-8", "replace").splitlines() if line]
    ours = [q for q in ours if q.code != "frame-decode"]
    status = (p.returncode, p.stderr.decode("utf-8", "replace").strip())
    complaints = dicom3tools_complaints("dcdump", run(["dcdump", "-v", path])[1])
    complaints += dicom3tools_complaints("dciodvfy", run(["dciodvfy", path])[1])
    complaints += dcmdump_complaints(run(["dcmdump", path])[1])
    return rel, ours, status, complaints


def answered(complaint, ours):
    codes = None
    for pattern, wanted in CODES:
        if re.search(pattern, complaint.text):
            codes = wanted
            break
    for p in ours:
        if codes is not None and p.code not in codes:
            continue
        if complaint.tag is not None and p.tag != complaint.tag:
            continue
        if complaint.offset is not None and p.offset != complaint.offset:
            continue
        return True
    return False


def corpus():
    files = []
    for root, dirs, names in os.walk(DATA_ROOT):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(names):
            if name.endswith(NOT_DICOM_SUFFIXES) or name in NOT_DICOM_NAMES:
                continue
            files.append(os.path.relpath(os.path.join(root, name), DATA_ROOT))
    return files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    parser.add_argument("--list", action="store_true", help="print every complaint and our answer")
    args = parser.parse_args()
    if not os.path.isdir(DATA_ROOT):
        print("SKIP: pydicom data not installed")
        return 0

    files = corpus()
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda rel: examine(args.dump, rel), files))

    failures = []
    used = set()
    well_formed = []
    counts = {}
    for rel, ours, (code, stderr), complaints in results:
        complaints += pydicom_complaints(os.path.join(DATA_ROOT, rel))
        if code == 0:
            if stderr:
                failures.append("%s: exit 0 with stderr %r" % (rel, stderr))
        elif code == 1:
            if stderr != "Invalid DICOM file" or not ours or ours[-1].code != "stopped":
                failures.append("%s: refused without a last `stopped` line or with stderr %r" % (rel, stderr))
        else:
            failures.append("%s: quillon-dump exit status %d" % (rel, code))
        if not complaints:
            well_formed.append(rel)
            if args.list:
                print("%s: well-formed" % rel)
            for p in ours:
                failures.append("%s: well-formed (no oracle complains) but we report %d %s %s" %
                                (rel, p.offset, p.code, p.text))
            continue
        for c in complaints:
            counts[c.oracle] = counts.get(c.oracle, 0) + 1
            ok = answered(c, ours)
            known = None
            for key, reason in KNOWN_DIFFERENCES.items():
                if ok:
                    break
                kfile, koracle, ktag, kpattern = key
                if kfile in (None, rel) and koracle in (c.oracle, c.family) and (ktag is None or ktag == c.tag) and \
                        re.search(kpattern, c.text):
                    known = key
                    break
            if args.list:
                print("%s: %s -> %s" % (rel, c, "answered" if ok else "known" if known else "MISSED"))
            if known:
                used.add(known)
            elif not ok:
                failures.append("%s: no problem of ours answers %s\n    ours: %s" % (
                    rel, c, "; ".join("%d %04X,%04X %s" % (p.offset, p.tag[0], p.tag[1], p.code) for p in ours)
                    or "none"))

    for key in KNOWN_DIFFERENCES:
        if key not in used:
            failures.append("stale known difference %s: no unanswered complaint matches it any more" % (key,))
    if WELL_FORMED_COUNT and len(well_formed) != WELL_FORMED_COUNT:
        failures.append("%d well-formed files, expected %d: the corpus or the filters changed" %
                        (len(well_formed), WELL_FORMED_COUNT))

    print("%d files; complaints about the encoding: %s; %d well-formed" % (
        len(files), ", ".join("%s %d" % kv for kv in sorted(counts.items())), len(well_formed)))
    for f in failures:
        print("FAIL " + f)
    print("%d passed, %d failed" % (len(files) - len({f.split(":")[0] for f in failures}), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
