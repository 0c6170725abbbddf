#include "dicom/PixelDescription.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>

#include "dicom/DicomTag.h"
#include "dicom/TextUtil.h"

namespace quillon {

namespace {

constexpr uint32_t TagKey(uint16_t group, uint16_t element) { return uint32_t(group) << 16 | element; }

// Values are held little endian after the parse, whatever the file's order.
uint16_t Word(const uint8_t* bytes, unsigned index) { return uint16_t(bytes[2 * index] | bytes[2 * index + 1] << 8); }

// An unsigned count (Rows, Columns, Number of Frames) as a 32-bit field.
// GetIntValue reads a 2-byte "US" value as signed 16-bit, so 32768..65535
// would come back negative and turn into counts near 2^32; a "US" element
// holds 0..65535 and is taken as such.
uint32_t UnsignedCount(const CDicomTag& element) {
    const int32_t value = element.GetIntValue();
    if (element.m_vr.GetDeclaredVR() == u"US" && element.GetLength() == 2) return uint16_t(value);
    return uint32_t(value);
}

// Window Center / Width: the first value of an "IS" or "DS" text, any other VR gives 0.
int32_t WindowInteger(const CDicomTag& element) {
    const std::u16string& vr = element.m_vr.GetDeclaredVR();
    if (vr != u"IS" && vr != u"DS") return 0;
    HeapPtr<char> text = element.GetValueString();
    if (!text) return 0;
    return vr == u"IS" ? ParseISText(text.get()) : TruncateToInt32(ParseDSText(text.get()));
}

// The first value of an "IS" or "DS" text as it is written; 0 for any other VR.
double WindowNumber(const CDicomTag& element) {
    const std::u16string& vr = element.m_vr.GetDeclaredVR();
    if (vr != u"IS" && vr != u"DS") return 0.0;
    HeapPtr<char> text = element.GetValueString();
    if (!text) return 0.0;
    return vr == u"IS" ? double(ParseISText(text.get())) : ParseDSText(text.get());
}

bool IsPixelValueElement(const CDicomTag& element) {
    return element.m_group == 0x0028 && element.m_element >= 0x0104 && element.m_element <= 0x0111;
}

// Smallest/largest pixel values carry the VR that fits Pixel Representation:
// "SS" for a signed image, "US" for an unsigned one.
void CorrectPixelValueVR(CDicomTag& element, int8_t pixelRepresentation) {
    const bool isSigned = pixelRepresentation > 0;
    const std::u16string& vr = element.m_vr.GetVR();
    if (vr == u"US" && isSigned)
        element.SetVR(u"SS");
    else if (vr != u"SS" && !isSigned)
        element.SetVR(u"US");
}

// Applies one top-level pixel element or (0002,0010).
void ReadElement(CDicomTag& element, PixelDescription& pixel) {
    const CDicomTag& e = element;
    if (e.Is(tags::kTransferSyntaxUID)) {
        pixel.compression = CompressionForUID(e.GetValueText(u""));
        return;
    }
    if (e.m_group != 0x0028) return;
    if (IsPixelValueElement(e)) {
        CorrectPixelValueVR(element, pixel.pixelRepresentation);
        return;
    }
    switch (e.m_element) {
        case 0x0002: pixel.samplesPerPixel = int16_t(e.GetIntValue()); break;
        case 0x0006: pixel.planarConfiguration = int8_t(e.GetIntValue()); break;
        case 0x0008: pixel.numberOfFrames = UnsignedCount(e); break;
        case 0x0010: pixel.rows = UnsignedCount(e); break;
        case 0x0011: pixel.columns = UnsignedCount(e); break;
        case 0x0100: pixel.bitsAllocated = int16_t(e.GetIntValue()); break;
        case 0x0101: pixel.bitsStored = int16_t(e.GetIntValue()); break;
        case 0x0103: pixel.pixelRepresentation = int8_t(e.GetIntValue()); break;
        case 0x1050:
            pixel.hasWindow = true;
            pixel.windowCenter = WindowInteger(e);
            pixel.windowCenterValue = WindowNumber(e);
            break;
        case 0x1051:
            pixel.hasWindow = true;
            pixel.windowWidth = WindowInteger(e);
            pixel.windowWidthValue = WindowNumber(e);
            break;
        case 0x1052: {
            // A NaN compares unequal to everything, so it already counts as
            // "not 0"; isnan keeps that true whatever the floating-point mode.
            const double intercept = e.GetDSValue();
            pixel.rescaleIntercept = intercept;
            if (std::isnan(intercept) || intercept != 0.0) pixel.hasRescale = true;
            break;
        }
        case 0x1053: {
            double slope = e.GetDSValue();
            if (slope == 0.0) slope = 1.0;
            pixel.rescaleSlope = slope;
            if (std::isnan(slope) || slope != 1.0) pixel.hasRescale = true;
            break;
        }
        default: break;
    }
}

int32_t ClampToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

// Applies one LUT data element to its colour; false refuses the palette.
bool TakeLutData(PaletteLut& lut, const CDicomTag& element, bool countFromLength) {
    const uint32_t length = element.GetLength();
    if (length == 0 || length == kUndefinedLength || !element.HasValue()) return false;
    if (countFromLength && lut.entries == 0 && lut.bits != 0)
        lut.entries = ClampToInt32(int64_t(length) * 8 / lut.bits);
    if (lut.entries != 0 && int64_t(length) != int64_t(lut.entries) * lut.bits / 8) {
        const int64_t bits = int64_t(length) / lut.entries * 8;
        if (bits != 8 && bits != 16) return false;
        lut.bits = int16_t(bits);
    }
    std::vector<uint8_t> copy;
    try {
        copy.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!element.CopyValue(copy.data(), length)) return false;
    lut.data = std::move(copy);
    return true;
}

}  // namespace

Photometric PhotometricForText(std::u16string_view text) {
    static constexpr struct {
        std::u16string_view term;
        Photometric photometric;
    } kTerms[] = {
        {u"MONOCHROME1", Photometric::Monochrome1},
        {u"MONOCHROME2", Photometric::Monochrome2},
        {u"PALETTE COLOR", Photometric::PaletteColor},
        {u"RGB", Photometric::RGB},
        {u"ARGB", Photometric::ARGB},
        {u"CMYK", Photometric::CMYK},
        {u"YBR_FULL", Photometric::YBRFull},
        {u"YBR_FULL_422", Photometric::YBRFull422},
        {u"YBR_PARTIAL_422", Photometric::YBRPartial422},
        {u"YBR_ICT", Photometric::YBRICT},
    };
    const std::u16string_view trimmed = TrimSpace(text);
    for (const auto& known : kTerms)
        if (trimmed == known.term) return known.photometric;
    return Photometric::Other;
}

std::vector<uint8_t> PaletteLut::Lut8() const {
    if (data.empty() || entries <= 0) return {};
    const size_t count = size_t(entries);
    const size_t size = data.size();
    const uint8_t* in = data.data();
    std::vector<uint8_t> lut(count, 0);
    if (bits == 8) {
        std::memcpy(lut.data(), in, std::min(count, size));
    } else if (bits == 16) {
        // The high byte of each little-endian entry, unless all of them are
        // 0: then the entries are 8-bit values and the low bytes are taken.
        auto byteAt = [&](size_t i) -> uint8_t { return i < size ? in[i] : 0; };
        bool highBytesZero = true;
        for (size_t i = 0; i < count; ++i) {
            lut[i] = byteAt(2 * i + 1);
            if (lut[i]) highBytesZero = false;
        }
        if (highBytesZero)
            for (size_t i = 0; i < count; ++i) lut[i] = byteAt(2 * i);
    } else {
        for (size_t i = 0; i < count; ++i) lut[i] = uint8_t(i);
    }
    return lut;
}

bool PixelDescription::IsUncompressed(bool littleEndian) const {
    if (!littleEndian) return true;
    return syntaxFamily == Compression::None || syntaxFamily == Compression::Unknown;
}

bool PixelDescription::IsRGB() const {
    return photometric == Photometric::Absent ? samplesPerPixel == 3 : photometric == Photometric::RGB;
}

bool PixelDescription::IsARGB() const {
    return photometric == Photometric::Absent ? samplesPerPixel == 4 : photometric == Photometric::ARGB;
}

// Without (0028,0004), samples are compared as unsigned here and as signed
// for MONOCHROME2.
bool PixelDescription::IsPaletteColor() const {
    if (photometric != Photometric::Absent) return photometric == Photometric::PaletteColor;
    return uint16_t(samplesPerPixel) < 2 && !blue.data.empty();
}

bool PixelDescription::IsMonochrome2() const {
    if (photometric != Photometric::Absent) return photometric == Photometric::Monochrome2;
    if (bitsAllocated == 0) return false;
    if (bitsAllocated > 8) return true;
    return samplesPerPixel < 2 && blue.data.empty();
}

namespace {

uint64_t Saturated(unsigned __int128 value) { return value > UINT64_MAX ? UINT64_MAX : uint64_t(value); }

// Up to 2^32 x 2^32 x 2^16 x 2^16 bits: exact in 128 bits, then saturated,
// so that an impossible frame size can never wrap around to a small one.
unsigned __int128 FrameBits128(const PixelDescription& p) {
    // Bits Allocated and Samples per Pixel are unsigned 16-bit in the file.
    const uint64_t samples = p.samplesPerPixel == 0 ? 1 : uint64_t(uint16_t(p.samplesPerPixel));
    const uint64_t bits = uint64_t(uint16_t(p.bitsAllocated));
    return (unsigned __int128)p.rows * p.columns * bits * samples;
}

}  // namespace

uint64_t PixelDescription::NativeFrameSize() const {
    const unsigned __int128 bits = FrameBits128(*this);
    // Packed bits: the bytes they fill, the last one perhaps in part.
    if (BitPackedFrames()) return Saturated((bits + 7) / 8);
    unsigned __int128 size = bits / 8;
    if (IsYBRFull422()) size = 2 * size / 3;
    return Saturated(size);
}

uint64_t PixelDescription::NativeFrameBits() const { return Saturated(FrameBits128(*this)); }

uint64_t PixelDescription::NativeFramesSize(uint64_t frames) const {
    if (BitPackedFrames()) {
        const unsigned __int128 bits = FrameBits128(*this);
        // Beyond 2^64 bytes the product saturates anyway; keep it in 128 bits.
        if (bits > UINT64_MAX || frames > UINT64_MAX / 2) return frames && bits ? UINT64_MAX : 0;
        const unsigned __int128 total = bits * frames;
        return Saturated((total + 7) / 8);
    }
    const unsigned __int128 total = (unsigned __int128)NativeFrameSize() * frames;
    return Saturated(total);
}

void PixelDescription::BuildDisplayPalette(uint8_t palette[256 * 4]) const {
    const std::vector<uint8_t> luts[3] = {red.Lut8(), green.Lut8(), blue.Lut8()};
    for (size_t i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) palette[4 * i + c] = i < luts[c].size() ? luts[c][i] : 0;
        palette[4 * i + 3] = 0;
    }
}

