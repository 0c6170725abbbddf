#!/usr/bin/env python3
"""Writes the hand-made seed files of the load fuzzer into fuzz/seeds/.

Small files, each aimed at one part of the loader or of the value text:
the three native encodings, bare and short data sets, sequences of every
kind, UN sequences, encapsulated pixel data (undefined and defined length),
native frames including YBR_FULL_422, palette colour tables and the
character sets. Run it again after changing it; the output is deterministic.
The seeds named pydicom_* are small real files copied from pydicom's test data.
"""

import os
import struct
import sys
import zlib

SEEDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")

LONG_VRS = {b"OB", b"OW", b"SQ", b"UN", b"UT"}
UNDEFINED = 0xFFFFFFFF


class Writer:
    def __init__(self, explicit=True, little=True):
        self.explicit = explicit
        self.little = little
        self.out = bytearray()

    def _u16(self, v):
        return struct.pack("<H" if self.little else ">H", v)

    def _u32(self, v):
        return struct.pack("<I" if self.little else ">I", v)

    def raw(self, b):
        self.out += b
        return self

    def tag(self, g, e):
        return self.raw(self._u16(g) + self._u16(e))

    def header(self, g, e, vr, length):
        self.tag(g, e)
        if not self.explicit:
            return self.raw(struct.pack("<I", length))
        vr = vr.encode()
        if vr in LONG_VRS:
            return self.raw(vr + b"\0\0" + self._u32(length))
        return self.raw(vr + self._u16(length))

    def element(self, g, e, vr, value):
        if isinstance(value, str):
            value = value.encode("latin-1")
        return self.header(g, e, vr, len(value)).raw(value)

    def us(self, g, e, *values):
        return self.element(g, e, "US", b"".join(self._u16(v) for v in values))

    def item(self, length):
        return self.tag(0xFFFE, 0xE000).raw(self._u32(length))

    def item_end(self):
        return self.tag(0xFFFE, 0xE00D).raw(self._u32(0))

    def seq_end(self):
        return self.tag(0xFFFE, 0xE0DD).raw(self._u32(0))


def pad(s, c=" "):
    return s + c if len(s) % 2 else s


def part10(transfer_syntax, sop_class="1.2.840.10008.5.1.4.1.1.7"):
    w = Writer()
    w.raw(bytes(128) + b"DICM")
    meta = Writer()
    meta.element(0x0002, 0x0001, "OB", b"\0\1")
    meta.element(0x0002, 0x0002, "UI", pad(sop_class, "\0"))
    meta.element(0x0002, 0x0003, "UI", pad("1.2.3.4.5.6.7", "\0"))
    meta.element(0x0002, 0x0010, "UI", pad(transfer_syntax, "\0"))
    meta.element(0x0002, 0x0012, "UI", pad("1.2.3.4", "\0"))
    w.element(0x0002, 0x0000, "UL", struct.pack("<I", len(meta.out)))
    w.raw(meta.out)
    w.explicit = transfer_syntax not in ("1.2.840.10008.1.2",)
    w.little = transfer_syntax != "1.2.840.10008.1.2.2"
    return w


def study(w, charset="ISO_IR 100", name="Doe^John"):
    w.element(0x0008, 0x0005, "CS", pad(charset))
    w.element(0x0008, 0x0008, "CS", pad("ORIGINAL\\PRIMARY"))
    w.element(0x0008, 0x0020, "DA", "20240131")
    w.element(0x0008, 0x0030, "TM", "120000.5 ")
    w.element(0x0008, 0x0060, "CS", "OT")
    w.element(0x0010, 0x0010, "PN", name.encode("latin-1") if isinstance(name, str) else name)
    w.element(0x0010, 0x0020, "LO", pad("ID-42"))
    return w


def image(w, rows, cols, bits, samples=1, photometric="MONOCHROME2", frames=None, extra=()):
    w.us(0x0028, 0x0002, samples)
    w.element(0x0028, 0x0004, "CS", pad(photometric))
    if frames is not None:
        w.element(0x0028, 0x0008, "IS", pad(str(frames)))
    w.us(0x0028, 0x0010, rows)
    w.us(0x0028, 0x0011, cols)
    w.us(0x0028, 0x0100, bits)
    w.us(0x0028, 0x0101, bits)
    w.us(0x0028, 0x0102, bits - 1)
    w.us(0x0028, 0x0103, 0)
    for e in extra:
        e(w)
    return w


