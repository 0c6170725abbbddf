// libFuzzer target: CDicomFile::LoadMemory on arbitrary bytes, then what the
// window's open does with the frames: every frame's thumbnail (decoded,
// converted, resampled, centred, turned into 24 bits), and each frame's
// samples as the decoder hands them over.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/FrameCodecs.h"
#include "image/FrameDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CDicomFile file;
    if (!file.LoadMemory(data, size)) return 0;
    // Frames of more than 4 megapixels, or whose decoded size passes 64 MiB
    // (many samples per pixel), are real but need memory, not bytes: leave
    // them out so that the allocation limit flags only what is wrong.
    if (uint64_t(file.Pixel().rows) * file.Pixel().columns > (uint64_t(1) << 22)) return 0;
    quillon::FrameDecoder decoder(file, 8u << 20);
    if (ExpectedDecodedSize(decoder.Description()) > (uint64_t(64) << 20)) return 0;
    // A 16 KiB input can announce billions of frames; a few are enough.
    const std::size_t frames = std::min<std::size_t>(FramesWithBytes(file), 16);
    const auto thumbnails = decoder.MakeThumbnails(frames, {}, 1);
    for (const auto& t : thumbnails) {
        if (t && (t->GetWidth() != MCImage::kThumbnailSize || t->GetHeight() != MCImage::kThumbnailSize ||
                  t->GetBitsPerPixel() != 24))
            std::abort();
    }
    std::vector<uint8_t> samples;
    if (frames) decoder.GetFrameSamples(frames - 1, samples);
    return 0;
}
