// Pixel description: fields from the data set, native frame cutting, VR
// correction of the pixel-value elements and the palette lookup tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

#include "dicom/DicomFile.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

using Build = std::function<void(Writer&)>;

// A Part 10 file: meta group, three study elements, then what `body` writes.
Writer Image(const Build& body, const std::string& transferSyntax = kExplicitLE) {
    Writer w = Part10(transferSyntax);
    StudyElements(w);
    body(w);
    return w;
}

bool Load(CDicomFile& f, const Writer& w) { return f.LoadMemory(w.bytes().data(), w.size()).Ok(); }

// Explicit VR "IS"/"DS"/... text, padded to even length.
void Text(Writer& w, uint16_t g, uint16_t e, const char* vr, const std::string& v) { w.text(g, e, vr, Pad(v)); }

// Rows, Columns, Bits Allocated, Samples per Pixel and an optional Number of Frames.
void Matrix(Writer& w, uint16_t rows, uint16_t columns, uint16_t bits, uint16_t samples, const char* frames = nullptr) {
    w.us(0x0028, 0x0002, samples);
    if (frames) Text(w, 0x0028, 0x0008, "IS", frames);
    w.us(0x0028, 0x0010, rows);
    w.us(0x0028, 0x0011, columns);
    w.us(0x0028, 0x0100, bits);
}

// Native pixel data "OW" whose byte i is (i / frameSize + 1) * 16 + i % 7,
// so that every frame and every offset inside it can be told apart.
void PixelData(Writer& w, uint32_t length, uint32_t frameSize) {
    Bytes data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = uint8_t((i / frameSize + 1) * 16 + i % 7);
    w.element(0x7FE0, 0x0010, "OW", data);
}

Bytes Descriptor(uint16_t entries, uint16_t first, uint16_t bits) {
    return {uint8_t(entries),    uint8_t(entries >> 8), uint8_t(first),
            uint8_t(first >> 8), uint8_t(bits),         uint8_t(bits >> 8)};
}

// 16-bit little-endian LUT entries.
Bytes Words(std::initializer_list<uint16_t> words) {
    Bytes out;
    for (uint16_t v : words) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    return out;
}

const CDicomTag7FE0* PixelDataOf(const CDicomFile& f) {
    return dynamic_cast<const CDicomTag7FE0*>(f.PixelData());
}

}  // namespace

// ---------------------------------------------------------------------------
// Fields read from the data set

