#include "dicom/PixelModule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "dicom/DicomTag.h"
#include "dicom/TransferSyntax.h"

using quillon::AllocBlock;
using quillon::HeapPtr;

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

bool IsPixelValueElement(const CDicomTag& element) {
    return element.m_group == 0x0028 && element.m_element >= 0x0104 && element.m_element <= 0x0111;
}

// One colour's palette fields, so that the three colours share one code path.
struct LutFields {
    int32_t& entries;
    int16_t& bits;
    HeapPtr<uint8_t>& data;
    uint32_t& size;
};

int32_t ClampToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

// Applies one LUT data element to its colour; false refuses the palette.
bool TakeLutData(LutFields lut, const CDicomTag& element, bool countFromLength) {
    const uint32_t length = element.GetLength();
    if (length == 0 || length == kUndefinedLength || !element.HasValue()) return false;
    if (countFromLength && lut.entries == 0 && lut.bits != 0)
        lut.entries = ClampToInt32(int64_t(length) * 8 / lut.bits);
    if (lut.entries != 0 && int64_t(length) != int64_t(lut.entries) * lut.bits / 8) {
        const int64_t bits = int64_t(length) / lut.entries * 8;
        if (bits != 8 && bits != 16) return false;
        lut.bits = int16_t(bits);
    }
    HeapPtr<uint8_t> copy(static_cast<uint8_t*>(AllocBlock(length)));
    if (!copy || !element.CopyValue(copy.get(), length)) return false;
    lut.data = std::move(copy);
    lut.size = length;
    return true;
}

// One byte per entry. Bytes that the array does not hold read as 0, so that
// a descriptor announcing more entries than were stored (or 16-bit data of
// an odd length) never reads past the array.
HeapPtr<uint8_t> Lut8(int32_t entries, int16_t bits, const HeapPtr<uint8_t>& data, uint32_t size) {
    if (!data) return nullptr;
    const size_t count = entries > 0 ? size_t(entries) : 0;
    HeapPtr<uint8_t> out(static_cast<uint8_t*>(AllocBlock(count)));
    if (!out) return nullptr;
    const uint8_t* in = data.get();
    uint8_t* lut = out.get();
    if (bits == 8) {
        const size_t stored = std::min<size_t>(count, size);
        if (stored) std::memcpy(lut, in, stored);
        if (count > stored) std::memset(lut + stored, 0, count - stored);
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
    return out;
}

}  // namespace

CPixelModule::~CPixelModule() = default;

void CPixelModule::ClearPixelModule() {
    m_numberOfFrames = m_rows = m_columns = 0;
    m_bitsAllocated = m_bitsStored = m_samplesPerPixel = 0;
    m_compressionName.clear();
    m_planarConfiguration = m_pixelRepresentation = 0;
    m_redLutEntries = m_greenLutEntries = m_blueLutEntries = 0;
    m_redLutBits = m_greenLutBits = m_blueLutBits = 0;
    m_redLut.reset();
    m_greenLut.reset();
    m_blueLut.reset();
    m_redLutSize = m_greenLutSize = m_blueLutSize = 0;
    m_hasWindow = false;
    m_windowCenter = m_windowWidth = 0;
    m_hasRescale = false;
    m_rescaleIntercept = 0.0;
    m_rescaleSlope = 0.0;
}

void CPixelModule::LoadPixelModule(const TagList& elements) {
    m_compressionName = "NONE";
    // Only the first top-level element with a tag counts, as everywhere else
    // (the transfer syntax and photometric tests use the first one too). A
    // repeated pixel-value element still gets its VR corrected, so that every
    // element in the tree is shown consistently.
    std::unordered_set<uint32_t> seen;
    for (const auto& slot : elements) {
        CDicomTag* element = slot.get();
        if (!element) continue;
        if (element->m_group > 0x0028) break;
        if (seen.insert(TagKey(element->m_group, element->m_element)).second)
            ReadPixelModuleElement(element);
        else if (IsPixelValueElement(*element))
            CorrectPixelValueVR(element);
    }
    if (m_numberOfFrames == 0 && m_rows != 0) m_numberOfFrames = 1;
}

