// CDicomTag::GetValueText: an element's value as the text shown to the user.
#include <cstdio>
#include <cstring>
#include <string>

#include "dicom/CharacterSet.h"
#include "dicom/DicomTag.h"
#include "dicom/DicomVR.h"

namespace {

constexpr uint32_t kLongTextLength = 128;
// A number list of a value left in the file is made of its first bytes only,
// and ends in "..." when there were more.
constexpr uint64_t kNumberListBytes = 1024 * 1024;
constexpr char16_t kLongSizeData[] = u"(Long Size Data)";
constexpr char16_t kFrameData[] = u"(Frame Data)";
constexpr char16_t kSequenceData[] = u"(Sequence Data)";

void AppendAscii(std::u16string& out, const char* text) {
    for (; *text; ++text) out.push_back(char16_t(static_cast<unsigned char>(*text)));
}

std::u16string FormatInt(const char* format, long long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    std::u16string out;
    AppendAscii(out, buf);
    return out;
}

// The value read as consecutive numbers of type T in the machine's byte order,
// each printed with `format` (which ends in a blank), joined by backslashes.
// A trailing part shorter than one number is ignored.
template <class T, class Printed>
std::u16string NumberList(const uint8_t* data, uint32_t length, const char* format) {
    std::u16string out;
    if (!data) return out;
    const uint32_t count = length / sizeof(T);
    out.reserve(size_t(count) * 8);
    // Room for the widest "%f" of a double (about 320 characters).
    char buf[400];
    for (uint32_t i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, data + size_t(i) * sizeof(T), sizeof(T));
        std::snprintf(buf, sizeof buf, format, static_cast<Printed>(value));
        if (i) out.push_back(u'\\');
        AppendAscii(out, buf);
    }
    return out;
}

// Values shown as text are decoded up to their first NUL byte.
std::u16string DecodedValue(const CDicomTag& tag, std::u16string_view charsetTerm) {
    if (!tag.GetData()) return {};
    const auto text = tag.GetValueString();
    return text ? DecodeText(text.get(), charsetTerm) : std::u16string();
}

std::u16string ShortTextOrPlaceholder(const CDicomTag& tag, uint32_t length, std::u16string_view charsetTerm) {
    return length < kLongTextLength ? DecodedValue(tag, charsetTerm) : std::u16string(kLongSizeData);
}

}  // namespace

std::u16string CDicomTag::GetValueText(std::u16string_view charsetTerm) const {
    try {
        // Text is shown from the normalised copy: the whole value, with its padding.
        uint32_t length = uint32_t(GetNormalizedLength());
        if (length == 0) return {};
        const uint8_t* data = m_tagData.m_data.get();
        // A value in the file is read only where its text needs the bytes: a
        // number list (from its first bytes) and the first tag of an AT.
        SValueBytes read;
        bool cut = false;
        const std::u16string& effective = m_vr.GetVR();
        if (!data && IsValueInSource() && effective.size() == 2 && !IsTextVR(m_vr.GetDeclaredVR())) {
            const bool numbers = effective == u"US" || effective == u"SS" || effective == u"UL" || effective == u"SL" ||
                                 effective == u"FL" || effective == u"FD" || effective == u"AT";
            if (numbers) {
                read = ValueBytes(kNumberListBytes);
                if (!read) return {};
                data = read.data;
                cut = length > kNumberListBytes;
                length = uint32_t(read.size);
            }
        }
        std::u16string text = ValueTextOf(data, length, charsetTerm);
        if (cut) text += u"...";
        return text;
    } catch (...) {
        return {};
    }
}

std::u16string CDicomTag::ValueTextOf(const uint8_t* data, uint32_t length, std::u16string_view charsetTerm) const {
    try {
        const std::u16string& vr = m_vr.GetVR();
        const std::u16string& declared = m_vr.GetDeclaredVR();

        // No VR known at all: short values that do not look like text are numbers.
        if (vr.empty()) {
            if (length == 1 || length == 2 || length == 4 || length == 8) {
                if (!data) return {};
                for (uint32_t i = 0; i < length; ++i) {
                    if (data[i] < 0x20 || data[i] > 0xC8) return FormatInt("%lld", GetIntValue());
                }
            }
            return ShortTextOrPlaceholder(*this, length, charsetTerm);
        }

        // Text VRs, unknown codes, and inferred VRs (empty declared VR).
        if (IsTextVR(declared)) {
            if (vr == u"OB" || vr == u"OW" || vr == u"SQ")
                return Is(quillon::tags::kPixelData) ? kFrameData : kSequenceData;
            return ShortTextOrPlaceholder(*this, length, charsetTerm);
        }

        // A binary VR was declared, so it is the effective VR too.
        if (vr == u"US") return NumberList<uint16_t, int>(data, length, "%d ");
        if (vr == u"SS") return NumberList<int16_t, int>(data, length, "%d ");
        if (vr == u"UL") return NumberList<uint32_t, unsigned>(data, length, "%u ");
        if (vr == u"SL") return NumberList<int32_t, int>(data, length, "%d ");
        if (vr == u"FL") return NumberList<float, double>(data, length, "%f ");
        if (vr == u"FD") return NumberList<double, double>(data, length, "%f ");
        if (vr == u"AT") {
            // Only the first tag; a value shorter than one tag shows nothing.
            if (!data || length < 4) return {};
            uint32_t v;
            std::memcpy(&v, data, sizeof v);
            char buf[24];
            std::snprintf(buf, sizeof buf, "%04X, %04X", v & 0xFFFFu, v >> 16);
            std::u16string out;
            AppendAscii(out, buf);
            return out;
        }
        if (vr == u"SQ") return kSequenceData;
        if (vr == u"OB" || vr == u"OW") return FormatInt("%lld", GetIntValue());
        return {};
    } catch (...) {
        return {};
    }
}
