#!/usr/bin/python3
"""Cross-checks the resolved Basic Offset Table of quillon-dump against pydicom.

For every file under pydicom's data directory that our loader accepts and
whose top-level Pixel Data is encapsulated, pydicom reads the offset table
and the fragments; then:
  * the fragments are the items quillon-dump lists under the Pixel Data
    element (after the table item);
  * a fragment's description (field 9) names the frames whose table entry
    points at its item tag ("SQ Item (Frame 2 starts here)"), and is plain
    "SQ Item" when none does;
  * `quillon-dump --problems` reports one offset-table problem per entry
    that points at no fragment item.

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_offset_table.py --dump build/tools/quillon-dump
"""

import argparse
import os
import subprocess
import sys
import warnings

import pydicom
from pydicom.encaps import generate_pixel_data_fragment, get_frame_offsets
from pydicom.filebase import DicomBytesIO

DATA_DIR = "/usr/lib/python3/dist-packages/pydicom/data"
SKIP_SUFFIXES = (".py", ".pyc", ".json")
LISTED = 5


def description(frames):
    if not frames:
        return "SQ Item"
    if len(frames) == 1:
        return "SQ Item (Frame %d starts here)" % frames[0]
    text = ", ".join(str(n) for n in frames[:LISTED])
    if len(frames) > LISTED:
        text += " and %d more" % (len(frames) - LISTED)
    return "SQ Item (Frames %s start here)" % text


def pydicom_fragments(path):
    """The table entries and each fragment's item position from the first; None when not encapsulated."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ds = pydicom.dcmread(path, force=True)
        elem = ds.get((0x7FE0, 0x0010))
        if elem is None or not elem.is_undefined_length or not isinstance(elem.value, bytes):
            return None
        fp = DicomBytesIO(elem.value)
        fp.is_little_endian = True
        has_table, entries = get_frame_offsets(fp)
        if not has_table:  # an empty table reads as [0]
            entries = []
        positions, at = [], 0
        for fragment in generate_pixel_data_fragment(fp):
            positions.append(at)
            at += 8 + len(fragment)
    return entries, positions


def dump_fragments(dump, path):
    """Field 9 of the items under the top-level Pixel Data element; None when the file is refused."""
    run = subprocess.run([dump, path], capture_output=True)
    if run.returncode != 0:
        return None
    items, inside = [], False
    for line in run.stdout.decode("utf-8").split("\n"):
        fields = line.split("\t")
        if len(fields) < 11:
            continue
        if fields[0] == "0":
            inside = fields[1] == "7FE0,0010"
        elif inside and fields[0] == "1" and fields[1] == "FFFE,E000":
            items.append(fields[8])
    return items


def check_file(dump, path, rel, failures):
    items = dump_fragments(dump, path)
    if not items:
        return 0
    try:
        read = pydicom_fragments(path)
    except Exception:  # pydicom cannot read it: nothing to compare
        return 0
    if read is None:
        return 0
    entries, positions = read
    fragments = items[1:]
    if len(fragments) != len(positions):
        failures.append("%s: %d fragments, pydicom %d" % (rel, len(fragments), len(positions)))
        return 0
    for k, (got, at) in enumerate(zip(fragments, positions)):
        wanted = description([n + 1 for n, entry in enumerate(entries) if entry == at])
        if got != wanted:
            failures.append("%s: fragment %d: %r, wanted %r" % (rel, k + 1, got, wanted))
    nowhere = sum(1 for entry in entries if entry not in positions)
    run = subprocess.run([dump, "--problems", path], capture_output=True)
    reported = sum(1 for line in run.stdout.decode("utf-8").split("\n") if "\toffset-table\t" in line)
    if reported != nowhere:
        failures.append("%s: %d offset-table problems, %d entries point at no fragment" % (rel, reported, nowhere))
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    files = 0
    for root, _, names in os.walk(DATA_DIR):
        for name in sorted(names):
            if name.endswith(SKIP_SUFFIXES):
                continue
            path = os.path.join(root, name)
            files += check_file(args.dump, path, os.path.relpath(path, DATA_DIR), failures)
    for failure in failures:
        print("FAIL", failure)
    print("%d encapsulated files compared" % files)
    if files < 20:
        print("FAIL: too few encapsulated files found; is pydicom's data installed?")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
