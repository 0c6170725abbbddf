// The frame pipeline: routes by transfer syntax, the thumbnail geometry, the
// MONOCHROME1 mark, the image cache and the thumbnails made on threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/FrameDecoder.h"
#include "tests/support/DicomWriter.h"

namespace {

using testdicom::Bytes;
using testdicom::Pad;

struct Image {
    std::string syntax = testdicom::kExplicitLE;
    std::string photometric = "MONOCHROME2";
    uint16_t rows = 2, columns = 2, bits = 8;
    int frames = 1;
    // Pixel value of frame k at (x, y).
    std::function<uint16_t(int k, int x, int y)> pixel = [](int k, int, int) { return uint16_t(k + 1); };
};

Bytes NativeFile(const Image& image) {
    testdicom::Writer w = testdicom::Part10(image.syntax);
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", Pad(image.photometric));
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(image.frames)));
    w.us(0x0028, 0x0010, image.rows);
    w.us(0x0028, 0x0011, image.columns);
    w.us(0x0028, 0x0100, image.bits);
    w.us(0x0028, 0x0101, image.bits);
    w.us(0x0028, 0x0102, uint16_t(image.bits - 1));
    w.us(0x0028, 0x0103, 0);
    Bytes pixels;
    for (int k = 0; k < image.frames; ++k)
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.columns; ++x) {
                const uint16_t v = image.pixel(k, x, y);
                pixels.push_back(uint8_t(v));
                if (image.bits == 16) pixels.push_back(uint8_t(v >> 8));
            }
    w.element(0x7FE0, 0x0010, image.bits == 16 ? "OW" : "OB", pixels);
    return w.bytes();
}

struct Loaded {
    CDicomFile file;
    explicit Loaded(const Bytes& bytes) { EXPECT_TRUE(file.LoadMemory(bytes.data(), bytes.size())); }
};

uint8_t Grey(const MCImage& t, uint32_t x, uint32_t y) { return t.GetBits()[(y * t.GetWidth() + x) * 3]; }

}  // namespace

TEST(FramePipeline, ThumbnailGeometry) {
    // Frames wider or taller than square are scaled to fit and centred on the
    // canvas, whose background is the frame's bottom-right pixel.
    struct Case {
        uint16_t columns, rows;
        uint32_t left, top;  // first canvas pixel covered by the frame
    };
    for (const Case c : {Case{512, 256, 0, 32}, Case{256, 512, 32, 0}, Case{100, 100, 0, 0}}) {
        Image image;
        image.columns = c.columns;
        image.rows = c.rows;
        image.bits = 16;
        // 1000 everywhere but the bottom rows, which reach the scaled image's
        // bottom-right pixel: 3000.
        const int rows = c.rows;
        image.pixel = [rows](int, int, int y) { return uint16_t(y >= rows - 4 ? 3000 : 1000); };
        Loaded loaded(NativeFile(image));
        quillon::FrameDecoder frames(loaded.file);
        const auto t = frames.GetFrameThumbnail(0);
        ASSERT_NE(t, nullptr) << c.columns << "x" << c.rows;
        EXPECT_EQ(t->GetWidth(), MCImage::kThumbnailSize);
        EXPECT_EQ(t->GetHeight(), MCImage::kThumbnailSize);
        EXPECT_EQ(t->GetBitsPerPixel(), 24);
        // The window runs from 1000 to 3000: the frame shows dark, the
        // background (the bottom-right sample) white.
        EXPECT_LT(Grey(*t, c.left + 10, c.top + 10), 10) << c.columns << "x" << c.rows;
        if (c.left > 0 || c.top > 0) {
            EXPECT_EQ(Grey(*t, 0, 0), 255) << c.columns << "x" << c.rows;
            EXPECT_EQ(Grey(*t, c.left ? c.left - 1 : 64, c.top ? c.top - 1 : 64), 255);
        }
    }
}

