#!/usr/bin/python3
"""Cross-checks the decoded text values of quillon-dump against pydicom.

For every DICOM file of pydicom's charset_files directory, every element that
pydicom reads with a VR whose text depends on the Specific Character Set (PN,
SH, LO, ST, LT, UC, UT), at the top level and inside sequence items, is looked
up in quillon-dump's output by its path (sequence tag, item number, tag). Its
value text must equal pydicom's decoding, compared in the dump's escaped
form after the trailing padding blanks are removed (pydicom drops them; we
show them) and with the values of a multi-valued element joined by "\\".

Our decoding differs from pydicom's on purpose in a few places:
  * Under a multi-valued term, a value holding "=" is split into component
    groups and the groups are read with the code pages of the term's values,
    the first group with ISO_IR 100 when the term's first value is empty;
    escape sequences are not interpreted and, in this path, not removed. A
    single-valued term reads every group, as pydicom does.
  * Without "=", a term that names Korean (IR 149) has every ESC that is
    followed by at least four bytes removed together with those three bytes;
    a shorter designation at the end stays, and a 3-byte one (ESC ( B) takes
    the following byte with it.
  * The code page comes from a substring test of the whole term (first
    matching row), not from the designations inside the value.
  * Separators of empty trailing groups stay ("A=B=").
Each element on which the result differs is listed in EXPECTED_DIFFERENCES
with the reason and our exact text; the script fails when such an entry no
longer differs from pydicom, or does not show our expected text, or is not
met at all. Every other element must agree.

Values of 128 bytes or more are not decoded: they must show
"(Long Size Data)".

Run with /usr/bin/python3 (Debian's pydicom lives in its dist-packages):
    /usr/bin/python3 tests/oracle/test_charsets.py --dump build/tools/quillon-dump
"""

import argparse
import os
import subprocess
import sys

import pydicom
from pydicom.multival import MultiValue

CHARSET_DIR = "/usr/lib/python3/dist-packages/pydicom/data/charset_files"

# VRs whose text is decoded with the Specific Character Set.
CHARSET_VRS = {"PN", "SH", "LO", "ST", "LT", "UC", "UT"}

LONG_SIZE_DATA = "(Long Size Data)"
ITEM_TAG = "FFFE,E000"


# (file, path) -> (reason, our exact value text in the dump's escaped form,
# trailing blanks removed). A path is a tuple of "GGGG,EEEE" tags and item
# numbers (0-based), outermost first.
EXPECTED_DIFFERENCES = {
    ("chrX1.dcm", ("0010,0010",)): (
        "the value ends in an empty third group; its '=' separator stays "
        "(pydicom drops empty trailing components)",
        "Wang^XiaoDong=\u738B^\u5C0F\u6771=",
    ),
    ("chrX2.dcm", ("0010,0010",)): (
        "as chrX1.dcm: the '=' before the empty third group stays",
        "Wang^XiaoDong=\u738B^\u5C0F\u4E1C=",
    ),
}


def escape(text):
    """The dump's escaping: TAB, CR, LF as \\t \\r \\n, other controls as \\xHH."""
    out = []
    for ch in text:
        if ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\x%02X" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def read_dump(dump, path):
    """Maps element paths to (VR, length, value text) from quillon-dump."""
    proc = subprocess.run([dump, path], capture_output=True)
    if proc.returncode != 0:
        raise RuntimeError("quillon-dump exited with %d: %s" % (proc.returncode, proc.stderr.decode(errors="replace")))
    elements = {}
    stack = []  # [depth, path, number of items seen below]
    for raw_line in proc.stdout.decode("utf-8").split("\n"):
        if not raw_line:
            continue
        fields = raw_line.split("\t")
        if len(fields) < 10:
            raise RuntimeError("line without a value field: %r" % raw_line)
        depth, tag, vr, length, value = int(fields[0]), fields[1], fields[2], fields[5], fields[9]
        while stack and stack[-1][0] >= depth:
            stack.pop()
        parent_path = stack[-1][1] if stack else ()
        if tag == ITEM_TAG:
            if not stack:
                raise RuntimeError("item at the top level: %r" % raw_line)
            key = stack[-1][2]
            stack[-1][2] += 1
        elif tag.startswith("FFFE,"):
            continue  # delimiters
        else:
            key = tag
        element_path = parent_path + (key,)
        stack.append([depth, element_path, 0])
        elements[element_path] = (vr, length, value)
    return elements