TEST(PixelDescriptionFields, MatrixAndFrameCount) {
    struct Case {
        const char* name;
        Build body;
        uint32_t rows, columns, frames;
    };
    const Case cases[] = {
        {"rows without a frame count give one frame", [](Writer& w) { Matrix(w, 4, 5, 8, 1); }, 4, 5, 1},
        {"a frame count of 0 with rows gives one frame", [](Writer& w) { Matrix(w, 4, 5, 8, 1, "0"); }, 4, 5, 1},
        {"the frame count is read from IS text", [](Writer& w) { Matrix(w, 4, 5, 8, 1, " 3"); }, 4, 5, 3},
        {"no rows, no frames", [](Writer& w) { w.us(0x0028, 0x0011, 5); }, 0, 5, 0},
        {"a frame count without rows stays", [](Writer& w) { Text(w, 0x0028, 0x0008, "IS", "2"); }, 0, 0, 2},
        // US holds 0..65535: 40000 must not turn into 2^32 - 25536.
        {"rows and columns above 32767", [](Writer& w) { Matrix(w, 40000, 65535, 8, 1); }, 40000, 65535, 1},
        {"only the first top-level element counts",
         [](Writer& w) {
             Matrix(w, 4, 5, 8, 1);
             w.us(0x0028, 0x0010, 7);
         },
         4, 5, 1},
        {"elements after a group above 0028 are not read",
         [](Writer& w) {
             w.us(0x0028, 0x0010, 4);
             Text(w, 0x0029, 0x0010, "LO", "PRIVATE");
             w.us(0x0028, 0x0011, 5);
         },
         4, 0, 1},
        {"elements inside sequence items are not read",
         [](Writer& w) {
             w.header(0x0008, 0x1140, "SQ", kUndefinedLength).item(kUndefinedLength);
             w.us(0x0028, 0x0010, 9).us(0x0028, 0x0011, 9);
             w.itemEnd().seqEnd();
             w.us(0x0028, 0x0011, 5);
         },
         0, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDicomFile f;
        ASSERT_TRUE(Load(f, Image(c.body)));
        EXPECT_EQ(f.Pixel().rows, c.rows);
        EXPECT_EQ(f.Pixel().columns, c.columns);
        EXPECT_EQ(f.Pixel().numberOfFrames, c.frames);
    }
}

TEST(PixelDescriptionFields, SampleLayoutInImplicitVR) {
    // Implicit VR: every VR comes from the dictionary.
    Writer w = Part10(kImplicitLE);
    StudyElements(w);
    w.us(0x0028, 0x0002, 3).us(0x0028, 0x0006, 1).us(0x0028, 0x0010, 2).us(0x0028, 0x0011, 3);
    w.us(0x0028, 0x0100, 16).us(0x0028, 0x0101, 12).us(0x0028, 0x0103, 1);
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    const quillon::PixelDescription& p = f.Pixel();
    EXPECT_EQ(p.samplesPerPixel, 3);
    EXPECT_EQ(p.planarConfiguration, 1);
    EXPECT_EQ(p.bitsAllocated, 16);
    EXPECT_EQ(p.bitsStored, 12);
    EXPECT_EQ(p.pixelRepresentation, 1);
    EXPECT_EQ(p.compression, quillon::Compression::None);
}

TEST(PixelDescriptionFields, WindowIntegers) {
    struct Case {
        const char* vr;
        std::string value;
        int32_t expected;
    };
    const Case cases[] = {
        {"DS", "40\\400", 40},         // first value only
        {"DS", "-12.7", -12},          // truncated toward zero
        {"DS", " 1e12 ", 2147483647},  // saturated
        {"IS", " 512\\600", 512},
        {"IS", "1E3", 1000},
        {"LO", "40", 0},  // neither IS nor DS
        {"DS", "", 0},    // present but empty
    };
    // Each element on its own: either one means a window was given.
    for (const Case& c : cases) {
        for (const uint16_t element : {0x1050, 0x1051}) {
            SCOPED_TRACE(testing::Message() << std::hex << element << " " << c.vr << " '" << c.value << "'");
            CDicomFile f;
            ASSERT_TRUE(Load(f, Image([&](Writer& w) { Text(w, 0x0028, element, c.vr, c.value); })));
            EXPECT_TRUE(f.Pixel().hasWindow);
            EXPECT_EQ(f.Pixel().windowCenter, element == 0x1050 ? c.expected : 0);
            EXPECT_EQ(f.Pixel().windowWidth, element == 0x1051 ? c.expected : 0);
        }
    }
    CDicomFile none;
    ASSERT_TRUE(Load(none, Image([](Writer& w) { Matrix(w, 1, 1, 8, 1); })));
    EXPECT_FALSE(none.Pixel().hasWindow);
}

TEST(PixelDescriptionFields, Rescale) {
    struct Case {
        std::optional<std::string> intercept, slope;
        double expectedIntercept, expectedSlope;
        bool hasRescale;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {std::nullopt, std::nullopt, 0, 1, false},  // slope 1 from the reset
        {"0", "1", 0, 1, false},
        {"0", "0", 0, 1, false},  // slope 0 is stored as 1
        {std::nullopt, "0.0", 0, 1, false},
        {"-1024", "1", -1024, 1, true},
        {"0", "2.5", 0, 2.5, true},
        {"0", "-1", 0, -1, true},
        {"0", "1e999", 0, inf, true},  // overflows: a number, and not 1
        {"-1e999", "1", -inf, 1, true},
        {"abc", "abc", 0, 1, false},  // no number in the text reads as 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.intercept.value_or("-") + " / " + c.slope.value_or("-"));
        CDicomFile f;
        ASSERT_TRUE(Load(f, Image([&](Writer& w) {
                             if (c.intercept) Text(w, 0x0028, 0x1052, "DS", *c.intercept);
                             if (c.slope) Text(w, 0x0028, 0x1053, "DS", *c.slope);
                         })));
        EXPECT_EQ(f.Pixel().rescaleIntercept, c.expectedIntercept);
        EXPECT_EQ(f.Pixel().rescaleSlope, c.expectedSlope);
        EXPECT_EQ(f.Pixel().hasRescale, c.hasRescale);
    }
}

TEST(PixelDescriptionFields, PixelValueElementsGetTheVROfThePixelRepresentation) {
    struct Case {
        Syntax syntax;
        uint16_t pixelRepresentation;
        uint16_t element;
        const char* vr;  // as written in the file (ignored in implicit VR)
        const char* expected;
    };
    const Case cases[] = {
        {Syntax::ExplicitLittle, 0, 0x0106, "US", "US"},
        {Syntax::ExplicitLittle, 0, 0x0106, "SS", "SS"},    // an unsigned image keeps SS
        {Syntax::ExplicitLittle, 0, 0x0106, "XX", "US"},    // unusual VR
        {Syntax::ExplicitLittle, 0, 0x0106, "\0\0", "US"},  // no VR
        {Syntax::ExplicitLittle, 1, 0x0106, "US", "SS"},
        {Syntax::ExplicitLittle, 1, 0x0106, "SS", "SS"},
        {Syntax::ExplicitLittle, 1, 0x0106, "XX", "XX"},  // only US becomes SS
        {Syntax::ExplicitLittle, 0, 0x0111, "XX", "US"},  // last of the range
        {Syntax::ExplicitLittle, 0, 0x0104, "XX", "US"},  // first of the range
        {Syntax::ExplicitLittle, 0, 0x0112, "XX", "XX"},  // outside the range
        {Syntax::ImplicitLittle, 0, 0x0104, "", "SS"},    // the dictionary's SS is kept
        {Syntax::ImplicitLittle, 0, 0x0106, "", "US"},
        {Syntax::ImplicitLittle, 1, 0x0106, "", "SS"},  // dictionary says US first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rep " << c.pixelRepresentation << " (0028," << std::hex << c.element << ") "
                                        << c.vr);
        Writer w = Part10(c.syntax == Syntax::ImplicitLittle ? kImplicitLE : kExplicitLE);
        StudyElements(w);
        w.us(0x0028, 0x0103, c.pixelRepresentation);
        const char vr[2] = {c.vr[0], c.vr[0] ? c.vr[1] : '\0'};
        w.header(0x0028, c.element, vr, 2).u16(0x0010);
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        const CDicomTag* e = f.Find(0x0028, c.element);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(VRToAscii(e->m_vr.GetVR()), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Native frames

TEST(PixelDescriptionFrames, FrameSize) {
    struct Case {
        uint32_t rows, columns;
        int16_t bits, samples;
        bool ybr422;
        uint64_t expected;
    };
    const Case cases[] = {
        {512, 512, 16, 1, false, 524288},
        {512, 512, 16, 0, false, 524288},  // 0 samples count as 1
        {3, 1, 12, 1, false, 4},           // 36 bits, rounded down
        {2, 2, 8, 3, true, 8},             // YBR_FULL_422: two thirds
        {1, 1, 8, 1, true, 0},
        {32768, 32768, 16, 1, false, 2147483648u},  // wraps to 0 in 32 bits
        {65535, 65535, 16, 3, false, 25769017350ull},
        {0, 512, 16, 1, false, 0},
        // Bits and samples are unsigned 16-bit; the product saturates instead of wrapping.
        {0xFFFFFFFFu, 0xFFFFFFFFu, -1, -1, false, UINT64_MAX},
        {0xFFFFFFFFu, 0xFFFFFFFFu, -1, -1, true, UINT64_MAX},
        {0xFFFFFFFFu, 2, 8, 1, false, 8589934590ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.columns << "x" << c.bits << "x" << c.samples
                                        << (c.ybr422 ? " 422" : ""));
        quillon::PixelDescription m;
        m.rows = c.rows;
        m.columns = c.columns;
        m.bitsAllocated = c.bits;
        m.samplesPerPixel = c.samples;
        if (c.ybr422) m.photometric = quillon::Photometric::YBRFull422;
        EXPECT_EQ(m.NativeFrameSize(), c.expected);
    }
}

TEST(PixelDescriptionFrames, NativeDataIsCutIntoFrames) {
    struct Case {
        const char* name;
        Build body;
        size_t frames;
        uint64_t frameSize;
    };
    const Case cases[] = {
        {"two frames of 512x512x16",
         [](Writer& w) {
             Matrix(w, 512, 512, 16, 1, "2");
             PixelData(w, 2 * 524288, 524288);
         },
         2, 524288},
        {"YBR_FULL_422 frames are two thirds",
         [](Writer& w) {
             Text(w, 0x0028, 0x0004, "CS", "YBR_FULL_422");
             Matrix(w, 2, 2, 8, 3, "2");
             PixelData(w, 16, 8);
         },
         2, 8},
        {"columns above 32767",
         [](Writer& w) {
             Matrix(w, 1, 40000, 8, 1);
             PixelData(w, 40000, 40000);
         },
         1, 40000},
        {"bytes beyond the last frame are not used",
         [](Writer& w) {
             Matrix(w, 2, 2, 8, 1);
             PixelData(w, 10, 4);
         },
         1, 4},
        {"no rows: no frames",
         [](Writer& w) {
             w.us(0x0028, 0x0100, 8);
             PixelData(w, 8, 8);
         },
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDicomFile f;
        ASSERT_TRUE(Load(f, Image(c.body)));
        const CDicomTag7FE0* pixels = PixelDataOf(f);
        ASSERT_NE(pixels, nullptr);
        ASSERT_EQ(pixels->FrameCount(), c.frames);
        ASSERT_EQ(pixels->FrameSize(), c.frameSize);
        std::vector<uint8_t> bytes(c.frameSize);
        for (size_t k = 0; k < c.frames; ++k) {
            SCOPED_TRACE(k);
            ASSERT_TRUE(pixels->ReadFrame(k, bytes.data()));
            const uint8_t* frame = bytes.data();
            const uint64_t first = k * c.frameSize, last = first + c.frameSize - 1;
            EXPECT_EQ(frame[0], uint8_t((k + 1) * 16 + first % 7));
            EXPECT_EQ(frame[c.frameSize - 1], uint8_t((k + 1) * 16 + last % 7));
        }
    }
}

TEST(PixelDescriptionFrames, MissingFrameBytesFailTheLoad) {
    struct Case {
        const char* name;
        Build body;
    };
    const Case cases[] = {
        {"a third frame announced but not in the file",
         [](Writer& w) {
             Matrix(w, 512, 512, 16, 1, "3");
             PixelData(w, 2 * 524288, 524288);
         }},
        // In 32-bit arithmetic the frame size is 0 and the file would load with empty frames.
        {"32768x32768x16 needs 2 GiB",
         [](Writer& w) {
             Matrix(w, 32768, 32768, 16, 1);
             PixelData(w, 64, 64);
         }},
        {"a negative frame count",
         [](Writer& w) {
             Matrix(w, 2, 2, 8, 1, "-1");
             PixelData(w, 4, 4);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDicomFile f;
        EXPECT_FALSE(Load(f, Image(c.body)));
        // Read as far as the pixel data, which is not kept.
        EXPECT_TRUE(f.Partial());
        EXPECT_EQ(f.PixelData(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// Palette lookup tables

namespace {

struct Elem {
    uint16_t element;  // group 0028 unless group is set
    const char16_t* vr;
    Bytes value;
    uint16_t group = 0x0028;
};

TagList MakeTags(const std::vector<Elem>& elems) {
    TagList tags;
    for (const Elem& e : elems) {
        auto tag = std::make_unique<CDicomTag>(e.group, e.element);
        tag->SetVR(e.vr);
        if (!e.value.empty()) tag->SetValue(e.value.data(), uint32_t(e.value.size()));
        tags.push_back(std::move(tag));
    }
    return tags;
}

// The three descriptors, then the three data elements.
std::vector<Elem> Palette(Bytes red, Bytes green, Bytes blue, Bytes data) {
    return {{0x1101, u"US", red},  {0x1102, u"US", green}, {0x1103, u"US", blue},
            {0x1201, u"OW", data}, {0x1202, u"OW", data},  {0x1203, u"OW", data}};
}

}  // namespace

TEST(PixelDescriptionPalette, LoadPaletteLuts) {
    struct Case {
        const char* name;
        std::vector<Elem> elements;
        bool ok;
        int32_t redEntries;
        int16_t redBits;
        uint32_t redSize;
    };
    const Bytes d256x16 = Descriptor(256, 0, 16);
    std::vector<Elem> afterPrivate = Palette(d256x16, d256x16, d256x16, Bytes(512, 1));
    afterPrivate.insert(afterPrivate.begin(), Elem{0x0010, u"LO", {'X', ' '}, 0x0029});
    std::vector<Elem> dataFirst = {{0x1201, u"US", Bytes(5, 1)},  // no descriptor yet: stored unchecked
                                   {0x1101, u"US", Descriptor(3, 0, 16)},
                                   {0x1102, u"US", Descriptor(3, 0, 16)},
                                   {0x1103, u"US", Descriptor(3, 0, 16)}};
    const Case cases[] = {
        {"256 entries of 16 bits", Palette(d256x16, d256x16, d256x16, Bytes(512, 1)), true, 256, 16, 512},
        {"0 entries: counted from 131072 bytes of 16 bits",
         Palette(Descriptor(0, 0, 16), Descriptor(0, 0, 16), Descriptor(0, 0, 16), Bytes(131072, 1)), true, 65536, 16,
         131072},
        {"256 entries of 16 bits in 256 bytes are 8-bit", Palette(d256x16, d256x16, d256x16, Bytes(256, 1)), true, 256,
         8, 256},
        {"data that fits neither 8 nor 16 bits", Palette(d256x16, d256x16, d256x16, Bytes(1000, 1)), false, 256, 16, 0},
        {"a descriptor that is not 6 bytes", {{0x1101, u"US", Bytes(4, 0)}}, false, 0, 0, 0},
        {"empty LUT data", Palette(d256x16, d256x16, d256x16, Bytes()), false, 256, 16, 0},
        {"unequal entry counts", Palette(d256x16, Descriptor(255, 0, 16), d256x16, Bytes(512, 1)), false, 256, 16, 512},
        {"segmented data is stored as it is",
         {{0x1101, u"US", Descriptor(0, 0, 16)},
          {0x1221, u"OW", Bytes(10, 1)},
          {0x1222, u"OW", Bytes(10, 1)},
          {0x1223, u"OW", Bytes(12, 1)}},
         true,
         0,
         16,
         10},
        {"large palette data is checked against its descriptor",
         {{0x1101, u"US", d256x16}, {0x1211, u"OW", Bytes(1000, 1)}},
         false,
         256,
         16,
         0},
        {"the walk does not stop at a group above 0028", afterPrivate, true, 256, 16, 512},
        {"data before its descriptor", dataFirst, true, 3, 16, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TagList tags = MakeTags(c.elements);
        quillon::PixelDescription m;
        EXPECT_EQ(quillon::LoadPaletteLuts(tags, m), c.ok);
        EXPECT_EQ(m.red.entries, c.redEntries);
        EXPECT_EQ(m.red.bits, c.redBits);
        EXPECT_EQ(m.red.data.size(), c.redSize);
    }
}

TEST(PixelDescriptionPalette, EightBitLut) {
    struct Case {
        const char* name;
        int16_t bits;
        int32_t entries;
        std::optional<Bytes> data;
        Bytes expected;
    };
    const Case cases[] = {
        {"8 bits: the first bytes", 8, 4, Bytes{1, 2, 3, 4, 5}, {1, 2, 3, 4}},
        {"16 bits: the high bytes", 16, 3, Words({0x0102, 0x0304, 0xFF06}), {0x01, 0x03, 0xFF}},
        {"16 bits all below 256: the low bytes", 16, 3, Words({0x00AA, 0x0000, 0x00CC}), {0xAA, 0x00, 0xCC}},
        {"other bits: an identity ramp", 12, 4, Bytes{9, 9}, {0, 1, 2, 3}},
        {"0 entries", 16, 0, Bytes{1, 2}, {}},
        {"negative entries", 8, -3, Bytes{1, 2}, {}},
        // More entries than bytes: what is not there reads as 0.
        {"8 bits, short data", 8, 5, Bytes{7, 8, 9}, {7, 8, 9, 0, 0}},
        {"16 bits, odd byte count, high bytes", 16, 3, Bytes{0x11, 0x01, 0x22, 0x02, 0x33}, {0x01, 0x02, 0x00}},
        {"16 bits, odd byte count, low bytes", 16, 3, Bytes{0x11, 0x00, 0x22, 0x00, 0x33}, {0x11, 0x22, 0x33}},
        {"16 bits, far more entries than data", 16, 4, Bytes{0x11}, {0x11, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quillon::PixelDescription m;
        m.green.bits = c.bits;
        m.green.entries = c.entries;
        // A copy of exactly the data's size, so that the sanitizers see any read past it.
        if (c.data) m.green.data = *c.data;
        EXPECT_EQ(m.green.Lut8(), c.expected);
        EXPECT_TRUE(m.red.Lut8().empty());
        EXPECT_TRUE(m.blue.Lut8().empty());
    }

    quillon::PaletteLut ramp;
    ramp.bits = 0;
    ramp.entries = 300;
    ramp.data = {0};
    const std::vector<uint8_t> lut = ramp.Lut8();
    ASSERT_EQ(lut.size(), 300u);
    EXPECT_EQ(lut[255], 255);
    EXPECT_EQ(lut[257], 1);
}

TEST(PixelDescriptionPalette, DisplayPalette) {
    quillon::PixelDescription m;
    m.red.bits = 8;
    m.red.entries = 2;
    m.red.data = {10, 20};
    Bytes green;
    for (int i = 0; i < 300; ++i) {
        green.push_back(uint8_t(i));
        green.push_back(uint8_t(255 - i % 256));
    }
    m.green.bits = 16;
    m.green.entries = 300;
    m.green.data = green;
    // No blue LUT.

    uint8_t palette[256 * 4];
    std::memset(palette, 0xEE, sizeof palette);
    m.BuildDisplayPalette(palette);
    EXPECT_EQ(Bytes(palette, palette + 12), Bytes({10, 255, 0, 0, 20, 254, 0, 0, 0, 253, 0, 0}));
    EXPECT_EQ(Bytes(palette + 255 * 4, palette + 256 * 4), Bytes({0, 0, 0, 0}));
    for (int i = 0; i < 256; ++i) EXPECT_EQ(palette[4 * i + 3], 0) << i;
}

TEST(PixelDescriptionPalette, PaletteColorFiles) {
    // A 2x2 8-bit PALETTE COLOR image whose LUTs have 4 entries of 16 bits.
    auto file = [](uint16_t greenEntries, const char* photometric) {
        return Image([=](Writer& w) {
            Text(w, 0x0028, 0x0004, "CS", photometric);
            Matrix(w, 2, 2, 8, 1);
            w.element(0x0028, 0x1101, "US", Descriptor(4, 0, 16));
            w.element(0x0028, 0x1102, "US", Descriptor(greenEntries, 0, 16));
            w.element(0x0028, 0x1103, "US", Descriptor(4, 0, 16));
            w.element(0x0028, 0x1201, "OW", Words({0x1000, 0x2000, 0x3000, 0x4000}));
            w.element(0x0028, 0x1202, "OW", Words({0x0011, 0x0022, 0x0033, 0x0044}));
            w.element(0x0028, 0x1203, "OW", Words({0xFFFF, 0xEEEE, 0xDDDD, 0xCCCC}));
            PixelData(w, 4, 4);
        });
    };
    CDicomFile f;
    ASSERT_TRUE(Load(f, file(4, "PALETTE COLOR")));
    EXPECT_TRUE(f.IsPaletteColor());
    uint8_t palette[256 * 4];
    f.Pixel().BuildDisplayPalette(palette);
    EXPECT_EQ(Bytes(palette, palette + 20),
              Bytes({0x10, 0x11, 0xFF, 0, 0x20, 0x22, 0xEE, 0, 0x30, 0x33, 0xDD, 0, 0x40, 0x44, 0xCC, 0, 0, 0, 0, 0}));

    CDicomFile unequal;
    EXPECT_FALSE(Load(unequal, file(3, "PALETTE COLOR")));
    EXPECT_TRUE(unequal.Elements().empty());

    // The palette is only taken for PALETTE COLOR images.
    CDicomFile mono;
    ASSERT_TRUE(Load(mono, file(3, "MONOCHROME2")));
    EXPECT_TRUE(mono.Pixel().red.data.empty());
}
