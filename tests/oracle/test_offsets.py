#!/usr/bin/python3
"""Cross-checks quillon-dump against dicom3tools on pydicom's bundled files.

For every file under pydicom's data directory (the generated __pycache__
directories aside):

  * quillon-dump either prints the tree (exit 0) or says "Invalid DICOM file"
    (exit 1) and nothing else on stderr, or, for a file read part way, prints
    the elements read and says "Invalid DICOM file" and where reading stopped
    (exit 1): every element it prints then lies before the stop. Anything
    else -- a signal, another exit status, a sanitizer report -- fails. Point
    --dump at the ASan build to run the same corpus under the sanitizers.
  * The file is rejected exactly when it is listed in EXPECTED_REJECTIONS.
    Where the reason can be checked from the bytes (the first tag fails both
    plausibility tests, the file starts with "PAPYRUS") or from the oracle
    (dcdump cannot read it either), the script checks it.
  * Where `dcdump -v` reads the file to the end (exit 0, no "Error" line), the
    tag offset of every element and item we list, up to and including the
    top-level Pixel Data element and its fragments, equals the offset dcdump
    prints in its "While reading" part, in the same order, and where the
    offsets all agree, every element without children ends right before the
    next entry dcdump prints (its length is the one written in the file, odd
    or not). On every loaded file, the byte
    range of an element of defined length ends with the last byte of its value. Files on which our
    reading deliberately differs are listed in OFFSET_DIFFERENCES with the
    reason; for those the script checks the offsets up to the first element of
    the difference and that the difference is still there. Where dcdump gives
    up half-way, the entries it printed before giving up must agree with ours.

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_offsets.py --dump build/tools/quillon-dump
"""

import argparse
import bisect
import os
import re
import subprocess
import sys

DATA_ROOT = "/usr/lib/python3/dist-packages/pydicom/data"
DCDUMP = "/usr/bin/dcdump"

# ---------------------------------------------------------------------------
# Files the loader must refuse, with the reason. `check` names a test that the
# script applies to confirm the reason independently:
#   "tag-tests"  the 4 bytes where the data set (or the meta group) starts pass
#                neither the little- nor the big-endian tag test (group and
#                element both at most 0x0028)
#   "oracle"     dcdump -v cannot read the file to the end either
#   None         the reason is explained in words only
TAG_TESTS = "tag-tests"
ORACLE = "oracle"

NOT_DICOM = "not a DICOM file: no DICM at 128, and the first tag fails both tag tests"

EXPECTED_REJECTIONS = {
    # Python sources, JSON, text and a gzip file that live next to the images.
    "__init__.py": (NOT_DICOM, TAG_TESTS),
    "data_manager.py": (NOT_DICOM, TAG_TESTS),
    "download.py": (NOT_DICOM, TAG_TESTS),
    "retry.py": (NOT_DICOM, TAG_TESTS),
    "hashes.json": (NOT_DICOM, TAG_TESTS),
    "urls.json": (NOT_DICOM, TAG_TESTS),
    "charset_files/FileInfo.txt": (NOT_DICOM, TAG_TESTS),
    "palettes/README.md": (NOT_DICOM, TAG_TESTS),
    "test_files/README.txt": (NOT_DICOM, TAG_TESTS),
    "test_files/dicomdirtests/README.txt": (NOT_DICOM, TAG_TESTS),
    "test_files/dicomdirtests/TINY_ALPHA/README": (NOT_DICOM, TAG_TESTS),
    "test_files/rtplan.dump": (NOT_DICOM, TAG_TESTS),
    "test_files/rtstruct.dump": (NOT_DICOM, TAG_TESTS),
    "test_files/test1.json": (NOT_DICOM, TAG_TESTS),
    "test_files/test_PN.json": (NOT_DICOM, TAG_TESTS),
    "test_files/zipMR.gz": (NOT_DICOM, TAG_TESTS),
    # A bare data set that starts with a stray byte 0x20: the first tag reads
    # as (0820,0500) or (2008,0005), and a bare data set whose first tag is
    # implausible is refused. (dcdump takes it as one huge private element.)
    "test_files/no_meta.dcm": (
        "bare data set with a stray leading byte: first tag (0820,0500) fails both tag tests", TAG_TESTS),
    # Truncated on purpose by pydicom's test suite.
    "test_files/MR_truncated.dcm": ("pixel data value runs past the end of the file", ORACLE),
    "test_files/rtplan_truncated.dcm": ("file ends inside a sequence", ORACLE),
    # The transfer syntax says JPEG baseline (explicit VR), the data set is
    # written in implicit VR. A Part 10 file is read with the encoding its meta
    # group gives and is never retried.
    "test_files/SC_rgb_jpeg.dcm": ("explicit VR transfer syntax over an implicit VR data set", ORACLE),
    # Item lengths of the Directory Record Sequence are larger than the items:
    # each item swallows elements of the next and the last runs off the end.
    "test_files/dicomdirtests/DICOMDIR-nooffset": ("item lengths larger than their items", ORACLE),
}

