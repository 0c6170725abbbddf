// Byte facts where a file is broken: native frames end with the value they
// belong to, trailing padding is an element of its own, and an item keeps the
// length written in the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/LoadProblems.h"
#include "document/DocumentTree.h"
#include "document/QuillonDocument.h"
#include "image/FrameDecoder.h"
#include "tests/support/DicomWriter.h"
#include "tests/support/DocUnitSupport.h"

using namespace testdicom;

namespace {

bool Load(CDicomFile& f, const Writer& w) { return f.LoadMemory(w.bytes().data(), w.size()).Ok(); }

const SLoadProblem* FindProblem(const CDicomFile& f, ProblemCode code) {
    for (const SLoadProblem& p : f.Problems().All())
        if (p.code == code) return &p;
    return nullptr;
}

// A 4 x 4, 8-bit image of `frames` frames whose Pixel Data holds
// `valueBytes` bytes (1, 2, 3 ...), then trailing padding of `padding`
// (none when empty).
Writer NativeFrames(int frames, uint32_t valueBytes, const Bytes& padding) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.us(0x0028, 0x0002, 1).text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames)));
    w.us(0x0028, 0x0010, 4).us(0x0028, 0x0011, 4).us(0x0028, 0x0100, 8);
    w.us(0x0028, 0x0101, 8).us(0x0028, 0x0102, 7).us(0x0028, 0x0103, 0);
    Bytes value(valueBytes);
    for (uint32_t i = 0; i < valueBytes; ++i) value[i] = uint8_t(i + 1);
    w.header(0x7FE0, 0x0010, "OB", valueBytes).raw(value);
    if (!padding.empty()) w.header(0xFFFC, 0xFFFC, "OB", uint32_t(padding.size())).raw(padding);
    return w;
}

const CDicomTag* LastElement(const CDicomFile& f) { return f.Elements().back().get(); }

}  // namespace

// Frames of a value shorter than Rows x Columns x frames: each frame ends
// with the value, one that starts past it has no bytes, the samples a frame
// lacks read as 0 and never come from the padding after it.
TEST(NativeFramesPastTheValue, EndWithTheValue) {
    struct Case {
        const char* name;
        int frames;
        uint32_t valueBytes;
        std::vector<uint64_t> frameBytes;
        uint64_t missing;  // 0: no shortfall
    };
    const Case cases[] = {
        {"whole frames", 2, 32, {16, 16}, 0},
        {"last frame 4 bytes short", 2, 28, {16, 12}, 4},
        {"third frame past the value", 3, 20, {16, 4, 0}, 28},
        {"one frame, no bytes at all", 1, 0, {}, 16},
    };
    const Bytes padding(24, 0xEE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDicomFile f;
        ASSERT_TRUE(Load(f, NativeFrames(c.frames, c.valueBytes, padding)));
        CDicomTag7FE0* pixels = f.PixelData();
        ASSERT_NE(pixels, nullptr);
        ASSERT_EQ(pixels->FrameCount(), c.frameBytes.size());
        const uint64_t valueEnd = pixels->m_dataOffset + c.valueBytes;
        for (std::size_t k = 0; k < c.frameBytes.size(); ++k) {
            SCOPED_TRACE("frame " + std::to_string(k + 1));
            EXPECT_EQ(pixels->FrameBytes(k), c.frameBytes[k]);
            EXPECT_LE(pixels->FrameOffset(k) + pixels->FrameBytes(k), valueEnd);
            std::vector<uint8_t> frame(pixels->FrameSize(), 0xAB);
            ASSERT_TRUE(pixels->ReadFrame(k, frame.data()));
            for (std::size_t i = 0; i < frame.size(); ++i) {
                const uint64_t at = 16 * k + i;
                EXPECT_EQ(frame[i], i < c.frameBytes[k] ? uint8_t(at + 1) : 0) << "sample " << i;
            }
        }
        // The frame nodes show the same ranges; a frame without bytes has an
        // empty one at the value's end.
        ASSERT_EQ(AddFrameNodes(f), c.frameBytes.size());
        for (std::size_t k = 0; k < c.frameBytes.size(); ++k) {
            const CDicomTag* node = pixels->m_children[k].get();
            const auto [first, last] = f.ElementRange(node);
            EXPECT_EQ(node->GetLength(), c.frameBytes[k]);
            EXPECT_EQ(first, pixels->FrameOffset(k));
            EXPECT_EQ(last + 1, first + c.frameBytes[k]);
            EXPECT_LE(last + 1, valueEnd);
        }
        const SLoadProblem* length = FindProblem(f, ProblemCode::PixelDataLength);
        if (c.missing == 0) {
            EXPECT_EQ(length, nullptr);
        } else {
            ASSERT_NE(length, nullptr);
            EXPECT_NE(length->text.find(" is " + std::to_string(c.missing) + " bytes short of the "), std::string::npos)
                << length->text;
        }
        // Decoding: a short frame is drawn with its missing samples as 0, a
        // frame past the value has nothing to draw and says so.
        quillon::FrameDecoder decoder(f);
        for (std::size_t k = 0; k < c.frameBytes.size(); ++k) {
            std::vector<uint8_t> samples;
            const quillon::Status status = decoder.GetFrameSamples(k, samples);
            if (c.frameBytes[k] == 0) {
                EXPECT_FALSE(status);
                EXPECT_EQ(status.Code(), quillon::Reason::NoBytes);
                EXPECT_FALSE(decoder.DecodeFrame(k));
                continue;
            }
            ASSERT_TRUE(status) << status.Text();
            ASSERT_EQ(samples.size(), 16u);
            EXPECT_EQ(samples[15], c.frameBytes[k] == 16 ? uint8_t(16 * k + 16) : 0);
            EXPECT_TRUE(decoder.DecodeFrame(k));
        }
    }
}