void LoadPixelDescription(const TagList& elements, PixelDescription& pixel) {
    pixel.compression = Compression::None;
    pixel.photometric = Photometric::Absent;
    pixel.syntaxFamily = Compression::None;
    // Only the first top-level element with a tag counts, as everywhere else.
    // A repeated pixel-value element still gets its VR corrected, so that
    // every element in the tree is shown consistently.
    std::unordered_set<uint32_t> seen;
    bool scanning = true, photometricFound = false, syntaxFound = false;
    for (const auto& slot : elements) {
        CDicomTag* element = slot.get();
        if (!element) continue;
        if (!photometricFound && element->Is(tags::kPhotometricInterpretation)) {
            photometricFound = true;
            pixel.photometric = PhotometricForText(element->GetValueText(u""));
        }
        if (!syntaxFound && element->Is(tags::kTransferSyntaxUID)) {
            syntaxFound = true;
            pixel.syntaxFamily = CompressionForUID(element->GetValueText(u""));
        }
        if (element->m_group > 0x0028) scanning = false;
        if (!scanning) {
            if (photometricFound && syntaxFound) break;
            continue;
        }
        if (seen.insert(TagKey(element->m_group, element->m_element)).second)
            ReadElement(*element, pixel);
        else if (IsPixelValueElement(*element))
            CorrectPixelValueVR(*element, pixel.pixelRepresentation);
    }
    if (pixel.numberOfFrames == 0 && pixel.rows != 0) pixel.numberOfFrames = 1;
}

