// Values over kHeldValueLimit stay in the file: the node refers to their
// bytes and reads them when asked. Whatever is shown of such a value must be
// what a held copy of the same bytes shows.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/FileBytes.h"
#include "tests/support/DicomWriter.h"
#include "tests/support/DocTestFiles.h"

using testdicom::Bytes;
using testdicom::Syntax;

namespace {

struct Case {
    const char* name;
    const char* syntax;
    uint16_t group, element;
    const char* vr;  // written in explicit VR files; the dictionary's or none in implicit ones
    unsigned unit;   // size of the numbers (byte order), 1 for bytes
    uint32_t length;
    int binaryAt;  // index of a byte 0x01 in an otherwise text value, -1 for none; -2 for numbers
};

// The value in machine (little endian) order.
Bytes MakeValue(const Case& c) {
    Bytes v(c.length);
    for (uint32_t i = 0; i < c.length; ++i) v[i] = c.binaryAt == -2 ? uint8_t(i * 37 + 11) : uint8_t('A' + i % 26);
    if (c.binaryAt >= 0) v[uint32_t(c.binaryAt)] = 0x01;
    return v;
}

Bytes FileWith(const Case& c, const Bytes& value) {
    testdicom::Writer w = testdicom::Part10(c.syntax);
    testdicom::StudyElements(w);
    Bytes stored = value;
    if (w.syntax() == Syntax::ExplicitBig)
        for (std::size_t i = 0; i + c.unit <= stored.size(); i += c.unit)
            std::reverse(stored.begin() + long(i), stored.begin() + long(i + c.unit));
    w.element(c.group, c.element, c.vr, stored);
    w.text(0x0020, 0x0013, "IS", "7 ");
    return w.bytes();
}

const CDicomTag* Find(const CDicomFile& f, uint16_t group, uint16_t element) { return f.Find(group, element); }

}  // namespace

TEST(ValueSource, LargeValuesAreReadFromTheFileAndShowWhatAHeldCopyShows) {
    using testdicom::kExplicitBE;
    using testdicom::kExplicitLE;
    using testdicom::kImplicitLE;
    const Case cases[] = {
        {"US list at the limit", kExplicitLE, 0x0028, 0x1201, "OW", 2, 4096, -2},
        {"US list one number over", kExplicitLE, 0x0018, 0x1310, "US", 2, 4098, -2},
        {"FL list, big endian", kExplicitBE, 0x0018, 0x9219, "FL", 4, 6000, -2},
        {"FD list, big endian", kExplicitBE, 0x0018, 0x9089, "FD", 8, 8000, -2},
        {"OB", kExplicitLE, 0x0009, 0x1010, "OB", 1, 10000, -2},
        {"OW, big endian", kExplicitBE, 0x0009, 0x1010, "OW", 2, 10000, -2},
        {"UT text", kExplicitLE, 0x0020, 0x4000, "UT", 1, 5000, -1},
        {"AT list", kExplicitLE, 0x0020, 0x9165, "AT", 4, 4400, -2},
        {"implicit private text, short form", kImplicitLE, 0x0009, 0x1010, "", 1, 5000, -1},
        {"implicit private, long form, all text", kImplicitLE, 0x0009, 0x1010, "", 1, 70000, -1},
        {"implicit private, long form, last byte binary", kImplicitLE, 0x0009, 0x1010, "", 1, 70000, 69999},
        {"implicit private, long form, binary past the first piece", kImplicitLE, 0x0009, 0x1010, "", 1, 200000,
         150000},
        {"number list of over 1 MiB", kImplicitLE, 0x0018, 0x1310, "", 2, 1200000, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes value = MakeValue(c);
        const Bytes file = FileWith(c, value);
        CDicomFile f;
        ASSERT_TRUE(f.LoadMemory(file.data(), file.size()));
        const CDicomTag* e = Find(f, c.group, c.element);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->GetLength(), c.length);
        EXPECT_EQ(e->IsValueInSource(), c.length > kHeldValueLimit);
        EXPECT_EQ(e->GetData() == nullptr, c.length > kHeldValueLimit);

        // The bytes, in machine order, whole and in part.
        const SValueBytes all = e->ValueBytes();
        ASSERT_TRUE(all);
        ASSERT_EQ(all.size, c.length);
        EXPECT_EQ(0, std::memcmp(all.data, value.data(), c.length));
        const SValueBytes first = e->ValueBytes(64);
        ASSERT_TRUE(first);
        ASSERT_EQ(first.size, 64u);
        EXPECT_EQ(0, std::memcmp(first.data, value.data(), 64));
        Bytes copy(c.length);
        ASSERT_TRUE(e->CopyValue(copy.data(), c.length));
        EXPECT_EQ(copy, value);
        EXPECT_FALSE(e->CopyValue(copy.data(), uint64_t(c.length) + 1));

        // A node holding the same bytes, read the way the parser reads them.
        CDicomTag held(c.group, c.element);
        if (*c.vr && std::string(c.syntax) != kImplicitLE) held.SetVR(std::u16string(c.vr, c.vr + 2));
        if (std::string(c.syntax) == kImplicitLE) held.m_tagData.m_longLength = c.length;
        ASSERT_TRUE(held.SetValue(value.data(), c.length));
        // Taken into the tree, a node without a VR gets the guessed one.
        if (held.m_vr.GetVR().empty()) {
            const std::u16string guessed = held.GetDisplayVR();
            held.SetVR(guessed);
        }
        EXPECT_EQ(held.HasLongLength(), e->HasLongLength());
        EXPECT_EQ(held.m_tagData.m_longLength, e->m_tagData.m_longLength);
        EXPECT_EQ(held.m_vr.GetVR(), e->m_vr.GetVR());
        const std::u16string text = e->GetValueText(u"");
        const std::u16string heldText = held.GetValueText(u"");
        if (c.length <= 1024 * 1024) {
            EXPECT_EQ(text, heldText);
        } else {
            // Made of the first MiB, and says there is more.
            ASSERT_GT(text.size(), 3u);
            EXPECT_EQ(text.substr(text.size() - 3), u"...");
            EXPECT_EQ(heldText.compare(0, text.size() - 4, text, 0, text.size() - 4), 0);
        }
        const auto string = e->GetValueString();
        ASSERT_TRUE(string);
        EXPECT_EQ(0, std::memcmp(string.get(), value.data(), c.length));
    }
}