// (FFFC,FFFC) after the pixel data is an element with its own range, native
// or encapsulated, explicit or implicit VR; padding cut off by the end of the
// file leaves its bytes unread and the file open.
TEST(TrailingPadding, IsAnElementAfterThePixelData) {
    {
        CDicomFile f;
        ASSERT_TRUE(Load(f, NativeFrames(1, 16, Bytes(138, 0))));
        const CDicomTag* padding = LastElement(f);
        ASSERT_TRUE(padding->Is(0xFFFC, 0xFFFC));
        EXPECT_EQ(padding->GetLength(), 138u);
        const auto [first, last] = f.ElementRange(padding);
        const auto pixelRange = f.ElementRange(f.PixelData());
        EXPECT_EQ(first, pixelRange.second + 1);
        EXPECT_EQ(last, first + 12 + 138 - 1);
        EXPECT_EQ(FindProblem(f, ProblemCode::TrailingBytes), nullptr);
    }
    {
        Writer w = Part10(kImplicitLE);
        StudyElements(w);
        w.us(0x0028, 0x0010, 2).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, 8);
        w.element(0x7FE0, 0x0010, "OB", {1, 2, 3, 4});
        const size_t at = w.size();
        w.tag(0xFFFC, 0xFFFC).u32(6).raw(Bytes(6, 0));
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        ASSERT_TRUE(LastElement(f)->Is(0xFFFC, 0xFFFC));
        EXPECT_EQ(f.ElementRange(LastElement(f)), std::make_pair(uint64_t(at), uint64_t(at + 8 + 6 - 1)));
    }
    {
        Writer w = Part10("1.2.840.10008.1.2.4.50");
        StudyElements(w);
        w.header(0x7FE0, 0x0010, "OB", kUndefinedLength).item(0).item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9}).seqEnd();
        w.header(0xFFFC, 0xFFFC, "OB", 4).raw(Bytes(4, 0));
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        ASSERT_TRUE(LastElement(f)->Is(0xFFFC, 0xFFFC));
        EXPECT_EQ(f.ElementRange(LastElement(f)).second + 1, w.size());
    }
    {
        // The padding claims more bytes than the file holds.
        Writer w = NativeFrames(1, 16, {});
        w.header(0xFFFC, 0xFFFC, "OB", 100).raw(Bytes(10, 0));
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        EXPECT_TRUE(LastElement(f)->Is(0x7FE0, 0x0010));
        EXPECT_NE(FindProblem(f, ProblemCode::Truncated), nullptr);
    }
}

