// libFuzzer target: DecodeDeflatedFrame on one frame; the first bytes
// describe the frame (FrameFuzzInput.h), the rest is its raw deflate stream.
// The output must be the frame's native size, however much the stream would
// inflate to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FrameFuzzInput.h"
#include "image/FrameCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FrameDescription d;
    if (!DescribeFuzzFrame(data, size, quillon::Compression::DeflatedFrames, d)) return 0;
    DecodedFrame out;
    if (DecodeDeflatedFrame(d, data + kFrameFuzzHeader, size - kFrameFuzzHeader, out) &&
        out.size != NativeFragmentFrameSize(d))
        std::abort();
    return 0;
}
