// libFuzzer target: DecodeJpegLsFrame on one frame; the first bytes describe the
// frame (FrameFuzzInput.h), the rest is its compressed bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FrameFuzzInput.h"
#include "image/FrameCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FrameDescription d;
    if (!DescribeFuzzFrame(data, size, quillon::Compression::JPEGLSLossless, d)) return 0;
    DecodedFrame out;
    const bool ok = DecodeJpegLsFrame(d, data + kFrameFuzzHeader, size - kFrameFuzzHeader, out).Ok();
    if (ok && out.size != ExpectedDecodedSize(d)) std::abort();
    return 0;
}
