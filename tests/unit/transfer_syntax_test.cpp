// Transfer syntax families, compression names and photometric predicates of
// loaded data sets.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dicom/DicomFile.h"
#include "dicom/TransferSyntax.h"
#include "tests/support/DeflatedFiles.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

bool Load(CDicomFile& f, const Writer& w) { return f.LoadMemory(w.bytes().data(), w.size()).Ok(); }

// A preamble, "DICM" and a meta group whose (0002,0010) holds exactly `uid`
// (none when absent), followed by three study elements written in the
// encoding the loader chooses for that value (deflated for the deflated UID).
Writer WithTransferSyntax(const std::optional<std::string>& uid) {
    Writer w(Syntax::ExplicitLittle);
    w.raw(Bytes(128, 0)).raw(std::string("DICM"));
    w.element(0x0002, 0x0001, "OB", {0x00, 0x01});
    w.text(0x0002, 0x0002, "UI", Pad("1.2.840.10008.5.1.4.1.1.7", '\0'));
    w.text(0x0002, 0x0003, "UI", Pad("1.2.3.4", '\0'));
    if (uid) w.text(0x0002, 0x0010, "UI", *uid);
    const std::string value = uid ? uid->substr(0, uid->find('\0')) : std::string();
    if (!uid || value == kImplicitLE || value == "1.2.840.10008.1.20" ||
        value.find("1.2.840.10008") == std::string::npos)
        w.setSyntax(Syntax::ImplicitLittle);
    else if (value == kExplicitBE)
        w.setSyntax(Syntax::ExplicitBig);
    if (value == deflated_files::kDeflatedLE) {
        Writer dataSet;
        return w.raw(deflated_files::Deflate(StudyElements(dataSet).bytes()).bytes);
    }
    return StudyElements(w);
}

using Predicate = bool (CDicomFile::*)() const;

struct Family {
    const char* name;
    Predicate test;
};

const Family kFamilies[] = {
    {"IsRLE", &CDicomFile::IsRLE},
    {"IsJPEG", &CDicomFile::IsJPEG},
    {"IsJPEGLossless", &CDicomFile::IsJPEGLossless},
    {"IsJPEGLSLossless", &CDicomFile::IsJPEGLSLossless},
    {"IsJPEGLSLossy", &CDicomFile::IsJPEGLSLossy},
    {"IsJPEG2000Lossless", &CDicomFile::IsJPEG2000Lossless},
    {"IsJPEG2000Lossy", &CDicomFile::IsJPEG2000Lossy},
};

// The names of the family predicates that hold.
std::string FamiliesThatHold(const CDicomFile& f) {
    std::string out;
    for (const Family& family : kFamilies)
        if ((f.*family.test)()) out += std::string(out.empty() ? "" : " ") + family.name;
    return out;
}

}  // namespace