TEST(FramePipeline, EightBitGreyShowsStoredValues) {
    // Window Center and Width do not change how an 8-bit image looks.
    Image image;
    image.pixel = [](int, int x, int y) { return uint16_t(x + y == 0 ? 0 : x + y == 1 ? 100 : 255); };
    Loaded loaded(NativeFile(image));
    quillon::FrameDecoder frames(loaded.file);
    const auto full = frames.GetFrameImage(0);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->GetBitsPerPixel(), 8);
    EXPECT_EQ(full->GetBits()[0], 0);
    EXPECT_EQ(full->GetBits()[1], 100);
    EXPECT_EQ(full->GetBits()[3], 255);
}

TEST(FramePipeline, Monochrome1IsInvertedInTheThumbnailOnly) {
    Image image;
    image.photometric = "MONOCHROME1";
    image.pixel = [](int, int, int) { return uint16_t(10); };
    Loaded loaded(NativeFile(image));
    quillon::FrameDecoder frames(loaded.file);
    const auto t = frames.GetFrameThumbnail(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Grey(*t, 64, 64), 245);
    const auto full = frames.GetFrameImage(0);
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->IsMonochrome1());
    EXPECT_EQ(full->GetBits()[0], 10);
}

TEST(FramePipeline, RoutesByTransferSyntax) {
    // An unlisted UID (of the standard's root, so read as explicit VR) counts
    // as uncompressed.
    Image image;
    image.syntax = "1.2.840.10008.1.2.99";
    Loaded unlisted(NativeFile(image));
    EXPECT_NE(quillon::FrameDecoder(unlisted.file).GetFrameThumbnail(0), nullptr);

    // JPEG-LS frames go to their decoder, which says why a stream without a
    // frame header gives no samples.
    testdicom::Writer w = testdicom::Part10("1.2.840.10008.1.2.4.80");
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", Pad("MONOCHROME2"));
    w.us(0x0028, 0x0010, 2);
    w.us(0x0028, 0x0011, 2);
    w.us(0x0028, 0x0100, 8);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9}).seqEnd();
    Loaded jpegLs(w.bytes());
    quillon::FrameDecoder frames(jpegLs.file);
    EXPECT_EQ(frames.FrameCount(), 1u);
    EXPECT_EQ(frames.GetFrameThumbnail(0), nullptr);
    std::vector<uint8_t> samples;
    EXPECT_FALSE(frames.GetFrameSamples(0, samples));
    EXPECT_EQ(frames.GetFrameSamples(0, samples).Code(), quillon::Reason::CodecRefused);
    EXPECT_EQ(frames.GetFrameSamples(0, samples).Text().rfind("The JPEG-LS frame header is unreadable: ", 0), 0u)
        << frames.GetFrameSamples(0, samples).Text();
}

// A frame without a picture has its reason: kept from the decode that failed
// (no second decode), and given by the samples as well.
TEST(FramePipeline, FrameStatusSaysWhyAFrameHasNoPicture) {
    // Two RLE frames, the second's fragment cut inside its header.
    testdicom::Writer w = testdicom::Part10("1.2.840.10008.1.2.5");
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", Pad("MONOCHROME2"));
    w.text(0x0028, 0x0008, "IS", Pad("2"));
    w.us(0x0028, 0x0010, 1);
    w.us(0x0028, 0x0011, 2);
    w.us(0x0028, 0x0100, 8);
    Bytes good(64, 0);
    good[0] = 1, good[4] = 64;
    good.insert(good.end(), {0x01, 7, 8});
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    w.item(uint32_t(good.size())).raw(good).item(40).raw(Bytes(40, 0)).seqEnd();
    Loaded rle(w.bytes());
    quillon::FrameDecoder frames(rle.file);
    const auto thumbnails = frames.MakeThumbnails(2, {}, 1);
    ASSERT_NE(thumbnails[0], nullptr);
    EXPECT_EQ(thumbnails[1], nullptr);
    const uint64_t decodes = frames.DecodeCount();
    EXPECT_TRUE(frames.FrameStatus(0));
    const quillon::Status cut = frames.FrameStatus(1);
    EXPECT_EQ(cut.Code(), quillon::Reason::StreamEndsEarly);
    EXPECT_EQ(cut.Text(), "The stream ends early at byte 40, inside the 64-byte RLE header.");
    EXPECT_EQ(frames.DecodeCount(), decodes);
    std::vector<uint8_t> samples;
    EXPECT_EQ(frames.GetFrameSamples(1, samples).Text(), cut.Text());
    const quillon::Status past = frames.FrameStatus(2);
    EXPECT_EQ(past.Code(), quillon::Reason::NoBytes);
    EXPECT_EQ(past.Text(), "The file has 2 frames.");

    // Not yet asked for: decoded now.
    quillon::FrameDecoder fresh(rle.file);
    EXPECT_EQ(fresh.FrameStatus(1).Text(), cut.Text());
    EXPECT_EQ(fresh.DecodeCount(), 1u);
}

