#!/usr/bin/python3
"""quillon-dump --extract against the bytes at the dump's offsets.

For a table of corpus files and selectors (top-level elements, an element
inside a sequence, the Nth of a repeated tag, pixel data, native and
encapsulated frames, a deflated file), the extracted bytes must be the bytes
the tree dump places there: an element's `length` bytes from its data
offset; a native frame the frame node's; an encapsulated frame its fragments'
values joined (the fragments labelled with the frame). A deflated file's
bytes past its meta information are those of its inflated data set. Then
the errors: no such element or frame (exit 1), a bad selector (exit 2).

    /usr/bin/python3 tests/cli/test_extract.py --dump build/tools/quillon-dump
"""

import argparse
import os
import sys
import zlib

from cli_common import TEST_FILES, report, run, tree

CASES = [
    ("CT_small.dcm", "0008,0016"),
    ("CT_small.dcm", "0010,0010"),
    ("CT_small.dcm", "7FE0,0010"),
    ("CT_small.dcm", "0002,0010"),
    ("rtplan.dcm", "300A,010C/3"),     # repeated inside sequence items
    ("rtplan.dcm", "300C,0004"),       # a sequence inside an item
    ("rtplan.dcm", "FFFE,E000/4"),     # an item
    ("MR_small_bigendian.dcm", "0028,0010"),  # stored big endian: bytes as stored
    ("MR_small_bigendian.dcm", "7FE0,0010"),
    ("image_dfl.dcm", "0008,0016"),     # inflated data set
    ("image_dfl.dcm", "7FE0,0010"),
    ("rtdose.dcm", "frame:0"),
    ("rtdose.dcm", "frame:2"),
    ("SC_rgb_rle_2frame.dcm", "frame:1"),
    ("SC_rgb_rle_16bit_2frame.dcm", "frame:0"),
    ("JPEG2000.dcm", "frame:0"),
    ("JPEG2000.dcm", "7FE0,0010"),     # undefined length: up to the element's end
    ("image_dfl.dcm", "frame:0"),
]


def shown_bytes(path, records):
    data = open(path, "rb").read()
    # A deflated file: the meta information, then the inflated data set.
    ts = [r for r in records if r["tag"] == "0002,0010"]
    if ts and ts[0]["value"].rstrip("\\x00").strip() == "1.2.840.10008.1.2.1.99":
        start = min(int(r["tag_offset"]) for r in records if not r["tag"].startswith("0002,"))
        return data[:start] + zlib.decompress(data[start:], -15)
    return data


def expected(records, data, selector):
    if selector.startswith("frame:"):
        k = int(selector[6:])
        node = [r for r in records if r["tag"] == "0000,%04X" % (k + 1)]
        if node:  # native: the frame node's bytes
            start, length = int(node[0]["data_offset"]), int(node[0]["length"])
            return data[start:start + length]
        # Encapsulated: the fragments labelled "Frame k+1" and its parts.
        label = "Frame %04d" % (k + 1)
        parts = [r for r in records if r["tag"] == "FFFE,E000" and
                 (r["label"] == label or r["label"].startswith(label + " (part"))]
        assert parts, selector
        return b"".join(data[int(r["data_offset"]):int(r["data_offset"]) + int(r["length"])] for r in parts)
    tag, _, nth = selector.partition("/")
    record = [r for r in records if r["tag"] == tag][int(nth or 1) - 1]
    start = int(record["data_offset"])
    if record["length"] == "FFFFFFFF":
        return data[start:int(record["last"]) + 1]
    return data[start:start + int(record["length"])]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    for name, selector in CASES:
        path = os.path.join(TEST_FILES, name)
        records = tree(args.dump, path)
        want = expected(records, shown_bytes(path, records), selector)
        code, out, err = run(args.dump, "--extract", selector, path)
        if code != 0 or out != want or not want:
            failures.append(f"{name} {selector}: exit {code} {err.strip()!r}, {len(out)} bytes, expected {len(want)}")

    ct = os.path.join(TEST_FILES, "CT_small.dcm")
    for args_, code_wanted, text in (
            (["--extract", "0010,0010/2", ct], 1, "no element (0010,0010) number 2"),
            (["--extract", "0009,9999", ct], 1, "no element (0009,9999) number 1"),
            (["--extract", "frame:1", ct], 1, "no frame 1"),
            (["--extract", "frame:0", os.path.join(TEST_FILES, "rtplan.dcm")], 1, "no pixel data"),
            (["--extract", "frame:x", ct], 2, "--extract takes"),
            (["--extract", "10,10,10", ct], 2, "--extract takes"),
            (["--extract", "0010,0010", ct, ct], 2, "only one FILE"),
            (["--extract", "0010,0010", "/nonexistent.dcm"], 1, "The file was not found")):
        code, out, err = run(args.dump, *args_)
        if code != code_wanted or out or text not in err:
            failures.append(f"{args_}: exit {code}, {len(out)} bytes, {err.strip()!r}")

    return report(failures, f"{len(CASES)} extracts, ")


if __name__ == "__main__":
    sys.exit(main())