TEST(TransferSyntax, CompressionNameAndFamilies) {
    struct Case {
        std::optional<std::string> uid;
        const char* compression;
        const char* families;
        bool uncompressed;
    };
    const std::string root = "1.2.840.10008.1.2";
    const Case cases[] = {
        {std::nullopt, "NONE", "", true},
        {std::string(), "UNKNOWN", "", true},
        {std::string("  "), "UNKNOWN", "", true},
        {root + std::string(1, '\0'), "NONE", "", true},
        {root + ".1", "NONE", "", true},
        {root + ".1.99", "NONE", "", true},
        {root + ".2", "NONE", "", true},
        {std::string("1.2.840.10008.1.20"), "NONE", "", true},
        {root + ".4.50", "JPEG", "IsJPEG", false},
        {root + ".4.51", "JPEG", "IsJPEG", false},
        {root + ".4.64", "JPEG", "IsJPEG", false},
        {root + ".4.57", "JPEG Lossless", "IsJPEGLossless", false},
        {root + ".4.70" + std::string(1, '\0'), "JPEG Lossless", "IsJPEGLossless", false},
        {root + ".4.70 ", "JPEG Lossless", "IsJPEGLossless", false},
        {" " + root + ".4.70", "JPEG Lossless", "IsJPEGLossless", false},
        {root + ".4.80", "JPEG-LS Lossless", "IsJPEGLSLossless", false},
        {root + ".4.81", "JPEG-LS Lossy", "IsJPEGLSLossy", false},
        {root + ".4.90", "JPEG2000 Lossless", "IsJPEG2000Lossless", false},
        {root + ".4.91", "JPEG2000 Lossy", "IsJPEG2000Lossy", false},
        {root + ".5", "RLE", "IsRLE", false},
        // Encapsulated, without a family predicate of their own.
        {root + ".4.201", "HTJ2K Lossless", "", false},
        {root + ".4.202", "HTJ2K Lossless RPCL", "", false},
        {root + ".4.203", "HTJ2K", "", false},
        {root + ".4.110", "JPEG XL Lossless", "", false},
        {root + ".4.111", "JPEG XL JPEG Recompression", "", false},
        {root + ".4.112", "JPEG XL", "", false},
        // Native bytes in fragments, and video streams: encapsulated.
        {root + ".1.98", "Encapsulated Uncompressed", "", false},
        {root + ".8.1", "Deflated Frames", "", false},
        {root + ".4.101", "MPEG-2", "", false},
        {root + ".4.102", "H.264", "", false},
        {root + ".4.103", "H.264", "", false},
        {root + ".4.104", "H.264", "", false},
        {root + ".4.105", "H.264", "", false},
        {root + ".4.106", "H.264", "", false},
        {root + ".4.107", "HEVC", "", false},
        {root + ".4.108", "HEVC", "", false},
        // MPEG-2 at main level keeps the compression of an unlisted UID.
        {root + ".4.100", "UNKNOWN", "", true},
        // Not in the table: unknown, and read as native data.
        {root + ".4.5", "UNKNOWN", "", true},
        {root + ".4.700", "UNKNOWN", "", true},
        {std::string("1.2.3.4.5"), "UNKNOWN", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uid ? "'" + *c.uid + "'" : std::string("absent"));
        CDicomFile f;
        ASSERT_TRUE(Load(f, WithTransferSyntax(c.uid)));
        EXPECT_EQ(quillon::CompressionName(f.Pixel().compression), c.compression);
        EXPECT_EQ(FamiliesThatHold(f), c.families);
        EXPECT_EQ(f.IsUncompressed(), c.uncompressed);
    }
}

TEST(TransferSyntax, CompressionNameForUIDTrimsWhiteSpace) {
    EXPECT_EQ(CompressionNameForUID(u" \t1.2.840.10008.1.2.5\r\n"), "RLE");
    EXPECT_EQ(CompressionNameForUID(u" \t"), "UNKNOWN");
    EXPECT_EQ(CompressionNameForUID(u"1.2.840.10008.1.2.5.1"), "UNKNOWN");
    EXPECT_EQ(CompressionNameForUID(u"1.2.840.10008.1.2.5 1"), "UNKNOWN");
}

TEST(TransferSyntax, BigEndianDataIsNeverEncapsulated) {
    CDicomFile f;
    ASSERT_TRUE(Load(f, WithTransferSyntax(std::string("1.2.840.10008.1.2.4.50"))));
    ASSERT_FALSE(f.IsUncompressed());
    ASSERT_TRUE(f.Encoding().littleEndian);
    // The same elements read in a big-endian data set.
    EXPECT_TRUE(quillon::IsUncompressed(f.DataSet(), false));
    EXPECT_TRUE(f.IsJPEG());
}