TEST(FramePipeline, DecodesOnceWithinTheCacheBudget) {
    Image image;
    image.rows = image.columns = 64;
    image.bits = 16;
    image.frames = 4;
    Loaded loaded(NativeFile(image));

    quillon::FrameDecoder frames(loaded.file);
    const auto first = frames.GetFrameImage(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(frames.GetFrameImage(1), first);
    EXPECT_EQ(frames.DecodeCount(), 1u);
    EXPECT_EQ(frames.GetFrameImage(4), nullptr);  // no such frame

    // Room for one image: the older one is dropped and decoded again.
    quillon::FrameDecoder small(loaded.file, first->GetBlockSize());
    ASSERT_NE(small.GetFrameImage(0), nullptr);
    ASSERT_NE(small.GetFrameImage(1), nullptr);
    EXPECT_EQ(small.CachedBytes(), first->GetBlockSize());
    ASSERT_NE(small.GetFrameImage(0), nullptr);
    EXPECT_EQ(small.DecodeCount(), 3u);
}

TEST(FramePipeline, ThumbnailsOnThreadsEqualThoseMadeOneByOne) {
    Image image;
    image.rows = 40;
    image.columns = 70;
    image.bits = 16;
    image.frames = 9;
    image.pixel = [](int k, int x, int y) { return uint16_t(k * 300 + x * 7 + y * 11); };
    Loaded loaded(NativeFile(image));

    quillon::FrameDecoder one(loaded.file);
    std::vector<std::size_t> reported;
    const auto threaded = quillon::FrameDecoder(loaded.file)
                              .MakeThumbnails(
                                  9,
                                  [&](std::size_t done, std::size_t total) {
                                      EXPECT_EQ(total, 9u);
                                      reported.push_back(done);
                                  },
                                  3);
    ASSERT_EQ(threaded.size(), 9u);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 9u);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    for (std::size_t k = 0; k < 9; ++k) {
        const auto alone = one.GetFrameThumbnail(k);
        ASSERT_NE(alone, nullptr);
        ASSERT_NE(threaded[k], nullptr);
        ASSERT_EQ(alone->GetBlockSize(), threaded[k]->GetBlockSize());
        EXPECT_TRUE(std::equal(alone->GetBlock(), alone->GetBlock() + alone->GetBlockSize(), threaded[k]->GetBlock()))
            << k;
    }
}

TEST(FramePipeline, FrameSamplesOfNativeFramesAreTheirBytes) {
    Image image;
    image.frames = 3;
    Loaded loaded(NativeFile(image));
    quillon::FrameDecoder frames(loaded.file);
    std::vector<uint8_t> samples;
    ASSERT_TRUE(frames.GetFrameSamples(2, samples));
    EXPECT_EQ(samples, (std::vector<uint8_t>{3, 3, 3, 3}));
    EXPECT_FALSE(frames.GetFrameSamples(3, samples));
}

