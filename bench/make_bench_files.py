#!/usr/bin/python3
"""Writes the loader's benchmark files into bench/data/ (git-ignored).

  multiframe.dcm   about 500 MiB: 1000 native frames of 512 x 512 x 16 bits,
                   explicit VR little endian.
  structure.dcm    about 200,000 small elements in nested sequences, shaped
                   like an RT structure set: Structure Set ROI Sequence,
                   ROI Contour Sequence > items > Contour Sequence > items with
                   Contour Data and a Contour Image Sequence, RT ROI
                   Observations Sequence. Half of the ROIs use undefined
                   lengths, half defined lengths.

Only the standard library is used; files that exist with the right size are
kept (pass --force to write them again).
"""

import argparse
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
UNDEFINED = 0xFFFFFFFF
LONG_VRS = (b"OB", b"OW", b"SQ", b"UN", b"UT")


def element(group, elem, vr, value):
    if isinstance(value, str):
        value = value.encode("ascii")
    if len(value) % 2:
        value += b"\0" if vr in ("UI", "OB") else b" "
    vr = vr.encode()
    if vr in LONG_VRS:
        return struct.pack("<HH2sHI", group, elem, vr, 0, len(value)) + value
    return struct.pack("<HH2sH", group, elem, vr, len(value)) + value


def sequence(group, elem, items, defined):
    """items: list of item bodies (bytes)."""
    if defined:
        body = b"".join(struct.pack("<HHI", 0xFFFE, 0xE000, len(i)) + i for i in items)
        return struct.pack("<HH2sHI", group, elem, b"SQ", 0, len(body)) + body
    body = b"".join(struct.pack("<HHI", 0xFFFE, 0xE000, UNDEFINED) + i + struct.pack("<HHI", 0xFFFE, 0xE00D, 0)
                    for i in items)
    return (struct.pack("<HH2sHI", group, elem, b"SQ", 0, UNDEFINED) + body +
            struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))


def meta(sop_class, sop_instance, syntax="1.2.840.10008.1.2.1"):
    body = (element(0x0002, 0x0001, "OB", b"\0\1") +
            element(0x0002, 0x0002, "UI", sop_class) +
            element(0x0002, 0x0003, "UI", sop_instance) +
            element(0x0002, 0x0010, "UI", syntax) +
            element(0x0002, 0x0012, "UI", "1.2.826.0.1.3680043.9.7433.1"))
    return bytes(128) + b"DICM" + element(0x0002, 0x0000, "UL", struct.pack("<I", len(body))) + body


def patient_study(modality, sop_class, sop_instance):
    return (element(0x0008, 0x0005, "CS", "ISO_IR 100") +
            element(0x0008, 0x0016, "UI", sop_class) +
            element(0x0008, 0x0018, "UI", sop_instance) +
            element(0x0008, 0x0020, "DA", "20240131") +
            element(0x0008, 0x0060, "CS", modality) +
            element(0x0010, 0x0010, "PN", "Bench^Mark") +
            element(0x0010, 0x0020, "LO", "BENCH-1") +
            element(0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.9.7433.2") +
            element(0x0020, 0x000E, "UI", "1.2.826.0.1.3680043.9.7433.3"))


def write_multiframe(path, frames=1000, rows=512, columns=512):
    sop_class = "1.2.840.10008.5.1.4.1.1.7.3"  # multi-frame grayscale word SC
    sop = "1.2.826.0.1.3680043.9.7433.4"
    frame_bytes = rows * columns * 2
    head = (meta(sop_class, sop) + patient_study("OT", sop_class, sop) +
            element(0x0028, 0x0002, "US", struct.pack("<H", 1)) +
            element(0x0028, 0x0004, "CS", "MONOCHROME2") +
            element(0x0028, 0x0008, "IS", str(frames)) +
            element(0x0028, 0x0010, "US", struct.pack("<H", rows)) +
            element(0x0028, 0x0011, "US", struct.pack("<H", columns)) +
            element(0x0028, 0x0100, "US", struct.pack("<H", 16)) +
            element(0x0028, 0x0101, "US", struct.pack("<H", 12)) +
            element(0x0028, 0x0102, "US", struct.pack("<H", 11)) +
            element(0x0028, 0x0103, "US", struct.pack("<H", 0)) +
            struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OW", 0, frames * frame_bytes))
    # One frame of a ramp; each frame differs in its first row.
    ramp = bytearray(struct.pack("<%dH" % (rows * columns), *[(i * 7) & 0x0FFF for i in range(rows * columns)]))
    with open(path, "wb") as f:
        f.write(head)
        for k in range(frames):
            ramp[0:2] = struct.pack("<H", k & 0x0FFF)
            f.write(ramp)
    return os.path.getsize(path)


def contour_item(roi, n, defined):
    points = 4
    data = "\\".join("%.2f" % (v + roi + n * 0.5) for v in range(points * 3))
    image = (element(0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2") +
             element(0x0008, 0x1155, "UI", "1.2.826.0.1.3680043.9.7433.5.%d" % (n % 150)))
    return (sequence(0x3006, 0x0016, [image], defined) +
            element(0x3006, 0x0042, "CS", "CLOSED_PLANAR") +
            element(0x3006, 0x0046, "IS", str(points)) +
            element(0x3006, 0x0050, "DS", data))


def write_structure(path, rois=100, contours=330):
    sop_class = "1.2.840.10008.5.1.4.1.1.481.3"
    sop = "1.2.826.0.1.3680043.9.7433.6"
    structure_set_rois = []
    roi_contours = []
    observations = []
    for roi in range(1, rois + 1):
        defined = roi % 2 == 0
        structure_set_rois.append(
            element(0x3006, 0x0022, "IS", str(roi)) +
            element(0x3006, 0x0024, "UI", "1.2.826.0.1.3680043.9.7433.7") +
            element(0x3006, 0x0026, "LO", "ROI %d" % roi) +
            element(0x3006, 0x0036, "CS", "MANUAL"))
        items = [contour_item(roi, n, defined) for n in range(contours)]
        roi_contours.append(
            element(0x3006, 0x002A, "IS", "%d\\%d\\%d" % (roi % 256, 128, 255 - roi % 256)) +
            sequence(0x3006, 0x0040, items, defined) +
            element(0x3006, 0x0084, "IS", str(roi)))
        observations.append(
            element(0x3006, 0x0082, "IS", str(roi)) +
            element(0x3006, 0x0084, "IS", str(roi)) +
            element(0x3006, 0x00A4, "CS", "ORGAN") +
            element(0x3006, 0x00A6, "PN", ""))
    body = (meta(sop_class, sop) + patient_study("RTSTRUCT", sop_class, sop) +
            element(0x3006, 0x0002, "SH", "BENCH") +
            element(0x3006, 0x0008, "DA", "20240131") +
            sequence(0x3006, 0x0020, structure_set_rois, False) +
            sequence(0x3006, 0x0039, roi_contours, False) +
            sequence(0x3006, 0x0080, observations, True))
    with open(path, "wb") as f:
        f.write(body)
    return os.path.getsize(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--force", action="store_true", help="write the files even if they exist")
    parser.add_argument("--out", default=DATA, help="output directory (default: bench/data)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    multiframe = os.path.join(args.out, "multiframe.dcm")
    if args.force or not os.path.exists(multiframe) or os.path.getsize(multiframe) < 500 * 2**20:
        print("%s: %d bytes" % (multiframe, write_multiframe(multiframe)))
    structure = os.path.join(args.out, "structure.dcm")
    if args.force or not os.path.exists(structure):
        print("%s: %d bytes" % (structure, write_structure(structure)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
