// Thumbnails decoded at the size shown against thumbnails of the full-size
// frames, over every frame of each file given:
//   thumbnail_compare FILE...
//   thumbnail_compare --full FILE   (the full-size decode alone: every frame's
//                                    thumbnail from its full-size image, on
//                                    every core, as the floor of a decoder
//                                    that cannot reduce)
// prints per file the reduction, the time of each way, and the absolute
// differences of the two thumbnails' samples (each channel of every pixel):
// the largest, the mean and the 99th percentile; against the thumbnail of
// the full-size frame as it is made (bilinear), and against the full-size
// frame's display image averaged over each reduced pixel's square (an
// ideal downscale, no aliasing) with the full frame's window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/FrameDecoder.h"
#include "image/ThumbnailBitmap.h"

namespace {

// The thumbnail an ideal downscale of the full-size frame gives: its display
// image (the full frame's window) averaged over squares of 2^shift pixels,
// then fitted to the thumbnail as the decoder fits a reduced frame.
std::unique_ptr<MCImage> AreaReference(const MCImage& image, bool monochrome1, unsigned shift) {
    MCImage copy(image);
    if (monochrome1) copy.Invert();
    if (!copy.ConvertTo24Bit()) return nullptr;
    const uint32_t w = copy.GetWidth(), h = copy.GetHeight();
    const uint32_t side = 1u << shift;
    const uint32_t ow = (w + side - 1) >> shift, oh = (h + side - 1) >> shift;
    std::vector<uint64_t> sums(std::size_t(ow) * oh * 3, 0), counts(std::size_t(ow) * oh, 0);
    const uint8_t* in = copy.GetBits();
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const std::size_t o = std::size_t(y >> shift) * ow + (x >> shift);
            ++counts[o];
            for (int c = 0; c < 3; ++c) sums[o * 3 + c] += in[(std::size_t(y) * w + x) * 3 + c];
        }
    std::vector<uint8_t> out(sums.size());
    for (std::size_t k = 0; k < sums.size(); ++k) out[k] = uint8_t((sums[k] + counts[k / 3] / 2) / counts[k / 3]);
    auto reference = std::make_unique<MCImage>(out.data(), ow, oh, 24, false, 0, 255, 128, 256);
    if (ow == oh) {
        reference->Resample(MCImage::kThumbnailSize, MCImage::kThumbnailSize, 1);
    } else {
        const ThumbnailSize size = ThumbnailFitSize(ow, oh);
        reference->Resample(size.width, size.height, 1);
        reference->CenterOnCanvas();
    }
    return reference;
}

struct Stats {
    std::vector<uint64_t> histogram = std::vector<uint64_t>(256, 0);
    uint64_t count = 0, sum = 0;
    void Add(const MCImage& a, const MCImage& b) {
        if (a.GetDataSize() != b.GetDataSize()) return;
        for (uint32_t k = 0; k < a.GetDataSize(); ++k) {
            const int d = std::abs(int(a.GetBits()[k]) - int(b.GetBits()[k]));
            ++histogram[std::size_t(d)];
            sum += uint64_t(d);
            ++count;
        }
    }
    // "max mean p99"
    std::string Text() const {
        int largest = 0, p99 = -1;
        uint64_t seen = 0;
        for (int d = 0; d < 256; ++d) {
            seen += histogram[std::size_t(d)];
            if (histogram[std::size_t(d)]) largest = d;
            if (p99 < 0 && seen * 100 >= count * 99) p99 = d;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%5d %6.3f %5d", largest, count ? double(sum) / double(count) : 0.0, p99);
        return text;
    }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: thumbnail_compare FILE... | --full FILE\n");
        return 2;
    }
    if (std::string(argv[1]) == "--full") {
        CDicomFile file;
        if (argc != 3 || !file.Load(argv[2])) return 1;
        quillon::FrameDecoder full(file, 0);
        full.SetThumbnailsAtShownSize(false);
        const auto thumbnails = full.MakeThumbnails(full.FrameCount());
        return std::all_of(thumbnails.begin(), thumbnails.end(), [](const auto& t) { return t != nullptr; }) ? 0 : 1;
    }
    std::printf("%-36s %6s %6s %8s %8s  %-18s  %-18s\n", "", "", "", "", "", "vs full, bilinear", "vs full, area mean");
    std::printf("%-36s %6s %6s %8s %8s  %5s %6s %5s  %5s %6s %5s\n", "file", "frames", "reduce", "full s", "shown s",
                "max", "mean", "p99", "max", "mean", "p99");
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        CDicomFile file;
        if (!file.Load(argv[a])) {
            std::printf("%-44s not loaded\n", argv[a]);
            status = 1;
            continue;
        }
        quillon::FrameDecoder full(file, 0), shown(file, 0);
        full.SetThumbnailsAtShownSize(false);
        const std::size_t frames = full.FrameCount();
        auto start = std::chrono::steady_clock::now();
        const auto expected = full.MakeThumbnails(frames, {}, 1);
        const double fullTime = Seconds(start);
        start = std::chrono::steady_clock::now();
        const auto reduced = shown.MakeThumbnails(frames, {}, 1);
        const double shownTime = Seconds(start);
        Stats bilinear, area;
        unsigned most = 0, missing = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            if (!expected[i] || !reduced[i] || expected[i]->GetDataSize() != reduced[i]->GetDataSize()) {
                missing += (expected[i] != nullptr) != (reduced[i] != nullptr) ||
                           (expected[i] && expected[i]->GetDataSize() != reduced[i]->GetDataSize());
                continue;
            }
            const unsigned shift = shown.ThumbnailReduction(i);
            most = std::max(most, shift);
            bilinear.Add(*expected[i], *reduced[i]);
            if (shift == 0) {
                area.Add(*expected[i], *reduced[i]);
            } else if (const auto image = full.GetFrameImage(i)) {
                if (const auto reference = AreaReference(*image, full.Description().pixel.IsMonochrome1(), shift))
                    area.Add(*reference, *reduced[i]);
            }
        }
        if (const char* dir = std::getenv("THUMBNAIL_COMPARE_PPM"); dir && frames && expected[0] && reduced[0]) {
            // Frame 0 both ways, for looking at.
            for (int k = 0; k < 2; ++k) {
                const MCImage& t = k ? *reduced[0] : *expected[0];
                const std::string path = std::string(dir) + "/" + std::to_string(a) + (k ? "-shown.ppm" : "-full.ppm");
                if (FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fprintf(f, "P6 %u %u 255\n", t.GetWidth(), t.GetHeight());
                    std::fwrite(t.GetBits(), 1, t.GetDataSize(), f);
                    std::fclose(f);
                }
            }
        }
        const char* name = argv[a];
        for (const char* p = argv[a]; *p; ++p)
            if (*p == '/') name = p + 1;
        std::printf("%-36s %6zu %6u %8.3f %8.3f  %s  %s%s\n", name, frames, most, fullTime, shownTime,
                    bilinear.Text().c_str(), area.Text().c_str(), missing ? "  (thumbnails missing on one side)" : "");
        if (missing) status = 1;
    }
    return status;
}