TEST(TransferSyntax, OnlyTheFirstTopLevelElementCounts) {
    // A second (0002,0010) naming JPEG, and one inside a sequence item.
    Writer w = Part10(kExplicitLE);
    w.text(0x0002, 0x0010, "UI", Pad("1.2.840.10008.1.2.4.50", '\0'));
    w.header(0x0008, 0x1140, "SQ", kUndefinedLength).item(kUndefinedLength);
    w.text(0x0002, 0x0010, "UI", Pad("1.2.840.10008.1.2.5", '\0'));
    w.itemEnd().seqEnd();
    StudyElements(w);
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    EXPECT_EQ(f.Pixel().compression, quillon::Compression::None);
    EXPECT_EQ(FamiliesThatHold(f), "");
    EXPECT_TRUE(f.IsUncompressed());
}

// The scan of the pixel elements stops at the first group above 0028: a
// (0002,0010) after it is not the compression shown nor the decoders' key, but
// the transfer syntax families and the photometric interpretation are taken
// from the first top-level element wherever it lies.
TEST(TransferSyntax, ElementsAfterAGroupAbove0028) {
    Writer w = WithTransferSyntax(std::nullopt);
    w.text(0x0029, 0x0010, "LO", Pad("PRIVATE"));
    w.text(0x0002, 0x0010, "UI", Pad("1.2.840.10008.1.2.4.50", '\0'));
    w.text(0x0028, 0x0004, "CS", "RGB ");
    w.us(0x0028, 0x0010, 4);
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    EXPECT_EQ(f.Pixel().compression, quillon::Compression::None);
    EXPECT_EQ(FamiliesThatHold(f), "IsJPEG");
    EXPECT_FALSE(f.IsUncompressed());
    EXPECT_EQ(f.Pixel().photometric, quillon::Photometric::RGB);
    EXPECT_TRUE(f.IsRGB());
    EXPECT_EQ(f.Pixel().rows, 0u);
}

namespace {

using PixelPredicate = bool (quillon::PixelDescription::*)() const;

struct Photometric {
    const char* name;
    Predicate test;
    PixelPredicate pixelTest;
};

const Photometric kPhotometric[] = {
    {"RGB", &CDicomFile::IsRGB, &quillon::PixelDescription::IsRGB},
    {"CMYK", &CDicomFile::IsCMYK, &quillon::PixelDescription::IsCMYK},
    {"ARGB", &CDicomFile::IsARGB, &quillon::PixelDescription::IsARGB},
    {"YBRFull", &CDicomFile::IsYBRFull, &quillon::PixelDescription::IsYBRFull},
    {"YBRFull422", &CDicomFile::IsYBRFull422, &quillon::PixelDescription::IsYBRFull422},
    {"YBRPartial422", &CDicomFile::IsYBRPartial422, &quillon::PixelDescription::IsYBRPartial422},
    {"YBRICT", &CDicomFile::IsYBRICT, &quillon::PixelDescription::IsYBRICT},
    {"PaletteColor", &CDicomFile::IsPaletteColor, &quillon::PixelDescription::IsPaletteColor},
    {"Monochrome1", &CDicomFile::IsMonochrome1, &quillon::PixelDescription::IsMonochrome1},
    {"Monochrome2", &CDicomFile::IsMonochrome2, &quillon::PixelDescription::IsMonochrome2},
    {"Monochrome", &CDicomFile::IsMonochrome, &quillon::PixelDescription::IsMonochrome},
};

std::string PhotometricThatHold(const CDicomFile& f) {
    std::string out;
    for (const Photometric& p : kPhotometric)
        if ((f.*p.test)()) out += std::string(out.empty() ? "" : " ") + p.name;
    return out;
}

std::string PhotometricThatHold(const quillon::PixelDescription& pixel) {
    std::string out;
    for (const Photometric& p : kPhotometric)
        if ((pixel.*p.pixelTest)()) out += std::string(out.empty() ? "" : " ") + p.name;
    return out;
}

}  // namespace