def native_pixels(w, count, vr="OW"):
    data = bytes((i * 37) & 0xFF for i in range(count))
    return w.element(0x7FE0, 0x0010, vr, data)


def nested_sequences(w, defined):
    # (0008,1115) > item > (0008,1199) > item > elements; a second, empty item.
    inner = Writer(w.explicit, w.little)
    inner.element(0x0008, 0x1150, "UI", pad("1.2.840.10008.5.1.4.1.1.2", "\0"))
    inner.element(0x0008, 0x1155, "UI", pad("1.2.3.999", "\0"))
    if defined:
        item = Writer(w.explicit, w.little).item(len(inner.out)).raw(inner.out)
        seq = Writer(w.explicit, w.little).header(0x0008, 0x1199, "SQ", len(item.out)).raw(item.out)
        outer_item = Writer(w.explicit, w.little).item(len(seq.out)).raw(seq.out).item(0)
        w.header(0x0008, 0x1115, "SQ", len(outer_item.out)).raw(outer_item.out)
    else:
        w.header(0x0008, 0x1115, "SQ", UNDEFINED).item(UNDEFINED)
        w.header(0x0008, 0x1199, "SQ", UNDEFINED).item(UNDEFINED).raw(inner.out).item_end().seq_end()
        w.item_end().item(UNDEFINED).item_end().seq_end()
    return w


def explicit_le():
    w = study(part10("1.2.840.10008.1.2.1"))
    w.element(0x0008, 0x0000, "UL", struct.pack("<I", 0))  # a group length out of place
    nested_sequences(w, defined=False)
    nested_sequences(w, defined=True)
    w.element(0x0018, 0x0050, "DS", "2.5 ")
    w.element(0x0018, 0x0088, "FD", struct.pack("<d", 3.25))
    w.element(0x0018, 0x1310, "US", struct.pack("<4H", 0, 64, 64, 0))
    w.element(0x0020, 0x0013, "IS", "7 ")
    w.element(0x0020, 0x9165, "AT", struct.pack("<HH", 0x0020, 0x0032))
    w.element(0x0028, 0x0034, "IS", "1\\1 ")
    image(w, 4, 4, 8, frames=2)
    return native_pixels(w, 32, "OB")


def implicit_le():
    w = study(part10("1.2.840.10008.1.2"))
    nested_sequences(w, defined=False)
    # An unknown private element of undefined length is a sequence in implicit VR.
    w.element(0x0029, 0x0010, "LO", pad("ACME"))
    w.header(0x0029, 0x1010, "", UNDEFINED).item(UNDEFINED)
    w.element(0x0029, 0x1011, "", b"\x01\x02\x03")  # odd, unknown VR: guessed
    w.item_end().seq_end()
    w.element(0x0018, 0x0050, "", "1.25")
    image(w, 2, 3, 16)
    return native_pixels(w, 12)


def explicit_be():
    w = study(part10("1.2.840.10008.1.2.2"))
    nested_sequences(w, defined=True)
    w.element(0x0018, 0x0088, "FD", struct.pack(">d", -1.5))
    w.element(0x0018, 0x1310, "US", struct.pack(">4H", 0, 3, 2, 0))
    w.element(0x0028, 0x9001, "UL", struct.pack(">I", 123456))
    w.element(0x0028, 0x9002, "SL", struct.pack(">i", -7))
    w.element(0x0028, 0x9003, "FL", struct.pack(">f", 0.5))
    image(w, 2, 2, 16, frames=1)
    return native_pixels(w, 8)