bool LoadPaletteLuts(const TagList& elements, PixelDescription& pixel) {
    PaletteLut* const colours[3] = {&pixel.red, &pixel.green, &pixel.blue};
    for (const auto& slot : elements) {
        const CDicomTag* element = slot.get();
        if (!element || element->m_group != 0x0028) continue;
        const uint16_t tag = element->m_element;
        if (tag >= 0x1101 && tag <= 0x1103) {
            // Descriptor: entries, first mapped value (not kept), bits per entry.
            PaletteLut& lut = *colours[tag - 0x1101];
            if (element->GetLength() != 6 || !element->GetData()) return false;
            lut.entries = Word(element->GetData(), 0);
            lut.bits = int16_t(Word(element->GetData(), 2));
        } else if (tag >= 0x1201 && tag <= 0x1203) {
            if (!TakeLutData(*colours[tag - 0x1201], *element, true)) return false;
        } else if ((tag >= 0x1211 && tag <= 0x1213) || (tag >= 0x1221 && tag <= 0x1223)) {
            // Large and segmented palette data: stored as found, never expanded.
            if (!TakeLutData(*colours[(tag & 0x000F) - 1], *element, false)) return false;
        }
    }
    return pixel.red.entries == pixel.green.entries && pixel.green.entries == pixel.blue.entries;
}

}  // namespace quillon
