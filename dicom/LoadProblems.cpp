#include "dicom/LoadProblems.h"

#include <array>
#include <cstdio>

#include "dicom/DicomDictionary.h"

const char* ProblemCodeName(ProblemCode code) {
    switch (code) {
        case ProblemCode::OddLength: return "odd-length";
        case ProblemCode::VRMismatch: return "vr-mismatch";
        case ProblemCode::ReservedBytes: return "reserved-bytes";
        case ProblemCode::ImplicitRetry: return "implicit-retry";
        case ProblemCode::UNSequence: return "un-sequence";
        case ProblemCode::LengthMismatch: return "length-mismatch";
        case ProblemCode::GroupLength: return "group-length";
        case ProblemCode::TrailingBytes: return "trailing-bytes";
        case ProblemCode::Truncated: return "truncated";
        case ProblemCode::TagOrder: return "tag-order";
        case ProblemCode::ValueVR: return "value-vr";
        case ProblemCode::OffsetTable: return "offset-table";
        case ProblemCode::PixelDataLength: return "pixel-data-length";
        case ProblemCode::PrivateTag: return "private-tag";
        case ProblemCode::NoTransferSyntax: return "no-transfer-syntax";
        case ProblemCode::Stopped: return "stopped";
        case ProblemCode::FrameDecode: return "frame-decode";
    }
    return "unknown";
}

std::array<std::string, 4> ProblemFields(const SLoadProblem& problem) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%04X,%04X", problem.group, problem.element);
    return {std::to_string(problem.offset), tag, ProblemCodeName(problem.code), problem.text};
}

std::string ProblemLine(const SLoadProblem& problem) {
    const auto fields = ProblemFields(problem);
    return fields[0] + '\t' + fields[1] + '\t' + fields[2] + '\t' + fields[3];
}

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int Number(std::string_view s) {
    int n = 0;
    for (char c : s) n = n * 10 + (c - '0');
    return n;
}