def bare(explicit):
    w = Writer(explicit=explicit)
    w.element(0x0008, 0x0005, "CS", pad("ISO_IR 100"))
    w.element(0x0008, 0x0016, "UI", pad("1.2.840.10008.5.1.4.1.1.7", "\0"))
    w.element(0x0008, 0x0018, "UI", pad("1.2.3.4.5", "\0"))
    w.element(0x0008, 0x0060, "CS", "OT")
    nested_sequences(w, defined=not explicit)
    w.element(0x0010, 0x0010, "PN", "Bare^Data^Set")
    w.element(0x0010, 0x4000, "LT", pad("A comment that takes the file past 132 bytes."))
    return w


def short_implicit():
    w = Writer(explicit=False)
    w.element(0x0008, 0x0005, "CS", pad("ISO_IR 100"))
    w.element(0x0008, 0x0060, "CS", "MR")
    for e in range(0x10, 0x14):
        w.element(0x0010, e, "", "ab")
    return w


def encapsulated_jpeg():
    w = study(part10("1.2.840.10008.1.2.4.50"))
    image(w, 8, 8, 8, samples=3, photometric="YBR_FULL_422", frames=2,
          extra=[lambda w: w.us(0x0028, 0x0006, 0)])
    jpeg = bytes([0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x08, 0x00, 0x08, 0x03,
                  0x01, 0x21, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xD9])
    jpeg += b"\0" * (len(jpeg) % 2)
    w.header(0x7FE0, 0x0010, "OB", UNDEFINED)
    w.item(8).raw(struct.pack("<II", 0, len(jpeg) + 8))
    w.item(len(jpeg)).raw(jpeg).item(len(jpeg)).raw(jpeg)
    return w.seq_end()


def encapsulated_rle_defined():
    # Pixel data of defined length: fragments are counted, no delimiter.
    w = study(part10("1.2.840.10008.1.2.5"))
    image(w, 2, 4, 8, frames=1)
    segment = bytes([3, 1, 2, 3, 4, 0xFD, 9])  # literal run of 4, replicate run of 4
    header = struct.pack("<16I", 1, 64, *([0] * 14))
    fragment = header + segment + b"\0"
    body = Writer().item(0).item(len(fragment)).raw(fragment)
    return w.header(0x7FE0, 0x0010, "OB", len(body.out)).raw(body.out)


def un_sequences():
    w = study(part10("1.2.840.10008.1.2.1"))
    w.element(0x0009, 0x0010, "LO", pad("ACME"))
    # UN of undefined length: a sequence whose items are implicit VR.
    w.header(0x0009, 0x1010, "UN", UNDEFINED).item(UNDEFINED)
    inner = Writer(explicit=False)
    inner.element(0x0008, 0x0100, "", pad("CODE"))
    inner.header(0x0008, 0x1199, "", UNDEFINED).item(UNDEFINED)
    inner.element(0x0008, 0x1150, "", pad("1.2.3", "\0")).item_end().seq_end()
    w.raw(inner.out).item_end().seq_end()
    # UN of defined length: a plain value, even though it holds an item.
    value = Writer().item(10).us(0x0028, 0x0010, 5)
    w.header(0x0009, 0x1011, "UN", len(value.out)).raw(value.out)
    # VRs that take a 2-byte length here: the reserved bytes become the length.
    w.tag(0x0009, 0x1012).raw(b"OB" + struct.pack("<H", 4) + b"\x00\x01\x02\x03")
    w.raw(struct.pack("<HH", 0x0009, 0x1013) + b"OF" + b"\0\0")
    w.element(0x0010, 0x0030, "DA", "19700101\\")  # 9 bytes: resized to 10
    w.element(0x0020, 0x000D, "UI", "1.2.abc")  # letters become '0'
    return w


def palette():
    w = study(part10("1.2.840.10008.1.2.1"))
    entries = 16
    image(w, 4, 4, 8, photometric="PALETTE COLOR", frames=1, extra=[
        lambda w: w.us(0x0028, 0x1101, entries, 0, 16),
        lambda w: w.us(0x0028, 0x1102, entries, 0, 16),
        lambda w: w.element(0x0028, 0x1103, "SS", struct.pack("<hhh", entries, 0, 16)),
        lambda w: w.element(0x0028, 0x1201, "OW", struct.pack("<16H", *[i * 4096 for i in range(16)])),
        lambda w: w.element(0x0028, 0x1202, "OW", struct.pack("<16H", *[65535 - i * 4096 for i in range(16)])),
        lambda w: w.element(0x0028, 0x1203, "OW", struct.pack("<16H", *([32768] * 16))),
    ])
    return native_pixels(w, 16, "OB")


