#pragma once
// The image pixel description of a data set as a plain value: matrix, samples,
// frames, photometric interpretation, compression, window, rescale and the
// palette colour tables. Copies are independent, so that whoever decodes
// frames can keep its own.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "dicom/TransferSyntax.h"

class CDicomTag;
using TagList = std::vector<std::unique_ptr<CDicomTag>>;

namespace quillon {

// Photometric Interpretation (0028,0004): the terms this viewer knows, Absent
// when the data set has no such element and Other for any other text (an empty
// one included).
enum class Photometric {
    Absent,
    Other,
    Monochrome1,
    Monochrome2,
    PaletteColor,
    RGB,
    ARGB,
    CMYK,
    YBRFull,
    YBRFull422,
    YBRPartial422,
    YBRICT,
};

// The term of a value text: white space around it does not matter, letter
// case does ("monochrome2" is Other).
Photometric PhotometricForText(std::u16string_view text);

// One colour's palette lookup table.
struct PaletteLut {
    int32_t entries = 0;        // from the descriptor, or counted from the data
    int16_t bits = 0;           // bits per entry
    std::vector<uint8_t> data;  // the LUT data as stored (little endian); empty: none

    // One byte per entry (empty without data or entries): 8-bit entries as
    // they are, 16-bit entries by their high bytes (their low bytes when every
    // high byte is 0), other sizes an identity ramp. Entries the data does not
    // hold read as 0.
    std::vector<uint8_t> Lut8() const;
};

struct PixelDescription {
    uint32_t numberOfFrames = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    int16_t bitsAllocated = 0;
    int16_t bitsStored = 0;
    int16_t samplesPerPixel = 0;
    int8_t planarConfiguration = 0;
    int8_t pixelRepresentation = 0;
    Photometric photometric = Photometric::Absent;
    // The compression that is shown (CompressionName) and that decides which
    // decoder reads the frames: that of (0002,0010) as the scan of the pixel
    // elements finds it (None without one, Unknown for an empty or unlisted UID).
    Compression compression = Compression::None;
    // The transfer syntax family that the predicates IsRLE() .. IsUncompressed()
    // answer: the compression of the first top-level (0002,0010) wherever it
    // lies. It differs from `compression` only when that element comes after
    // an element of a group above 0028, where the scan stops.
    Compression syntaxFamily = Compression::None;

    // Window Center / Width: the integer of the first value (0 when not IS or DS).
    bool hasWindow = false;
    int32_t windowCenter = 0;
    int32_t windowWidth = 0;
    // The same first values as numbers, not made integers (0 when not IS or
    // DS): what float samples are windowed with.
    double windowCenterValue = 0.0;
    double windowWidthValue = 0.0;
    // Rescale: hasRescale when the intercept is not 0 or the slope not 1 (a
    // slope of 0 is taken as 1).
    bool hasRescale = false;
    double rescaleIntercept = 0.0;
    double rescaleSlope = 1.0;

    // Filled only for PALETTE COLOR images.
    PaletteLut red, green, blue;

    // --- transfer syntax families (syntaxFamily) ---
    bool IsRLE() const { return syntaxFamily == Compression::RLE; }
    bool IsJPEG() const { return syntaxFamily == Compression::JPEG; }
    bool IsJPEGLossless() const { return syntaxFamily == Compression::JPEGLossless; }
    bool IsJPEGLSLossless() const { return syntaxFamily == Compression::JPEGLSLossless; }
    bool IsJPEGLSLossy() const { return syntaxFamily == Compression::JPEGLSLossy; }
    bool IsJPEG2000Lossless() const { return syntaxFamily == Compression::JPEG2000Lossless; }
    bool IsJPEG2000Lossy() const { return syntaxFamily == Compression::JPEG2000Lossy; }
    // Native pixel data: always in a big-endian data set; otherwise unless the
    // family is a compressed one (an unknown UID, an empty one
    // and none at all are read as native data).
    bool IsUncompressed(bool littleEndian) const;

    // --- photometric interpretation; without (0028,0004) the answers follow
    // the samples per pixel, the bits allocated and the blue palette data ---
    bool IsRGB() const;
    bool IsCMYK() const { return photometric == Photometric::CMYK; }
    bool IsARGB() const;
    bool IsYBRFull() const { return photometric == Photometric::YBRFull; }
    bool IsYBRFull422() const { return photometric == Photometric::YBRFull422; }
    bool IsYBRPartial422() const { return photometric == Photometric::YBRPartial422; }
    bool IsYBRICT() const { return photometric == Photometric::YBRICT; }
    bool IsPaletteColor() const;
    bool IsMonochrome1() const { return photometric == Photometric::Monochrome1; }
    bool IsMonochrome2() const;
    bool IsMonochrome() const { return IsMonochrome1() || IsMonochrome2(); }

    // Samples per pixel, 0 counted as 1.
    unsigned Samples() const { return samplesPerPixel > 0 ? unsigned(samplesPerPixel) : 1u; }
    // Pixels of one frame, Rows x Columns.
    uint64_t Pixels() const { return uint64_t(rows) * columns; }
    // Bytes of one native frame: Rows x Columns x Bits Allocated x Samples / 8
    // (2/3 of that for YBR_FULL_422), computed without overflow and saturated.
    uint64_t NativeFrameSize() const;
    // 1-bit samples are packed across frames: frame k starts at bit
    // k x NativeFrameBits() of the value, so a frame whose bits are not a
    // whole number of bytes shares a byte with the next. NativeFrameSize() is
    // then the bytes one frame's bits fill from bit 0.
    bool BitPackedFrames() const { return bitsAllocated == 1; }
    // Bits of one native frame, Rows x Columns x Bits Allocated x Samples
    // (saturated).
    uint64_t NativeFrameBits() const;
    // Bytes of `frames` native frames one after the other: for bit-packed
    // frames the bytes their bits fill together (saturated).
    uint64_t NativeFramesSize(uint64_t frames) const;
    // 256 entries of 4 bytes (red, green, blue, 0) from the three LUTs; 0 where
    // a LUT has no entry.
    void BuildDisplayPalette(uint8_t palette[256 * 4]) const;
};

// Reads the description from the top-level elements: the pixel elements and
// (0002,0010) up to the first element of a group above 0028, of each tag the
// first; the photometric interpretation and the transfer syntax family from
// the first top-level element of their tag, wherever it lies. These three are
// set afresh; the other fields keep their value when their element is not
// found, because the loader reads the description over the same elements at
// the Pixel Data element and again at the end. The smallest/largest pixel value elements (0028,0104)..(0028,0111) get
// the VR of the Pixel Representation as read so far: "SS" for a signed image,
// "US" for an unsigned one.
void LoadPixelDescription(const TagList& elements, PixelDescription& pixel);

// Reads the palette descriptors and LUT data of the top-level elements (all
// of them); false when they are unusable or the three entry counts differ.
bool LoadPaletteLuts(const TagList& elements, PixelDescription& pixel);

}  // namespace quillon
