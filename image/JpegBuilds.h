#pragma once
// The three builds of the JPEG library (8-, 12- and 16-bit samples) and
// libjpeg-turbo, one source file each: their headers cannot meet in one
// translation unit.
#include <cstdint>

#include "image/FrameCodecs.h"

enum class JpegColour {
    Stored,   // deliver the components as coded, no colour conversion
    Library,  // let the library convert a YCbCr stream to RGB
};

struct JpegBuildRequest {
    const uint8_t* bytes = nullptr;
    uint64_t length = 0;
    uint8_t* out = nullptr;
    uint64_t outSize = 0;
    unsigned sampleBytes = 1;  // bytes per output sample, 1, 2 or 4
    unsigned outSamples = 1;   // samples per output pixel
    uint64_t framePixels = 0;  // streams much larger than the frame are refused
    bool rgbFrame = false;     // photometric interpretation RGB
    unsigned scaleShift = 0;   // lossy streams decoded at 1/2^scaleShift (0 to 3)
    // With a sink, `out` holds bandRows rows and is handed to it whenever
    // they are decoded (and once more for the rows of a band cut short).
    FrameRowSink* sink = nullptr;
    uint32_t bandRows = 0;
};

bool DecodeJpeg8(const JpegBuildRequest& request, JpegBufferResult& result);
bool DecodeJpeg12(const JpegBuildRequest& request, JpegBufferResult& result);
bool DecodeJpeg16(const JpegBuildRequest& request, JpegBufferResult& result);
// libjpeg-turbo, for 8-bit lossy streams only.
bool DecodeJpegTurbo(const JpegBuildRequest& request, JpegBufferResult& result);