// An item whose last element runs past its written length keeps that length
// (Data Size and range) and the problem that says so.
TEST(ItemLengths, AreShownAsWritten) {
    for (const bool undefinedSequence : {true, false}) {
        SCOPED_TRACE(undefinedSequence ? "undefined-length sequence" : "defined-length sequence");
        Writer w = Part10(kExplicitLE);
        StudyElements(w);
        // The item says 10 bytes; its one element takes 16.
        const uint32_t itemBytes = 8 + 16;
        w.header(0x0040, 0x0275, "SQ", undefinedSequence ? kUndefinedLength : itemBytes);
        const size_t itemAt = w.size();
        w.item(10).text(0x0040, 0x0009, "SH", "abcdefgh");
        if (undefinedSequence) w.seqEnd();
        w.text(0x0040, 0x1001, "SH", "ID");
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        const CDicomTag* sequence = f.Find(0x0040, 0x0275);
        ASSERT_NE(sequence, nullptr);
        ASSERT_EQ(sequence->m_children.size(), 1u);
        const CDicomTag* item = sequence->m_children[0].get();
        EXPECT_EQ(item->GetLength(), 10u);
        EXPECT_EQ(f.ElementRange(item), std::make_pair(uint64_t(itemAt), uint64_t(itemAt + 8 + 10 - 1)));
        // The sequence still ends where its items do.
        EXPECT_EQ(f.ElementRange(sequence).second + 1, itemAt + itemBytes + (undefinedSequence ? 8 : 0));
        const SLoadProblem* mismatch = FindProblem(f, ProblemCode::LengthMismatch);
        ASSERT_NE(mismatch, nullptr);
        EXPECT_EQ(mismatch->offset, itemAt);
        EXPECT_NE(f.Find(0x0040, 0x1001), nullptr);
    }
}

// On real files: CT_small's 138 bytes of trailing padding are a record of
// their own that a click on them finds; the J2K stream of
// J2K_pixelrep_mismatch is unsigned 13-bit, the data set signed, and its air
// (-2000, stored as 6192) is the darkest value of the image.
TEST(ByteFactsOnTheCorpus, PaddingRecordAndSignedJpeg2000) {
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    {
        quillon::QuillonDocument doc;
        ASSERT_TRUE(doc.Open(docunit::U16(data / "CT_small.dcm")).Opened());
        const std::optional<std::size_t> found = doc.RecordAtOffset(doc.DataSize() - 1);
        ASSERT_TRUE(found);
        EXPECT_TRUE(doc.Records()[*found].Element()->Is(0xFFFC, 0xFFFC));
        EXPECT_EQ(doc.Range(*found), std::make_pair(doc.DataSize() - 138, doc.DataSize() - 1));
    }
    {
        CDicomFile f;
        ASSERT_TRUE(f.Load(data / "J2K_pixelrep_mismatch.dcm"));
        quillon::FrameDecoder decoder(f);
        const std::shared_ptr<const MCImage> image = decoder.GetFrameImage(0);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->GetBitsPerPixel(), 16);
        EXPECT_TRUE(image->IsSigned());
        const auto* samples = reinterpret_cast<const int16_t*>(image->GetBits());
        EXPECT_EQ(samples[0], -2000);
        EXPECT_EQ(image->GetMin(), -2000);
    }
}
