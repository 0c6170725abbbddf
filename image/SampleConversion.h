#pragma once
// Samples of one frame turned into what the display images hold: bytes per
// colour model, 16-bit values, the range of 16-bit data and the window.
// Reads only the frame description and the frame's bytes.
#include <cstdint>

#include "dicom/HeapBlock.h"
#include "image/FrameDescription.h"

// One byte per pixel (grey or palette index), three (R, G, B) or four
// (R, G, B, A for ARGB; C, M, Y converted and 0 for CMYK), rows without
// padding. Null for a missing source, Bits Allocated other than 8, an empty
// matrix, an unsupported photometric interpretation or no memory. A source
// shorter than the frame reads as if its missing bytes were 0; nothing past
// srcSize is read. Planar YBR_FULL_422 / YBR_PARTIAL_422 frames hold a Y
// plane of Rows x Columns bytes followed by a Cb and a Cr plane of
// Rows x ceil(Columns / 2) bytes each (one value per pair of pixels).
quillon::HeapPtr<uint8_t> ConvertFrameTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                             uint64_t& outSize);

// One 16-bit value per pixel (the frame's first Rows x Columns samples),
// from 8, packed 12 or 16 bits allocated. outSize is 2 x Rows x Columns. With an
// odd pixel count the last 12-bit sample comes from the first half of a
// three-byte group. Missing source bytes read as 0. Unsigned samples keep
// their stored bits; signed ones (Pixel Representation 1) with Bits Stored
// below 16 are sign-extended from bit (Bits Stored - 1), whatever the bits
// above it hold.
quillon::HeapPtr<uint16_t> ConvertFrameTo16Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                               uint64_t& outSize);

struct SampleRange {
    int32_t min;
    int32_t max;
    bool isSigned;
};

// Range of byteCount / 2 samples, signed when Pixel Representation > 0. A
// pixel padding value is left out of the range; otherwise the smallest and
// largest pixel values, when known, clamp the samples in place.
SampleRange ScanSampleRange16(const FrameDescription& d, uint16_t* samples, uint64_t byteCount);

// The bounds ScanSampleRange16 clamps 16-bit samples to, as values of the
// samples' sign; false when it clamps none (a padding value, no bounds, or
// both 0).
bool SampleClampBounds(const FrameDescription& d, int32_t& low, int32_t& high);

struct DisplayWindow {
    int32_t center;
    int32_t width;
};

// The window an image of that range is shown through: the file's window
// (through the rescale when there is one) kept inside the range, else the
// whole range.
DisplayWindow ComputeDisplayWindow(const FrameDescription& d, int32_t max, int32_t min);
// The same in 64 bits, for ranges of 32-bit samples: nothing clamped.
struct DisplayWindow64 {
    int64_t center;
    int64_t width;
};
DisplayWindow64 ComputeDisplayWindow64(const FrameDescription& d, int64_t max, int64_t min);

// --- samples the conversions above do not take as they are ---
// How a frame's samples reach the display conversions: as they are, or
// first reshaped by one of the functions below.
enum class SampleForm {
    Direct,        // 8, 12 and 16 bits as stored; colour of 8 bits
    Bits1,         // 1-bit grey, bits packed least significant first
    NarrowColour,  // colour samples of 16 or 32 bits
    WideGrey,      // grey samples of 32 bits, or floats of 32 or 64 bits
};
SampleForm SampleFormOf(const FrameDescription& d);

// 1-bit grey: one byte per pixel, 0 for a bit of 0 and 255 for a bit of 1
// (pixel k is bit k % 8 of byte k / 8). MONOCHROME1 is inverted where
// every grey image is. Missing bytes read as 0. Null without a source,
// pixels or memory.
quillon::HeapPtr<uint8_t> UnpackBitsTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                           uint64_t& outSize);

// Colour samples of 16 or 32 bits narrowed to their top 8 stored bits (Bits
// Stored counted from bit 0), in the same order and planes: the bytes of an
// 8-bit frame of the same colour model (NarrowedDescription).
quillon::HeapPtr<uint8_t> NarrowColourTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                             uint64_t& outSize);
// The description of samples reshaped to 8 bits (Bits1, NarrowColour).
FrameDescription NarrowedDescription(const FrameDescription& d);

// Grey samples of 32 bits (signed by Pixel Representation, narrower Bits
// Stored sign-extended or masked) or floats (FrameDescription::floatSamples)
// as unsigned 16-bit words, with the window and range to show them through.
// The range is the one the 16-bit conversion finds (without the padding
// value, clamped by the smallest and largest pixel values), the window the
// one it chooses (ComputeDisplayWindow64: the file's window through the
// rescale when it lies inside, else the range). A range of at most 65536
// integers is shifted to start at word 0, so the picture is the one the
// same samples give in 16 bits; a wider range (and any float range) is
// spread over 0..65535 and the window with it. Missing bytes read as 0,
// NaN as the range's low end. Null without a source, pixels or memory.
struct WideGreyWords {
    quillon::HeapPtr<uint16_t> words;
    uint64_t byteCount = 0;  // 2 x Rows x Columns
    DisplayWindow window{0, 0};
    int32_t max = 0;  // the range is 0..max in words
};
WideGreyWords ConvertWideGreyTo16Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize);

// Bits per pixel of the frame's display image, from the low 8 bits of Bits
// Allocated and the photometric interpretation.
int DisplayDepth(const FrameDescription& d);