# ---------------------------------------------------------------------------
# Files that load and that dcdump reads, but whose offsets deliberately differ
# from dcdump's. Each entry: (first tag offset where the lists may part, reason).
# Before that offset the lists must agree; from it on they must disagree
# somewhere (otherwise the entry is stale and the script says so).
UN_DEFINED = ("(300C,0002) Referenced RT Plan Sequence is written with VR UN and a defined length: only an"
              " undefined-length UN element is read as a sequence, so its 148 bytes stay one value and its items"
              " are not listed (dcdump knows the tag is a sequence and reads them)")

# Deflated data sets: dcdump does not inflate them and reads the compressed
# bytes as elements, so only the meta group is compared with it; the offsets
# of the inflated data set are checked against dcmdump and against the same
# data set written uncompressed by test_deflate.py.
DEFLATED = {
    "test_files/image_dfl.dcm",
}

OFFSET_DIFFERENCES = {
    "test_files/rtdose_rle.dcm": (0x650, UN_DEFINED),
    "test_files/rtdose_rle_1frame.dcm": (0x646, UN_DEFINED),
}


# ---------------------------------------------------------------------------
# quillon-dump

class Node:
    __slots__ = ("depth", "group", "element", "tag_offset", "data_offset", "length", "last", "parent")

    def __init__(self, depth, group, element, tag_offset, data_offset, length, last, parent):
        self.depth = depth
        self.group = group
        self.element = element
        self.tag_offset = tag_offset
        self.data_offset = data_offset
        self.length = length
        self.last = last
        self.parent = parent