// One DA value: YYYYMMDD; empty is allowed. The old YYYY.MM.DD form is named
// apart, as readers still meet it.
const char* DateRule(std::string_view v) {
    if (v.empty()) return nullptr;
    if (v.size() == 10 && v[4] == '.' && v[7] == '.') return "is in the old YYYY.MM.DD form, not YYYYMMDD";
    if (v.size() != 8) return "is not a date (YYYYMMDD)";
    for (char c : v)
        if (!IsDigit(uint8_t(c))) return "is not a date (YYYYMMDD)";
    const int month = Number(v.substr(4, 2));
    const int day = Number(v.substr(6, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return "is not a date (YYYYMMDD)";
    return nullptr;
}

// One TM value: HH, HHMM, HHMMSS or HHMMSS.F to HHMMSS.FFFFFF; empty is allowed.
const char* TimeRule(std::string_view v) {
    if (v.empty()) return nullptr;
    const char* const bad = "is not a time (HHMMSS.FFFFFF)";
    const std::size_t dot = v.find('.');
    const std::string_view whole = v.substr(0, dot);
    if (whole.size() != 2 && whole.size() != 4 && whole.size() != 6) return bad;
    for (char c : whole)
        if (!IsDigit(uint8_t(c))) return bad;
    if (dot != std::string_view::npos) {
        const std::string_view fraction = v.substr(dot + 1);
        if (whole.size() != 6 || fraction.empty() || fraction.size() > 6) return bad;
        for (char c : fraction)
            if (!IsDigit(uint8_t(c))) return bad;
    }
    const int limits[] = {23, 59, 60};
    for (std::size_t i = 0; i * 2 < whole.size(); ++i)
        if (Number(whole.substr(i * 2, 2)) > limits[i]) return bad;
    return nullptr;
}

// One IS value: an optional sign and digits, within 32 bits; empty is allowed.
const char* IntegerRule(std::string_view v) {
    if (v.empty()) return nullptr;
    const char* const bad = "is not an integer string";
    std::size_t at = (v[0] == '+' || v[0] == '-') ? 1 : 0;
    if (at == v.size()) return bad;
    long long n = 0;
    for (; at < v.size(); ++at) {
        if (!IsDigit(uint8_t(v[at]))) return bad;
        n = n * 10 + (v[at] - '0');
        if (n > 2147483648LL) return "is out of the range of an integer string";
    }
    if (n == 2147483648LL && v[0] != '-') return "is out of the range of an integer string";
    return nullptr;
}

// One DS value: a fixed or floating point number; empty is allowed.
const char* DecimalRule(std::string_view v) {
    if (v.empty()) return nullptr;
    std::size_t at = (v[0] == '+' || v[0] == '-') ? 1 : 0;
    std::size_t digits = 0;
    while (at < v.size() && IsDigit(uint8_t(v[at]))) ++at, ++digits;
    if (at < v.size() && v[at] == '.') {
        ++at;
        while (at < v.size() && IsDigit(uint8_t(v[at]))) ++at, ++digits;
    }
    if (digits == 0) return "is not a decimal string";
    if (at < v.size() && (v[at] == 'e' || v[at] == 'E')) {
        ++at;
        if (at < v.size() && (v[at] == '+' || v[at] == '-')) ++at;
        std::size_t exponent = 0;
        while (at < v.size() && IsDigit(uint8_t(v[at]))) ++at, ++exponent;
        if (exponent == 0) return "is not a decimal string";
    }
    return at == v.size() ? nullptr : "is not a decimal string";
}

// One UI value: components of digits split by dots, none empty, none with a
// leading zero, the first 0, 1 or 2, not all of them zero.
const char* UIDRule(std::string_view v) {
    if (v.empty()) return nullptr;
    bool allZero = true;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= v.size(); ++i) {
        if (i < v.size() && v[i] != '.') {
            if (!IsDigit(uint8_t(v[i]))) return "holds characters other than digits and dots";
            continue;
        }
        const std::string_view component = v.substr(start, i - start);
        if (component.empty()) return "has an empty component";
        if (component.size() > 1 && component[0] == '0') return "has a component with a leading zero";
        if (start == 0 && (component.size() > 1 || component[0] > '2')) return "does not start with 0, 1 or 2";
        allZero = allZero && component == "0";
        start = i + 1;
    }
    return allZero ? "holds nothing but zero components" : nullptr;
}

// The fast passes below look at a whole text (all its values) at once, with
// no more than a table lookup or two per character: true when every value
// keeps its VR's form and length. False sends the text to the checks above,
// which say what is wrong, or find nothing (a case too rare to be fast).
enum : uint8_t { kDigit, kSign, kDot, kExp, kBlank, kOther };
constexpr std::array<uint8_t, 256> kCharClass = [] {
    std::array<uint8_t, 256> t{};
    for (uint8_t& c : t) c = kOther;
    for (int c = '0'; c <= '9'; ++c) t[c] = kDigit;
    t['+'] = t['-'] = kSign;
    t['.'] = kDot;
    t['e'] = t['E'] = kExp;
    t[' '] = kBlank;
    return t;
}();
constexpr uint8_t kNo = 10;
// States of a number: 0 leading blanks, 1 sign, 2 digits, 3 dot after
// digits, 4 dot first, 5 fraction, 6 exponent mark, 7 its sign, 8 its
// digits, 9 trailing blanks.
constexpr uint8_t kDecimalMoves[10][6] = {
    {2, 1, 4, kNo, 0, kNo},       {2, kNo, 4, kNo, kNo, kNo},   {2, kNo, 3, 6, 9, kNo},
    {5, kNo, kNo, 6, 9, kNo},     {5, kNo, kNo, kNo, kNo, kNo}, {5, kNo, kNo, 6, 9, kNo},
    {8, 7, kNo, kNo, kNo, kNo},   {8, kNo, kNo, kNo, kNo, kNo}, {8, kNo, kNo, kNo, 9, kNo},
    {kNo, kNo, kNo, kNo, 9, kNo},
};
constexpr uint16_t kDecimalEnds = 1 << 0 | 1 << 2 | 1 << 3 | 1 << 5 | 1 << 8 | 1 << 9;
constexpr uint8_t kIntegerMoves[10][6] = {
    {2, 1, kNo, kNo, 0, kNo},       {2, kNo, kNo, kNo, kNo, kNo},   {2, kNo, kNo, kNo, 9, kNo},
    {kNo, kNo, kNo, kNo, kNo, kNo}, {kNo, kNo, kNo, kNo, kNo, kNo}, {kNo, kNo, kNo, kNo, kNo, kNo},
    {kNo, kNo, kNo, kNo, kNo, kNo}, {kNo, kNo, kNo, kNo, kNo, kNo}, {kNo, kNo, kNo, kNo, kNo, kNo},
    {kNo, kNo, kNo, kNo, 9, kNo},
};
constexpr uint16_t kIntegerEnds = 1 << 0 | 1 << 2 | 1 << 9;

// DS or IS values; an integer of more than 9 digits goes to the range check.
bool PlainNumbers(std::string_view text, const uint8_t (*moves)[6], uint16_t ends, std::size_t max,
                  std::size_t maxDigits) {
    uint8_t state = 0;
    std::size_t length = 0, digits = 0;
    for (char ch : text) {
        if (ch == '\\') {
            if (!(ends >> state & 1) || length > max || digits > maxDigits) return false;
            state = 0;
            length = digits = 0;
            continue;
        }
        const uint8_t c = kCharClass[uint8_t(ch)];
        state = moves[state][c];
        if (state == kNo) return false;
        ++length;
        digits += c == kDigit;
    }
    return (ends >> state & 1) && length <= max && digits <= maxDigits;
}

// UI values: the first component 0, 1 or 2, no empty component, none with a
// leading zero, not all of them zero.
bool PlainUIDs(std::string_view text, std::size_t max) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (;;) {
        const std::size_t start = i;
        if (i == n) return true;
        if (p[i] < '0' || p[i] > '2') return false;
        bool nonZero = p[i++] != '0';
        while (i < n && p[i] != '\\') {
            if (p[i] != '.' || ++i == n) return false;
            if (p[i] == '0') {
                if (++i < n && IsDigit(uint8_t(p[i]))) return false;
                continue;
            }
            if (p[i] < '1' || p[i] > '9') return false;
            nonZero = true;
            while (++i < n && IsDigit(uint8_t(p[i]))) {}
        }
        if (!nonZero || i - start > max) return false;
        if (i == n) return true;
        ++i;
    }
}

