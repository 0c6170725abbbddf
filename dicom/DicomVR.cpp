#include "dicom/DicomVR.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const std::u16string kCS = u"CS";

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Reads an optionally signed decimal integer the way a "%d" scan does
// (leading white space skipped), saturating at the 32-bit range instead of
// overflowing. Returns 0 when no digits follow.
int32_t ScanInt(const char* s, const char* end) {
    while (s < end && (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\v' || *s == '\f')) ++s;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        negative = *s == '-';
        ++s;
    }
    int64_t value = 0;
    bool any = false;
    while (s < end && IsDigit(uint8_t(*s))) {
        any = true;
        if (value < (int64_t(1) << 33)) value = value * 10 + (*s - '0');
        ++s;
    }
    if (!any) return 0;
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

int32_t ScanInt(const char* s) { return ScanInt(s, s + std::strlen(s)); }

// A "%d" scan of a fixed slice of the value (a field beyond the end reads 0).
int32_t ScanField(const uint8_t* v, uint32_t count, uint32_t from, uint32_t len) {
    if (from >= count) return 0;
    uint32_t n = std::min(len, count - from);
    char buf[8] = {};
    std::memcpy(buf, v + from, n);
    return ScanInt(buf, buf + n);
}

}  // namespace

CDicomVR::~CDicomVR() = default;

namespace {

// Every two-letter upper-case code, interned once: the VR read with each
// element of an explicit VR file is then taken without hashing it.
const quillon::InternedText& TwoLetterVR(char16_t first, char16_t second) {
    static const auto codes = [] {
        std::array<quillon::InternedText, 26 * 26> all;
        for (int a = 0; a < 26; ++a)
            for (int b = 0; b < 26; ++b) {
                const char16_t code[2] = {char16_t(u'A' + a), char16_t(u'A' + b)};
                all[a * 26 + b] = std::u16string_view(code, 2);
            }
        return all;
    }();
    return codes[(first - u'A') * 26 + (second - u'A')];
}

}  // namespace

void CDicomVR::SetVR(std::u16string_view vr) {
    auto isUpper = [](char16_t c) { return c >= u'A' && c <= u'Z'; };
    if (vr.size() == 2 && isUpper(vr[0]) && isUpper(vr[1])) {
        m_declaredVR = TwoLetterVR(vr[0], vr[1]);
        return;
    }
    std::u16string upper;
    for (char16_t c : vr) {
        if (c == 0) break;
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
        upper.push_back(c);
    }
    m_declaredVR = upper;
}

const std::u16string& CDicomVR::GetVRGuessing(const uint8_t* value, uint32_t length, bool longForm) {
    if (!m_declaredVR.empty()) return m_declaredVR;
    if (m_guessedVR.empty()) GuessVR(value, length, longForm);
    return m_guessedVR;
}

const std::u16string& CDicomVR::GetVRGuessingLarge(uint32_t length, bool longForm, bool binary) {
    if (!m_declaredVR.empty()) return m_declaredVR;
    if (m_guessedVR.empty()) m_guessedVR = length == 0xFFFFFFFFu ? u"SQ" : GuessFromSize(length, longForm, binary);
    return m_guessedVR;
}

// The guess for a long-form value, or a short-form one of 65 bytes and more:
// it needs only the length and whether some byte is not text.
std::u16string CDicomVR::GuessFromSize(uint32_t count, bool longForm, bool binary) {
    if (longForm) return binary ? u"OB" : u"UT";
    if (count <= 1023) return u"ST";
    if (count <= 10239) return u"LT";
    return kCS;
}

void CDicomVR::GuessVR(const uint8_t* v, uint32_t count, bool longForm) {
    m_guessedVR = kCS;
    if (!v || count == 0) return;
    if (count == 0xFFFFFFFFu) {
        m_guessedVR = u"SQ";
        return;
    }
    if (longForm || count >= 65) {
        bool binary = false;
        for (uint32_t i = 0; longForm && i < count && !binary; ++i) binary = v[i] < 0x20 || v[i] > 0xC0;
        m_guessedVR = GuessFromSize(count, longForm, binary);
        return;
    }
    if (count == 1 || count == 2 || count == 4 || count == 8) {
        bool nonPrintable = false, hasSpace = false, allDigits = true;
        for (uint32_t i = 0; i < count; ++i) {
            if (v[i] < 0x20 || v[i] > 0xC0) nonPrintable = true;
            if (v[i] == 0x20)
                hasSpace = true;
            else if (!IsDigit(v[i]))
                allDigits = false;
        }
        if (count == 4 && (IsDigit(v[0]) || v[0] == ' ') && (IsDigit(v[1]) || v[1] == ' ') &&
            (IsDigit(v[2]) || v[2] == ' ') && std::strchr("DWMYdwmy", v[3]) && v[3] != 0) {
            m_guessedVR = u"AS";
            return;
        }
        if (count == 1) return;
        if (count == 2 || count == 4) {
            if (nonPrintable) {
                // A signed integer of the value's size, in the machine's byte order.
                int32_t n;
                if (count == 2) {
                    int16_t n16;
                    std::memcpy(&n16, v, 2);
                    n = n16;
                    m_guessedVR = n < 0 ? u"SS" : u"US";
                } else {
                    std::memcpy(&n, v, 4);
                    m_guessedVR = n < 0 ? u"SL" : u"UL";
                }
            } else {
                m_guessedVR = allDigits ? u"IS" : u"CS";
            }
            return;
        }
        // count == 8
        if (nonPrintable) {
            m_guessedVR = u"FD";
            return;
        }
        if (hasSpace) {
            m_guessedVR = allDigits ? u"IS" : u"CS";
            return;
        }
        if (!allDigits) return;
        int32_t year = ScanField(v, count, 0, 4);
        int32_t month = ScanField(v, count, 4, 2);
        int32_t day = ScanField(v, count, 6, 2);
        if (year >= 1900 && year <= 2099 && month <= 12 && day >= 1 && day <= 31) m_guessedVR = u"DA";
        return;
    }
    // count 3, 5, 6, 7 or 9 to 64
    bool allSpaces = true, digitsOnly = true;
    for (uint32_t i = 0; i < count; ++i) {
        if (v[i] != ' ') {
            allSpaces = false;
            if (!IsDigit(v[i])) digitsOnly = false;
        }
    }
    if (allSpaces) return;
    if (digitsOnly) {
        // HHMMSS: hours from the first two digits, minutes and seconds from the next two pairs.
        int32_t hours = ScanField(v, count, 0, 2);
        int32_t minutes = ScanField(v, count, 2, 2);
        int32_t seconds = ScanField(v, count, 4, 2);
        if (hours <= 24 && minutes <= 60 && seconds <= 60) {
            m_guessedVR = u"TM";
            return;
        }
    }
    uint32_t counts[256] = {};
    for (uint32_t i = 0; i < count; ++i) ++counts[v[i]];
    if (counts[uint8_t('^')]) {
        m_guessedVR = u"PN";
        return;
    }
    for (unsigned c = 0x41; c <= 0xBF; ++c) {
        if (c == 'E' || c == 'e' || c == '\\') continue;
        if (counts[c]) {
            m_guessedVR = count <= 16 ? u"CS" : u"LO";
            return;
        }
    }
    if (counts[uint8_t(':')] == 2) {
        m_guessedVR = (count >= 6 && v[2] == ':' && v[5] == ':') ? u"TM" : u"SH";
        return;
    }
    bool hasBackslash = counts[uint8_t('\\')] != 0;
    if (counts[uint8_t('.')] == 2) {
        if (hasBackslash)
            m_guessedVR = u"DS";
        else
            m_guessedVR = (count >= 8 && v[4] == '.' && v[7] == '.') ? u"DT" : u"SH";
        return;
    }
    if (counts[uint8_t('.')] >= 3 && !hasBackslash && !counts[uint8_t('E')] && !counts[uint8_t('e')] &&
        !counts[uint8_t('+')] && !counts[uint8_t('-')]) {
        m_guessedVR = u"UI";
        return;
    }
    if (counts[uint8_t('.')] >= 1) {
        m_guessedVR = u"DS";
        return;
    }
    if (hasBackslash) return;  // CS
    m_guessedVR = u"IS";
}

bool IsTextVR(std::u16string_view vr) {
    static constexpr std::u16string_view kBinary[] = {u"AT", u"FL", u"FD", u"SL", u"SS",
                                                      u"UL", u"US", u"OB", u"OW", u"SQ"};
    for (auto b : kBinary)
        if (vr == b) return false;
    return true;
}

bool IsLongLengthVR(std::u16string_view vr) {
    if (vr.size() != 2) return false;
    switch (vr[0]) {
        case u'O':
            return vr[1] == u'B' || vr[1] == u'D' || vr[1] == u'F' || vr[1] == u'L' || vr[1] == u'V' || vr[1] == u'W';
        case u'S': return vr[1] == u'Q' || vr[1] == u'V';
        case u'U': return vr[1] == u'C' || vr[1] == u'N' || vr[1] == u'R' || vr[1] == u'T' || vr[1] == u'V';
        default: return false;
    }
}

double ParseDSText(char* text) {
    if (!text) return 0.0;
    char* p = text;
    while (*p && std::strchr(" +-.0123456789Ee", *p)) ++p;
    *p = 0;
    const char* s = text;
    while (*s == ' ') ++s;
    if (*s == '+') {
        ++s;
        if (*s == '+' || *s == '-') return 0.0;
    }
    const char* end = s + std::strlen(s);
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(s, end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Keep the sign of the overflowing value, as strtod would.
        bool negative = *s == '-';
        // Distinguish underflow (tiny) from overflow (huge) by the exponent sign.
        const char* e = std::strpbrk(s, "Ee");
        bool tiny = e && e[1] == '-';
        if (tiny) return 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    if (ec != std::errc()) return 0.0;
    return value;
}

int32_t TruncateToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

int32_t ParseISText(char* text) {
    if (!text) return 0;
    char* s = text;
    while (*s == ' ') ++s;
    if (!*s) return 0;
    for (char* p = s; *p; ++p) {
        if (*p == ' ' || *p == '-' || IsDigit(uint8_t(*p))) continue;
        if (*p == '+' || *p == '.' || *p == 'E' || *p == 'e') return TruncateToInt32(ParseDSText(s));
        *p = 0;
        break;
    }
    return ScanInt(s);
}

std::string VRToAscii(std::u16string_view vr) {
    std::string out;
    for (char16_t c : vr) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}