void CPixelModule::ReadPixelModuleElement(CDicomTag* element) {
    if (!element) return;
    const CDicomTag& e = *element;
    if (e.Is(0x0002, 0x0010)) {
        // CompressionNameForUID trims the text and gives "UNKNOWN" for an empty or unlisted UID.
        m_compressionName = CompressionNameForUID(e.GetValueText(u""));
        return;
    }
    if (e.m_group != 0x0028) return;
    if (IsPixelValueElement(e)) {
        CorrectPixelValueVR(element);
        return;
    }
    switch (e.m_element) {
        case 0x0002: m_samplesPerPixel = int16_t(e.GetIntValue()); break;
        case 0x0006: m_planarConfiguration = int8_t(e.GetIntValue()); break;
        case 0x0008: m_numberOfFrames = UnsignedCount(e); break;
        case 0x0010: m_rows = UnsignedCount(e); break;
        case 0x0011: m_columns = UnsignedCount(e); break;
        case 0x0100: m_bitsAllocated = int16_t(e.GetIntValue()); break;
        case 0x0101: m_bitsStored = int16_t(e.GetIntValue()); break;
        case 0x0103: m_pixelRepresentation = int8_t(e.GetIntValue()); break;
        case 0x1050:
            m_hasWindow = true;
            m_windowCenter = WindowInteger(e);
            break;
        case 0x1051:
            m_hasWindow = true;
            m_windowWidth = WindowInteger(e);
            break;
        case 0x1052: {
            // A NaN compares unequal to everything, so it already counts as
            // "not 0"; isnan keeps that true whatever the floating-point mode.
            const double intercept = e.GetDSValue();
            m_rescaleIntercept = intercept;
            if (std::isnan(intercept) || intercept != 0.0) m_hasRescale = true;
            break;
        }
        case 0x1053: {
            double slope = e.GetDSValue();
            if (slope == 0.0) slope = 1.0;
            m_rescaleSlope = slope;
            if (std::isnan(slope) || slope != 1.0) m_hasRescale = true;
            break;
        }
        default: break;
    }
}

// Smallest/largest pixel values carry the VR that fits Pixel Representation:
// "SS" for a signed image, "US" for an unsigned one.
void CPixelModule::CorrectPixelValueVR(CDicomTag* element) const {
    const bool isSigned = m_pixelRepresentation > 0;
    const std::u16string& vr = element->m_vr.GetVR();
    if (vr == u"US" && isSigned)
        element->SetVR(u"SS");
    else if (vr != u"SS" && !isSigned)
        element->SetVR(u"US");
}

bool CPixelModule::LoadPaletteLuts(const TagList& elements) {
    LutFields red{m_redLutEntries, m_redLutBits, m_redLut, m_redLutSize};
    LutFields green{m_greenLutEntries, m_greenLutBits, m_greenLut, m_greenLutSize};
    LutFields blue{m_blueLutEntries, m_blueLutBits, m_blueLut, m_blueLutSize};
    LutFields* const colours[3] = {&red, &green, &blue};

    for (const auto& slot : elements) {
        const CDicomTag* element = slot.get();
        if (!element || element->m_group != 0x0028) continue;
        const uint16_t tag = element->m_element;
        if (tag >= 0x1101 && tag <= 0x1103) {
            // Descriptor: entries, first mapped value (not kept), bits per entry.
            LutFields& lut = *colours[tag - 0x1101];
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
    return m_redLutEntries == m_greenLutEntries && m_greenLutEntries == m_blueLutEntries;
}

HeapPtr<uint8_t> CPixelModule::GetRedLut8() const {
    return Lut8(m_redLutEntries, m_redLutBits, m_redLut, m_redLutSize);
}

HeapPtr<uint8_t> CPixelModule::GetGreenLut8() const {
    return Lut8(m_greenLutEntries, m_greenLutBits, m_greenLut, m_greenLutSize);
}

HeapPtr<uint8_t> CPixelModule::GetBlueLut8() const {
    return Lut8(m_blueLutEntries, m_blueLutBits, m_blueLut, m_blueLutSize);
}

void CPixelModule::BuildDisplayPalette(uint8_t palette[256 * 4]) const {
    const HeapPtr<uint8_t> luts[3] = {GetRedLut8(), GetGreenLut8(), GetBlueLut8()};
    const int32_t entries[3] = {m_redLutEntries, m_greenLutEntries, m_blueLutEntries};
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) palette[4 * i + c] = luts[c] && i < entries[c] ? luts[c].get()[i] : 0;
        palette[4 * i + 3] = 0;
    }
}

uint64_t CPixelModule::NativeFrameSize(bool ybrFull422) const {
    // Bits Allocated and Samples per Pixel are unsigned 16-bit in the file.
    const uint64_t samples = m_samplesPerPixel == 0 ? 1 : uint64_t(uint16_t(m_samplesPerPixel));
    const uint64_t bits = uint64_t(uint16_t(m_bitsAllocated));
    // Up to 2^32 x 2^32 x 2^16 x 2^16 bits: exact in 128 bits, then saturated,
    // so that an impossible frame size can never wrap around to a small one.
    unsigned __int128 size = (unsigned __int128)m_rows * m_columns * bits * samples / 8;
    if (ybrFull422) size = 2 * size / 3;
    return size > UINT64_MAX ? UINT64_MAX : uint64_t(size);
}