std::string_view Trimmed(std::string_view v) {
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return v;
}

// The longest value a string VR allows, per value; 0 when not checked.
std::size_t MaxValueLength(std::u16string_view vr) {
    struct Limit {
        char16_t a, b;
        std::size_t max;
    };
    static constexpr Limit kLimits[] = {
        {u'A', u'E', 16}, {u'A', u'S', 4},    {u'C', u'S', 16},    {u'D', u'A', 10},         {u'D', u'S', 16},
        {u'D', u'T', 26}, {u'I', u'S', 12},   {u'L', u'O', 64},    {u'S', u'H', 16},         {u'T', u'M', 16},
        {u'U', u'I', 64}, {u'S', u'T', 1024}, {u'L', u'T', 10240}, {u'P', u'N', 3 * 64 + 2},
    };
    if (vr.size() != 2) return 0;
    for (const Limit& l : kLimits)
        if (vr[0] == l.a && vr[1] == l.b) return l.max;
    return 0;
}

bool IsMultiValued(std::u16string_view vr) {
    // ST, LT and the long texts hold one value in which a backslash is text.
    return !(vr == u"ST" || vr == u"LT" || vr == u"UT" || vr == u"UR");
}

}  // namespace

bool HasValueRules(std::u16string_view vr) { return MaxValueLength(vr) != 0; }

std::string CheckValueRules(std::u16string_view vr, const uint8_t* value, uint32_t length) {
    const std::size_t max = MaxValueLength(vr);
    if (max == 0 || !value || length == 0) return {};
    std::string_view text(reinterpret_cast<const char*>(value), length);
    const bool isUID = vr == u"UI";
    // Only a UID is padded with a NUL; other strings with a blank.
    if (!isUID && text.back() == '\0') return "is padded with a NUL, not a blank";
    // Trailing padding is not part of the value.
    while (!text.empty() && (text.back() == ' ' || (isUID && text.back() == '\0'))) text.remove_suffix(1);
    const char* (*rule)(std::string_view) = nullptr;
    if (vr == u"DA")
        rule = DateRule;
    else if (vr == u"TM")
        rule = TimeRule;
    else if (vr == u"IS")
        rule = IntegerRule;
    else if (vr == u"DS")
        rule = DecimalRule;
    else if (isUID)
        rule = UIDRule;
    // The common case stays cheap: a value no longer than one value may be
    // breaks no length rule, and only the VRs with a format look at the
    // characters, numbers and UIDs in one fast pass first.
    if (!rule && text.size() <= max) return {};
    if (rule == DecimalRule && PlainNumbers(text, kDecimalMoves, kDecimalEnds, max, max)) return {};
    if (rule == IntegerRule && PlainNumbers(text, kIntegerMoves, kIntegerEnds, max, 9)) return {};
    if (isUID && PlainUIDs(text, max)) return {};
    const bool multi = IsMultiValued(vr);
    std::size_t start = 0;
    for (int n = 1;; ++n) {
        std::size_t end = multi ? text.find('\\', start) : std::string_view::npos;
        if (end == std::string_view::npos) end = text.size();
        std::string_view one = text.substr(start, end - start);
        if (rule) {
            // Dates, times and numbers may carry blanks around them.
            if (const char* broken = rule(isUID ? one : Trimmed(one)))
                return "value " + std::to_string(n) + " " + broken;
        }
        if (one.size() > max)
            return "value " + std::to_string(n) + " has " + std::to_string(one.size()) + " characters, more than the " +
                   std::to_string(max) + " its VR allows";
        if (end >= text.size()) break;
        start = end + 1;
    }
    return {};
}

bool IsVRCode(uint8_t a, uint8_t b) {
    static constexpr char kCodes[] = "AEASATCSDADSDTFDFLISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
    for (std::size_t i = 0; i + 1 < sizeof kCodes; i += 2)
        if (uint8_t(kCodes[i]) == a && uint8_t(kCodes[i + 1]) == b) return true;
    return false;
}

bool DictionaryAllowsVR(uint16_t group, uint16_t element, std::u16string_view vr) {
    const uint16_t folded = FoldRepeatingGroup(group);
    if (vr.size() != 2) return true;
    bool known = false;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        if (row.group != folded || row.element != element) continue;
        known = true;
        // The row's VRs: the first code, then any after its NUL.
        for (std::size_t at = 0; at + 1 < sizeof row.vr && row.vr[at] != '\0'; at += 3)
            if (char16_t(row.vr[at]) == vr[0] && char16_t(row.vr[at + 1]) == vr[1]) return true;
    }
    return !known;
}