// Frames decoded at once share the decode budget: frames each taking more
// than half of it are all decoded, one after the other, on any number of
// threads; a frame over it alone gets no picture and says why, and leaves
// the budget as it found it.
TEST(FramePipeline, FramesShareTheDecodeBudget) {
    Image large;
    // 8-bit grey: the samples, the 16-bit display image and the thumbnail's
    // copy, 5 bytes a pixel, a little over half of the budget.
    large.rows = large.columns = 5400;
    large.frames = 2;
    large.pixel = [](int k, int x, int y) { return uint16_t((k * 50 + x + y) & 0xFF); };
    Loaded loaded(NativeFile(large));
    quillon::FrameDecoder decoder(loaded.file);
    ASSERT_GT(uint64_t(5400) * 5400 * 5, kFrameDecodeBudget / 2);
    const auto thumbnails = decoder.MakeThumbnails(2, {}, 2);
    ASSERT_EQ(thumbnails.size(), 2u);
    EXPECT_NE(thumbnails[0], nullptr);
    EXPECT_NE(thumbnails[1], nullptr);
    // Each frame held its share, and never both at once.
    EXPECT_GT(decoder.BudgetHighWater(), kFrameDecodeBudget / 2);
    EXPECT_LE(decoder.BudgetHighWater(), kFrameDecodeBudget);

    // Files whose single 16384 x 16384 frame is far over the budget,
    // whatever the stream holds: a JPEG 2000 stream that agrees with the
    // data set is refused for the budget; where no decoder takes the frame,
    // that is the reason.
    auto claimed = [](const std::string& syntax) {
        testdicom::Writer w = testdicom::Part10(syntax);
        testdicom::StudyElements(w);
        w.us(0x0028, 0x0002, 1);
        w.text(0x0028, 0x0004, "CS", Pad("MONOCHROME2"));
        w.us(0x0028, 0x0010, 16384).us(0x0028, 0x0011, 16384).us(0x0028, 0x0100, 8).us(0x0028, 0x0101, 8);
        w.us(0x0028, 0x0102, 7).us(0x0028, 0x0103, 0);
        Bytes siz = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00};
        for (uint32_t v : {16384u, 16384u, 0u, 0u, 4096u, 4096u, 0u, 0u})
            for (int k = 3; k >= 0; --k) siz.push_back(uint8_t(v >> (8 * k)));
        siz.insert(siz.end(), {0x00, 0x01, 0x07, 0x01, 0x01, 0xFF, 0xD9});
        w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
        w.tag(0xFFFE, 0xE000).u32(0);
        w.tag(0xFFFE, 0xE000).u32(uint32_t(siz.size())).raw(siz);
        w.tag(0xFFFE, 0xE0DD).u32(0);
        return w.bytes();
    };
    const struct {
        const char* syntax;
        quillon::Reason reason;
        std::string text;
    } refusals[] = {
        {"1.2.840.10008.1.2.4.90", quillon::Reason::OverBudget,
         "Decoding the frame (16384 x 16384, 1 sample of 8 bits) would take 2304 MiB; frames over the 256 MiB "
         "budget are not decoded."},
        {"1.2.840.10008.1.2.4.201", quillon::Reason::OverBudget,
         "Decoding the frame (16384 x 16384, 1 sample of 8 bits) would take 2304 MiB; frames over the 256 MiB "
         "budget are not decoded."},
        {"1.2.840.10008.1.2.4.80", quillon::Reason::CodecRefused,
         "The stream does not start with a JPEG start-of-image marker."},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.syntax);
        Loaded loaded(claimed(r.syntax));
        ASSERT_EQ(loaded.file.Pixel().rows, 16384u);
        quillon::FrameDecoder refused(loaded.file);
        EXPECT_EQ(refused.GetFrameThumbnail(0), nullptr);
        const quillon::Status status = refused.FrameStatus(0);
        EXPECT_EQ(status.Code(), r.reason) << status.Text();
        EXPECT_EQ(status.Text().substr(0, r.text.size()), r.text);
    }
    // Nothing of the budget is left held: a frame within it still decodes.
    EXPECT_NE(decoder.GetFrameThumbnail(0), nullptr);
}