TEST(TransferSyntax, PhotometricPredicates) {
    struct Case {
        std::optional<std::string> term;  // (0028,0004) as stored; none: absent
        std::optional<uint16_t> samples, bitsAllocated;
        const char* expected;
        bool nestedRGB = false;  // an RGB (0028,0004) inside a sequence item
    };
    const Case cases[] = {
        {"MONOCHROME2 ", 1, 16, "Monochrome2 Monochrome"},
        {"MONOCHROME1 ", 1, 16, "Monochrome1 Monochrome"},
        {"monochrome2 ", 1, 16, ""},
        {"MONOCHROME", 1, 16, ""},
        {"RGB ", 3, 8, "RGB"},
        {" RGB", 3, 8, "RGB"},
        {"CMYK", 4, 8, "CMYK"},
        {"ARGB", 4, 8, "ARGB"},
        {"YBR_FULL", 3, 8, "YBRFull"},
        {"YBR_FULL_422", 3, 8, "YBRFull422"},
        {"YBR_PARTIAL_422 ", 3, 8, "YBRPartial422"},
        {"YBR_ICT ", 3, 8, "YBRICT"},
        {"PALETTE COLOR ", 1, 8, "PaletteColor"},
        {"", 3, 16, ""},  // present but empty: no defaults
        // Absent: defaults from the pixel description.
        {std::nullopt, 1, 16, "Monochrome2 Monochrome"},
        {std::nullopt, 1, 8, "Monochrome2 Monochrome"},
        {std::nullopt, 3, 8, "RGB"},
        {std::nullopt, 3, 16, "RGB Monochrome2 Monochrome"},
        {std::nullopt, 4, 8, "ARGB"},
        {std::nullopt, 1, std::nullopt, ""},
        {std::nullopt, std::nullopt, 8, "Monochrome2 Monochrome"},
        {std::nullopt, 1, 16, "Monochrome2 Monochrome", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.term ? "'" + *c.term + "'" : std::string("absent")) << " samples "
                                        << c.samples.value_or(0) << " bits " << c.bitsAllocated.value_or(0));
        Writer w = Part10(kExplicitLE);
        StudyElements(w);
        if (c.nestedRGB) {
            w.header(0x0008, 0x1140, "SQ", kUndefinedLength).item(kUndefinedLength);
            w.text(0x0028, 0x0004, "CS", "RGB ");
            w.itemEnd().seqEnd();
        }
        if (c.samples) w.us(0x0028, 0x0002, *c.samples);
        if (c.term) w.text(0x0028, 0x0004, "CS", *c.term);
        if (c.bitsAllocated) w.us(0x0028, 0x0100, *c.bitsAllocated);
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        EXPECT_EQ(PhotometricThatHold(f), c.expected);
    }
}

TEST(TransferSyntax, PaletteDefaultNeedsBluePaletteDataAndOneSample) {
    // Without (0028,0004) the palette default depends on the blue LUT data;
    // samples are compared as unsigned for it, signed for MONOCHROME2.
    struct Case {
        uint16_t samples;
        bool blueLut;
        const char* expected;
    };
    const Case cases[] = {
        {1, true, "PaletteColor"}, {1, false, "Monochrome2 Monochrome"},      {3, true, "RGB"},
        {0xFFFF, true, ""},        {0xFFFF, false, "Monochrome2 Monochrome"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << (c.blueLut ? " with blue LUT" : ""));
        Writer w = Part10(kExplicitLE);
        StudyElements(w);
        w.us(0x0028, 0x0002, c.samples).us(0x0028, 0x0100, 8);
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        // The loader reads palette data only for PALETTE COLOR images: the
        // file's description is given some here.
        quillon::PixelDescription pixel = f.Pixel();
        if (c.blueLut)
            pixel.blue.data = {0, 0};
        else
            EXPECT_EQ(PhotometricThatHold(f), c.expected);
        EXPECT_EQ(PhotometricThatHold(pixel), c.expected);
    }
}