def charsets():
    seeds = {}
    # Japanese, ISO 2022 with an escape to JIS X 0208 in a person name.
    jis = b"Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B"
    w = study(part10("1.2.840.10008.1.2.1"), charset="\\ISO 2022 IR 87", name=jis + b" " * (len(jis) % 2))
    w.header(0x0008, 0x1115, "SQ", UNDEFINED).item(UNDEFINED)
    w.element(0x0008, 0x0005, "CS", pad("ISO_IR 192"))  # an item with its own character set
    name = "Wang^XiaoDong=王^小東".encode("utf-8")
    w.element(0x0010, 0x0010, "PN", name + b" " * (len(name) % 2))
    w.item_end().seq_end()
    seeds["charset_iso2022_jp.dcm"] = w
    # Korean, with ISO 2022 IR 149 escapes.
    kor = b"Hong^Gildong=\x1b$)C\xfb\xf3^\x1b$)C\xd1\xce\xd4\xd7"
    seeds["charset_iso2022_kr.dcm"] = study(part10("1.2.840.10008.1.2.1"), charset="\\ISO 2022 IR 149",
                                            name=kor + b" " * (len(kor) % 2))
    gb = "Wang^XiaoDong=王^小东".encode("gb18030")
    seeds["charset_gb18030.dcm"] = study(part10("1.2.840.10008.1.2.1"), charset="GB18030",
                                         name=gb + b" " * (len(gb) % 2))
    greek = "Dionysios=Διονυσιος".encode("iso8859-7")
    seeds["charset_greek.dcm"] = study(part10("1.2.840.10008.1.2"), charset="ISO_IR 126",
                                       name=greek + b" " * (len(greek) % 2))
    return seeds


def deep_nesting(depth=64):
    w = study(part10("1.2.840.10008.1.2.1"))
    for _ in range(depth):
        w.header(0x0040, 0xA730, "SQ", UNDEFINED).item(UNDEFINED)
    w.element(0x0040, 0xA160, "UT", "leaf")
    for _ in range(depth):
        w.item_end().seq_end()
    return w


def deflated():
    """A deflated data set: the meta group, then the raw deflate stream of a
    study with a sequence (the fuzzer mutates the compressed bytes too)."""
    meta = part10("1.2.840.10008.1.2.1.99")
    body = study(part10("1.2.840.10008.1.2.1"))
    body.header(0x0008, 0x1115, "SQ", UNDEFINED).item(UNDEFINED)
    body.element(0x0008, 0x1150, "UI", b"1.2.3\0")
    body.item_end().seq_end()
    data_set = bytes(body.out)[len(part10("1.2.840.10008.1.2.1").out):]
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    meta.out += packer.compress(data_set) + packer.flush()
    return meta


def main():
    os.makedirs(SEEDS, exist_ok=True)
    seeds = {
        "explicit_le.dcm": explicit_le(),
        "implicit_le.dcm": implicit_le(),
        "explicit_be.dcm": explicit_be(),
        "bare_explicit.dcm": bare(True),
        "bare_implicit.dcm": bare(False),
        "short_implicit.dcm": short_implicit(),
        "encapsulated_jpeg.dcm": encapsulated_jpeg(),
        "encapsulated_rle_defined.dcm": encapsulated_rle_defined(),
        "un_sequences.dcm": un_sequences(),
        "palette.dcm": palette(),
        "deep_nesting.dcm": deep_nesting(),
        "deflated.dcm": deflated(),
    }
    seeds.update(charsets())
    for name, w in sorted(seeds.items()):
        with open(os.path.join(SEEDS, "made_" + name), "wb") as f:
            f.write(bytes(w.out))
    print("wrote %d seeds to %s" % (len(seeds), SEEDS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
