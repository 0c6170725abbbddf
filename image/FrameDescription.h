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
#include <vector>

#include "dicom/HeapBlock.h"
#include "dicom/PixelDescription.h"

class CDicomFile;

struct FrameDescription {
    // The pixel description of the file. The codecs' output views change the
    // planar configuration in their copy.
    quillon::PixelDescription pixel;

    // Codec output whose YCbCr samples the codec turned into RGB: the colour
    // models below answer as for RGB samples; grey, palette and the four-sample
    // models answer as the pixel description says.
    bool colourConverted = false;
    bool IsRGB() const { return colourConverted || pixel.IsRGB(); }
    bool IsYBRFull() const { return !colourConverted && pixel.IsYBRFull(); }
    bool IsYBRFull422() const { return !colourConverted && pixel.IsYBRFull422(); }
    bool IsYBRPartial422() const { return !colourConverted && pixel.IsYBRPartial422(); }
    bool IsYBRICT() const { return !colourConverted && pixel.IsYBRICT(); }

    // The samples are IEEE floats of Bits Allocated bits (32: Float Pixel
    // Data, 64: Double Float Pixel Data).
    bool floatSamples = false;
    // Native frames read from a big-endian data set whose pixel data is OW:
    // the parse turned 16-bit words around, so a 32-bit sample still holds
    // its two words in big-endian order.
    bool wordsSwapped = false;

    // (0028,0120), (0028,0106)/(0028,0104), (0028,0107)/(0028,0105) by the
    // lookup rules of the range scan; empty when missing or unusable.
    std::optional<int32_t> pixelPaddingValue;
    std::optional<int32_t> smallestPixelValue;
    std::optional<int32_t> largestPixelValue;

    // Palette: the three LUTs reduced to one byte per entry (empty: that
    // colour has no LUT data), and the 256-entry display palette (red, green,
    // blue, 0) built from them.
    std::vector<uint8_t> redLut8, greenLut8, blueLut8;
    std::array<uint8_t, 256 * 4> displayPalette{};

    // Samples per pixel, 0 counted as 1.
    unsigned Samples() const { return pixel.Samples(); }
    // Pixels of one frame, Rows x Columns.
    uint64_t Pixels() const { return pixel.Pixels(); }
};

FrameDescription DescribeFrames(const CDicomFile& file);

// Bytes of stored data: a view into a value the file object holds, or into a
// block read from the file for the caller.
struct ByteSpan {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

// Bytes of native frame i, read from the file into `storage` (in machine
// byte order; the samples a short value lacks as 0). Empty when there is no
// such frame, it starts past the end of the value, or it cannot be read.
ByteSpan NativeFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage);

// Frames that can be decoded at all: the announced frame count, limited to
// the frames whose blocks or fragments exist, so that a bogus Number of
// Frames costs nothing.
std::size_t FramesWithBytes(const CDicomFile& file);
