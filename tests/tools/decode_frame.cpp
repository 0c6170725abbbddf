// decode_frame --frame-samples K FILE: decodes compressed frame K of FILE and
// writes one text line
//   size=N bits_allocated=B samples=S colour_converted=0|1 planar=0|1
// followed by the N decoded bytes. Exit status 1 when the file does not
// load, 2 when the frame does not decode.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/FrameCodecs.h"
#include "image/FrameDescription.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "--frame-samples") {
        std::fprintf(stderr, "usage: %s --frame-samples K FILE\n", argv[0]);
        return 64;
    }
    const std::size_t frame = std::strtoull(argv[2], nullptr, 10);
    CDicomFile file;
    if (!file.Load(argv[3])) return 1;
    const FrameDescription description = DescribeFrames(file);
    quillon::HeapPtr<uint8_t> stored;
    ByteSpan bytes;
    DecodedFrame decoded;
    if (!CompressedFrameBytes(file, frame, stored, bytes) ||
        !DecodeCompressedFrame(description, bytes.data, bytes.size, decoded))
        return 2;
    std::printf("size=%llu bits_allocated=%d samples=%u colour_converted=%d planar=%d\n",
                static_cast<unsigned long long>(decoded.size), description.pixel.bitsAllocated,
                DecodedSamples(description), decoded.colourConverted ? 1 : 0, decoded.planar ? 1 : 0);
    std::fflush(stdout);
    if (std::fwrite(decoded.data.get(), 1, decoded.size, stdout) != decoded.size) return 3;
    return 0;
}
