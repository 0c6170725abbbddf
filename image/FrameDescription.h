#pragma once
// What the frame decoders and the sample conversions need to know about the
// pixels of a loaded file, taken from it once. Decoding reads only this and
// the frame's bytes, which the pixel data node reads from the file without
// changing anything, so frames can be decoded on any thread while the
// document is shown.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/HeapBlock.h"
#include "dicom/TransferSyntax.h"

class CDicomFile;

struct FrameDescription {
    // The pixel module.
    uint32_t numberOfFrames = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    int16_t bitsAllocated = 0;
    int16_t bitsStored = 0;
    int16_t samplesPerPixel = 0;
    std::string compressionName;
    // The compression of the same transfer syntax: the key by which frames
    // are routed to their decoder.
    quillon::Compression compression = quillon::Compression::None;
    int8_t planarConfiguration = 0;
    int8_t pixelRepresentation = 0;

    // Transfer syntax families.
    bool isJpeg = false;
    bool isJpegLossless = false;
    bool isJpeg2000Lossless = false;
    bool isJpeg2000Lossy = false;

    // Photometric interpretation predicates, as the file object answers them
    // (defaults for a missing (0028,0004) included).
    bool isMonochrome1 = false;
    bool isMonochrome2 = false;
    bool isPaletteColor = false;
    bool isRGB = false;
    bool isARGB = false;
    bool isCMYK = false;
    bool isYBRFull = false;
    bool isYBRFull422 = false;
    bool isYBRPartial422 = false;
    bool isYBRICT = false;

    // Window and rescale as read from the file: the window integers of the
    // first top-level (0028,1050) and (0028,1051) (0 when missing).
    bool hasWindow = false;
    int32_t windowCenter = 0;
    int32_t windowWidth = 0;
    bool hasRescale = false;
    double rescaleIntercept = 0.0;
    double rescaleSlope = 1.0;

    // (0028,0120), (0028,0106)/(0028,0104), (0028,0107)/(0028,0105) by the
    // lookup rules of the range scan; empty when missing or unusable.
    std::optional<int32_t> pixelPaddingValue;
    std::optional<int32_t> smallestPixelValue;
    std::optional<int32_t> largestPixelValue;

    // Palette: entry count of the red LUT, the three LUTs reduced to one byte
    // per entry (empty: that colour has no LUT data), and the 256-entry
    // display palette (red, green, blue, 0) built from them.
    int32_t redLutEntries = 0;
    std::vector<uint8_t> redLut8, greenLut8, blueLut8;
    std::array<uint8_t, 256 * 4> displayPalette{};

    // Samples per pixel, 0 counted as 1.
    unsigned Samples() const { return samplesPerPixel > 0 ? unsigned(samplesPerPixel) : 1u; }
    // Pixels of one frame, Rows x Columns.
    uint64_t Pixels() const { return uint64_t(rows) * columns; }
};

FrameDescription DescribeFrames(const CDicomFile& file);

// Bytes of stored data: a view into a value the file object holds, or into a
// block read from the file for the caller.
struct ByteSpan {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

// Bytes of native frame i, read from the file into `storage` (in machine
// byte order). Empty when there is no such frame or it cannot be read.
ByteSpan NativeFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage);

// Frames that can be decoded at all: the announced frame count, limited to
// the frames whose blocks or fragments exist, so that a bogus Number of
// Frames costs nothing.
std::size_t FramesWithBytes(const CDicomFile& file);