def run_dump(dump, path):
    """Returns (status, nodes, message); status is "loaded", "rejected",
    "partial" (then message is the offset where reading stopped) or "failed"."""
    try:
        proc = subprocess.run([dump, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    except subprocess.TimeoutExpired:
        return "failed", None, "timed out"
    err = proc.stderr.decode("utf-8", "replace")
    if proc.returncode < 0:
        return "failed", None, "killed by signal %d: %s" % (-proc.returncode, err.strip()[:2000])
    partial = None
    if proc.returncode == 1:
        if err.strip() == "Invalid DICOM file":
            return "rejected", None, ""
        lines = err.strip().split("\n")
        stop = re.match(r"Reading stopped at byte (\d+)[,:]", lines[-1]) if len(lines) == 2 else None
        if not (stop and lines[0] == "Invalid DICOM file" and proc.stdout):
            return "failed", None, "exit 1 with stderr %r" % err[:2000]
        partial = int(stop.group(1))
    elif proc.returncode != 0:
        return "failed", None, "exit %d: %s" % (proc.returncode, err.strip()[:2000])
    elif err.strip():
        return "failed", None, "loaded but wrote to stderr: %s" % err.strip()[:2000]
    nodes = []
    stack = []
    for number, raw in enumerate(proc.stdout.split(b"\n"), 1):
        if not raw:
            continue
        fields = raw.split(b"\t")
        if len(fields) != 11:
            return "failed", None, "line %d has %d fields" % (number, len(fields))
        depth = int(fields[0])
        group, element = (int(x, 16) for x in fields[1].decode().split(","))
        del stack[depth:]
        if len(stack) != depth:
            return "failed", None, "line %d jumps to depth %d" % (number, depth)
        length = UNDEFINED if fields[5] == b"FFFFFFFF" else int(fields[5])
        node = Node(depth, group, element, int(fields[3]), int(fields[4]), length, int(fields[7]),
                    stack[-1] if stack else None)
        nodes.append(node)
        stack.append(node)
    if partial is not None:
        return "partial", nodes, partial
    return "loaded", nodes, ""


def is_frame_node(node):
    """The per-frame nodes added under native top-level pixel data."""
    p = node.parent
    return node.group == 0 and p is not None and p.parent is None and (p.group, p.element) == (0x7FE0, 0x0010)


def our_offsets(nodes):
    return [(n.tag_offset, (n.group, n.element)) for n in nodes if not is_frame_node(n)]


def leaf_end_faults(nodes, printed):
    """Where dcdump prints an entry after an element of defined length that has
    no children, the first such entry starts right after the element's last
    byte: the length we read is the one in the file, odd or not."""
    printed = sorted(set(printed))
    parents = {id(n.parent) for n in nodes if n.parent is not None}
    faults = []
    for n in nodes:
        if is_frame_node(n) or id(n) in parents or n.length == UNDEFINED:
            continue
        at = bisect.bisect_right(printed, n.tag_offset)
        if at < len(printed) and printed[at] != n.last + 1:
            faults.append("(%04X,%04X) at %d ends at %d, dcdump's next entry is at %d" % (
                n.group, n.element, n.tag_offset, n.last, printed[at]))
    return faults


def range_faults(nodes):
    """Elements of defined length whose byte range does not end with their value
    as read from the file: the range must cover the value, no more, no less."""
    faults = []
    for n in nodes:
        if is_frame_node(n) or n.length in (0, UNDEFINED):
            continue
        if n.last != n.data_offset + n.length - 1:
            faults.append("(%04X,%04X) at %d: range ends at %d, value of %d bytes at %d" % (
                n.group, n.element, n.tag_offset, n.last, n.length, n.data_offset))
    return faults


# ---------------------------------------------------------------------------
# dcdump

ENTRY = re.compile(r"@0x([0-9a-f]+),0x[0-9a-f]+ of 0x[0-9a-f]+: (?:\(0x([0-9a-f]{4}),0x([0-9a-f]{4})\))?")
UNDEFINED = 0xFFFFFFFF
TOP_LEVEL_PIXEL_DATA = re.compile(r"^@0x([0-9a-f]+): \(0x7fe0,0x0010\)", re.M)
ITEM = (0xFFFE, 0xE000)
TRAILING_PADDING = (0xFFFC, 0xFFFC)
DELIMITERS = {(0xFFFE, 0xE00D), (0xFFFE, 0xE0DD)}


def run_dcdump(path):
    """Returns (clean, text): clean when dcdump read the file to the end."""
    try:
        proc = subprocess.run([DCDUMP, "-v", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    except subprocess.TimeoutExpired:
        return False, ""
    text = proc.stdout.decode("latin-1")
    # Complaints about one value (a bad private creator, a length that does
    # not suit the VR) do not stop it; these do.
    clean = proc.returncode == 0 and not re.search(r"read failed|Tags out of order|Seek failed", text)
    return clean, text


def tag_at(data, offset):
    """Both readings of the 4 bytes at offset: (little endian tag, big endian tag)."""
    b = data[offset:offset + 4]
    if len(b) < 4:
        return None, None
    return (b[0] | b[1] << 8, b[2] | b[3] << 8), (b[0] << 8 | b[1], b[2] << 8 | b[3])


def dcdump_offsets(text, data, printed=None):
    """(offset, tag) of every element and item of the "While reading" part, in
    file order, up to the top-level Pixel Data element, its fragment items and
    the trailing padding after them.

    dcdump prints some entries without their tag (encapsulated pixel data
    before its items, item delimiters): their tag is read from the file at the
    printed offset, in whichever byte order names a delimiter or pixel data.
    When `printed` is a list, it receives the offset of every entry dcdump
    prints, delimiters and entries after the pixel data included, in order."""
    reading = text.split("******** As read ... ********")[0]
    as_read = text[len(reading):]
    entries = []
    for m in ENTRY.finditer(reading):
        offset = int(m.group(1), 16)
        if printed is not None:
            printed.append(offset)
        if m.group(2):
            tag = (int(m.group(2), 16), int(m.group(3), 16))
        else:
            le, be = tag_at(data, offset)
            tag = next((t for t in (le, be) if t in DELIMITERS or t == (0x7FE0, 0x0010)), le)
        if tag in DELIMITERS:
            continue
        entries.append((offset, tag))
    top = TOP_LEVEL_PIXEL_DATA.search(as_read)
    if not top:
        return entries
    pixel_offset = int(top.group(1), 16)
    out = []
    for i, entry in enumerate(entries):
        out.append(entry)
        if entry[0] == pixel_offset:
            # The fragment items, then trailing padding: the one element
            # read after the pixel data.
            for following in entries[i + 1:]:
                if following[1] == TRAILING_PADDING:
                    out.append(following)
                if following[1] != ITEM:
                    break
                out.append(following)
            break
    return out


# ---------------------------------------------------------------------------
# Checks

def fails_tag_tests(data):
    start = 132 if len(data) >= 132 and data[128:132] == b"DICM" else 0
    le, be = tag_at(data, start)
    if le is None:
        return True
    return not (max(le) <= 0x28 or max(be) <= 0x28)


def first_difference(ours, theirs):
    for i, (a, b) in enumerate(zip(ours, theirs)):
        if a != b:
            return i
    return None if len(ours) == len(theirs) else min(len(ours), len(theirs))


def describe(entry):
    if entry is None:
        return "nothing"
    offset, (g, e) = entry
    return "(%04X,%04X) at %d" % (g, e, offset)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dump", required=True, help="path of quillon-dump")
    parser.add_argument("--data", default=DATA_ROOT, help="corpus root (default: pydicom's data directory)")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()

    files = []
    for root, dirs, names in os.walk(args.data):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        files += [os.path.relpath(os.path.join(root, n), args.data) for n in sorted(names)]
    if not files:
        print("no files under %s" % args.data)
        return 1

    problems = []
    compared = skipped = loaded = rejected = 0
    seen = set()
    for rel in files:
        seen.add(rel)
        path = os.path.join(args.data, rel)
        with open(path, "rb") as f:
            data = f.read()
        status, nodes, message = run_dump(args.dump, path)
        if status == "failed":
            problems.append("%s: quillon-dump failed: %s" % (rel, message))
            continue
        expected = EXPECTED_REJECTIONS.get(rel)
        if status == "partial":
            # Refused, but shown as far as read: nothing printed reaches the stop.
            beyond = [n for n in nodes if n.tag_offset >= message or n.last >= message]
            if beyond:
                problems.append("%s: read up to byte %d, but (%04X,%04X) at %d reaches %d" % (
                    rel, message, beyond[0].group, beyond[0].element, beyond[0].tag_offset, beyond[0].last))
            # Where dcdump reads the same elements before it gives up, they
            # lie where ours do.
            clean, text = run_dcdump(path)
            theirs = dcdump_offsets(text, data, [])
            theirs = theirs if clean else theirs[:-1]
            ours = our_offsets(nodes)
            n = min(len(ours), len(theirs))
            at = first_difference(ours[:n], theirs[:n])
            if at is not None:
                problems.append("%s: element %d of what was read differs: ours %s, dcdump %s" % (
                    rel, at, describe(ours[at]), describe(theirs[at])))
            status = "rejected"
        if status == "rejected":
            rejected += 1
            if not expected:
                problems.append("%s: rejected, but it should load" % rel)
                continue
            reason, check = expected
            if check == TAG_TESTS and not fails_tag_tests(data):
                problems.append("%s: listed as failing the tag tests, but its first tag passes one" % rel)
            elif check == ORACLE and run_dcdump(path)[0]:
                problems.append("%s: listed as unreadable, but dcdump reads it to the end" % rel)
            elif args.verbose:
                print("rejected as expected: %s (%s)" % (rel, reason))
            continue
        loaded += 1
        if expected:
            problems.append("%s: loaded, but it should be rejected (%s)" % (rel, expected[0]))
            continue

        for fault in range_faults(nodes):
            problems.append("%s: %s" % (rel, fault))
        clean, text = run_dcdump(path)
        ours = our_offsets(nodes)
        printed = []
        theirs = dcdump_offsets(text, data, printed)
        if rel in DEFLATED:
            meta = [e for e in theirs if e[1][0] == 0x0002]
            at = first_difference(ours[:len(meta)], meta)
            if clean or not meta or at is not None:
                problems.append("%s: deflated: the meta group differs from dcdump's, or dcdump inflates now" % rel)
            continue
        if not clean:
            # Where dcdump gives up, it still printed what it read before: the
            # entries before its last one must agree with ours.
            skipped += 1
            theirs = theirs[:-1]
            at = first_difference(ours[:len(theirs)], theirs)
            if at is not None:
                problems.append("%s: element %d, before dcdump gave up, differs: ours %s, dcdump %s" % (
                    rel, at, describe(ours[at]), describe(theirs[at])))
            elif args.verbose:
                print("dcdump does not read %s to the end: %d entries before it gave up agree" % (rel, len(theirs)))
            continue
        compared += 1
        at = first_difference(ours, theirs)
        difference = OFFSET_DIFFERENCES.get(rel)
        if difference is None:
            if at is not None:
                problems.append("%s: element %d differs: ours %s, dcdump %s" % (
                    rel, at, describe(ours[at] if at < len(ours) else None),
                    describe(theirs[at] if at < len(theirs) else None)))
                continue
            # Same elements at the same offsets: each also ends where the file says.
            faults = leaf_end_faults(nodes, printed)
            if faults:
                problems.append("%s: %s" % (rel, faults[0]))
            continue
        parting, reason = difference
        if at is None:
            problems.append("%s: listed as differing (%s), but the offsets agree now" % (rel, reason))
            continue
        before = ours[at][0] if at < len(ours) else theirs[at][0]
        if at < len(theirs):
            before = min(before, theirs[at][0])
        if before < parting:
            problems.append("%s: differs before offset %d: ours %s, dcdump %s" % (
                rel, parting, describe(ours[at] if at < len(ours) else None),
                describe(theirs[at] if at < len(theirs) else None)))
        elif args.verbose:
            print("differs as expected: %s from %d (%s)" % (rel, parting, reason))

    for table, name in ((EXPECTED_REJECTIONS, "EXPECTED_REJECTIONS"), (OFFSET_DIFFERENCES, "OFFSET_DIFFERENCES")):
        for rel in sorted(set(table) - seen):
            problems.append("%s lists %s, which is not in the corpus" % (name, rel))

    print("%d files: %d loaded, %d rejected; offsets compared on %d, and on %d up to where dcdump gives up" % (
        len(files), loaded, rejected, compared, skipped))
    for p in problems:
        print("FAIL " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