def tag_text(tag):
    return "%04X,%04X" % (tag.group, tag.element)


def pydicom_texts(dataset, prefix=()):
    """Yields (path, VR, text) for the charset-dependent elements, pre-order."""
    for elem in dataset:
        path = prefix + (tag_text(elem.tag),)
        if elem.VR == "SQ":
            for number, item in enumerate(elem.value):
                yield from pydicom_texts(item, path + (number,))
        elif elem.VR in CHARSET_VRS:
            value = elem.value
            if value is None:
                text = ""
            elif isinstance(value, MultiValue):
                text = "\\".join(str(v) for v in value)
            else:
                text = str(value)
            yield path, elem.VR, text


def describe(path):
    return "/".join(str(p) for p in path)


def check_file(dump, name, failures, differences_met):
    """Compares one file; returns the number of elements compared."""
    full = os.path.join(CHARSET_DIR, name)
    try:
        ours = read_dump(dump, full)
    except (RuntimeError, UnicodeDecodeError, ValueError) as exc:
        failures.append("%s: %s" % (name, exc))
        return 0
    dataset = pydicom.dcmread(full)
    compared = 0
    seen_patient_name = False
    for path, vr, theirs in pydicom_texts(dataset):
        where = "%s %s (%s)" % (name, describe(path), vr)
        if path not in ours:
            failures.append("%s: not in quillon-dump's output" % where)
            continue
        our_vr, length, value = ours[path]
        compared += 1
        seen_patient_name |= path == ("0010,0010",)
        if length != "FFFFFFFF" and int(length) >= 128:
            if value != LONG_SIZE_DATA:
                failures.append("%s: %s bytes, expected %r, got %r" % (where, length, LONG_SIZE_DATA, value))
            continue
        got = value.rstrip(" ")
        expected = escape(theirs).rstrip(" ")
        difference = EXPECTED_DIFFERENCES.get((name, path))
        if difference is not None:
            reason, our_text = difference
            differences_met.add((name, path))
            if got == expected:
                failures.append("%s: listed as a difference (%s) but agrees with pydicom now: %r" % (where, reason, got))
            elif got != our_text:
                failures.append("%s: expected difference (%s): expected %r, got %r (pydicom: %r)"
                                % (where, reason, our_text, got, expected))
            continue
        if got != expected:
            failures.append("%s: VR %s, pydicom %r, ours %r" % (where, our_vr, expected, got))
    if "PatientName" in dataset and not seen_patient_name:
        failures.append("%s: Patient's Name was not compared" % name)
    return compared


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dump", required=True, help="path to quillon-dump")
    args = parser.parse_args()

    names = sorted(n for n in os.listdir(CHARSET_DIR) if n.endswith(".dcm"))
    if not names:
        print("no files in %s" % CHARSET_DIR)
        return 1
    failures = []
    differences_met = set()
    total = 0
    for name in names:
        total += check_file(args.dump, name, failures, differences_met)
    for name, path in sorted(set(EXPECTED_DIFFERENCES) - differences_met):
        failures.append("%s %s: listed in EXPECTED_DIFFERENCES but never compared" % (name, describe(path)))

    for failure in failures:
        print("FAIL " + failure)
    print("%d files, %d elements compared, %d expected differences listed, %d failures"
          % (len(names), total, len(EXPECTED_DIFFERENCES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
