// Thumbnails made in the background after the open: the order the workers
// take the frames in, a frame asked for going first, and the end of a
// document while frames are in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"
#include "tests/support/GatedThumbnails.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::U16;
using testdicom::Bytes;

namespace {

bool AllGrey(const MCImage* t, int grey) {
    if (!t || t->GetWidth() != 128 || t->GetHeight() != 128 || t->GetBitsPerPixel() != 24) return false;
    const uint8_t* bits = t->GetBits();
    return std::all_of(bits, bits + 128 * 128 * 3, [&](uint8_t b) { return b == grey; });
}

// One worker, held at the gate on frame 0 while frames are asked for: once
// let go it takes the latest asked for first, then the rest in frame order;
// a frame already made or being made is not taken again.
TEST(DocThumbnails, AFrameAskedForJumpsTheQueue) {
    TempDir dir;
    gated::GatedDocument doc;
    OpenOptions oneWorker;
    oneWorker.thumbnailThreads = 1;
    ASSERT_TRUE(doc.Open(U16(dir.Write("ten.dcm", doctest_files::NativeFramesFile(10))), oneWorker).Opened());
    // The open returned with the worker held: the document is there, no thumbnail yet.
    doc.WaitArrivals(1);
    EXPECT_EQ(doc.ThumbnailFrames(), 10u);
    EXPECT_EQ(doc.ThumbnailsFinished(), 0u);
    EXPECT_EQ(doc.ThumbnailStateOf(7), ThumbnailState::Pending);
    EXPECT_EQ(doc.Thumbnail(7), nullptr);
    EXPECT_TRUE(doc.CollectThumbnails().frames.empty());

    doc.PrioritiseThumbnail(7);
    doc.PrioritiseThumbnail(0);  // in flight: no second time
    doc.PrioritiseThumbnail(4);
    doc.Allow(2);  // frame 0 and the next one
    doc.WaitForThumbnail(4);
    EXPECT_EQ(doc.ThumbnailStateOf(4), ThumbnailState::Made);
    EXPECT_TRUE(AllGrey(doc.Thumbnail(4), 5));
    EXPECT_EQ(doc.ThumbnailStateOf(7), ThumbnailState::Pending);

    // Asked for while the worker waits at the gate with frame 7: 9 comes after it.
    doc.WaitArrivals(3);
    doc.PrioritiseThumbnail(9);
    doc.OpenGate();
    const ThumbnailNews news = doc.WaitForThumbnails();
    EXPECT_EQ(news.problems, 0u);
    EXPECT_EQ(doc.Passed(), (std::vector<std::size_t>{0, 4, 7, 9, 1, 2, 3, 5, 6, 8}));
    for (std::size_t k = 0; k < 10; ++k) EXPECT_TRUE(AllGrey(doc.Thumbnail(k), int(k) + 1)) << k;
    EXPECT_EQ(doc.ThumbnailsFinished(), 10u);
    // Every frame was reported once, in the order they became final.
    std::vector<std::size_t> reported = news.frames;
    ASSERT_EQ(reported.size(), 10u);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(std::adjacent_find(reported.begin(), reported.end()), reported.end());
}

// Close, or another open, while a frame is held in flight: it returns once
// that frame is done, no frame of the old document starts after it, and the
// next document holds only its own thumbnails and problems.
TEST(DocThumbnails, AnEndWhileFramesAreInFlightLeavesNothingBehind) {
    TempDir dir;
    const Bytes broken = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3};
    const auto undecodable = U16(
        dir.Write("broken.dcm", doctest_files::FragmentsFile(6, {}, {broken, broken, broken, broken, broken, broken})));
    const auto good = U16(dir.Write("good.dcm", doctest_files::NativeFramesFile(3)));
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "another open" : "close");
        gated::GatedDocument doc;
        OpenOptions oneWorker;
        oneWorker.thumbnailThreads = 1;
        ASSERT_TRUE(doc.Open(undecodable, oneWorker).Opened());
        doc.Allow(1);
        doc.WaitForThumbnail(0);
        doc.WaitArrivals(2);
        // Frame 0's problem is known; frame 1 is held in flight.
        EXPECT_EQ(doc.CollectThumbnails().problems, 1u);
        doc.OpenGate();
        if (reopen) {
            ASSERT_TRUE(doc.Open(good, oneWorker).Opened());
            const std::size_t passed = doc.Passed().size();
            doc.WaitForThumbnails();
            EXPECT_EQ(doc.Passed().size(), passed + 3);
            for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(AllGrey(doc.Thumbnail(k), int(k) + 1)) << k;
            for (const DocumentProblem& p : doc.Problems().All())
                EXPECT_NE(p.problem.code, ProblemCode::FrameDecode) << p.problem.text;
        } else {
            doc.Close();
            const std::size_t passed = doc.Passed().size();
            EXPECT_EQ(doc.ThumbnailFrames(), 0u);
            EXPECT_TRUE(doc.CollectThumbnails().frames.empty());
            EXPECT_TRUE(doc.Problems().Empty());
            EXPECT_EQ(doc.Passed().size(), passed);
        }
    }
}

}  // namespace
