#!/usr/bin/python3
"""quillon-dump --diff as a command: its lines and exit statuses (as diff(1)).

The same file is equal (exit 0, nothing printed); one corpus file written
again in other transfer syntaxes differs in its meta information only, the
big endian copy's pixel data reading the same; a missing file or a missing
argument is trouble (exit 2). A changed value is printed with the tree's
escapes, a character beyond U+FFFF whole. The alignment itself is tested on edited
copies in tests/unit/dataset_diff_test.cpp.

    /usr/bin/python3 tests/cli/test_diff.py --dump build/tools/quillon-dump
"""

import argparse
import os
import sys
import tempfile

import pydicom

from cli_common import TEST_FILES, report, run

MR = os.path.join(TEST_FILES, "MR_small.dcm")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    code, out, err = run(args.dump, "--diff", MR, MR)
    if (code, out, err) != (0, b"", ""):
        failures.append(f"same file: exit {code}, {out!r}, {err!r}")
    for other in ("MR_small_bigendian.dcm", "MR_small_implicit.dcm"):
        code, out, err = run(args.dump, "--diff", MR, os.path.join(TEST_FILES, other))
        lines = [line.split("\t") for line in out.decode().splitlines()]
        if code != 1 or err or not lines:
            failures.append(f"{other}: exit {code}, {err!r}")
            continue
        for fields in lines:
            kind, path = fields[0], fields[1]
            # The meta group and the trailing padding the rewrite dropped.
            if kind == "changed" and not path.startswith("(0002,"):
                failures.append(f"{other}: {fields}")
            if kind == "shift" and not (len(fields) == 5 and fields[4][0] in "+-"):
                failures.append(f"{other}: shift without its amount: {fields}")
            if kind in ("changed", "removed", "added") and len(fields) != 7:
                failures.append(f"{other}: {len(fields)} fields: {fields}")
        if not any(f[:2] == ["changed", "(0002,0010)"] and "value" in f[4] for f in lines):
            failures.append(f"{other}: the transfer syntax is not changed: {lines}")
    with tempfile.TemporaryDirectory() as tmp:
        edited = os.path.join(tmp, "edited.dcm")
        ds = pydicom.dcmread(MR)
        ds.SpecificCharacterSet = "ISO_IR 192"
        ds.PatientName = "A\U0001F600^B\tC"
        ds.save_as(edited)
        code, out, err = run(args.dump, "--diff", MR, edited)
        name = [line for line in out.decode().splitlines() if line.startswith("changed\t(0010,0010)")]
        if code != 1 or len(name) != 1 or name[0].split("\t")[6] != "PN 10 A\U0001F600^B\\tC ":
            failures.append(f"edited name: exit {code}, {name!r}, {err!r}")
    for args_ in (["--diff", MR, "/nonexistent.dcm"], ["--diff", MR], ["--diff", "--json", MR, MR]):
        code, out, err = run(args.dump, *args_)
        if code != 2 or out or not err:
            failures.append(f"{args_}: exit {code}, {out!r}, {err!r}")
    return report(failures, "")


if __name__ == "__main__":
    sys.exit(main())