// The values and frames left in the file are read from it while it is shown;
// once it has shrunk under them the reads fail, and nothing crashes.
TEST(ValueSource, ReadsFailCleanlyOnceTheFileShrank) {
    // Reads of 64 KiB and more go to the file itself, not through its cache.
    const Case c{"US list", testdicom::kImplicitLE, 0x0018, 0x1310, "", 2, 200000, -2};
    testdicom::Writer w = testdicom::Part10(testdicom::kImplicitLE);
    testdicom::StudyElements(w);
    const Bytes value = MakeValue(c);
    w.element(c.group, c.element, c.vr, value);
    w.us(0x0028, 0x0002, 1).text(0x0028, 0x0004, "CS", "MONOCHROME2 ").text(0x0028, 0x0008, "IS", "2 ");
    w.us(0x0028, 0x0010, 256).us(0x0028, 0x0011, 256).us(0x0028, 0x0100, 8).us(0x0028, 0x0101, 8);
    w.us(0x0028, 0x0102, 7);
    w.element(0x7FE0, 0x0010, "OB", Bytes(2 * 256 * 256, 0x5A));
    doctest_files::TempDir dir;
    const auto path = dir.Write("shrinks.dcm", w.bytes());

    CDicomFile f;
    ASSERT_TRUE(f.Load(path));
    const CDicomTag* e = Find(f, c.group, c.element);
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(e->IsValueInSource());
    const auto* pixels = f.PixelData();
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->FrameCount(), 2u);
    Bytes frame(pixels->FrameSize());
    EXPECT_FALSE(pixels->ReadFrame(2, frame.data()));

    std::filesystem::resize_file(path, e->m_dataOffset + 10);
    EXPECT_FALSE(e->ValueBytes());
    Bytes copy(c.length);
    EXPECT_FALSE(e->CopyValue(copy.data(), c.length));
    EXPECT_EQ(e->GetValueText(u""), u"");
    EXPECT_FALSE(e->GetValueString());
    EXPECT_FALSE(pixels->ReadFrame(0, frame.data()));
    ASSERT_TRUE(f.Source());
    EXPECT_TRUE(f.Source()->Changed());
}
