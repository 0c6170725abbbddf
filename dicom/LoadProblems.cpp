#include "dicom/LoadProblems.h"

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
        case ProblemCode::Stopped: return "stopped";
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

// One DA value: YYYYMMDD, or the old YYYY.MM.DD; empty is allowed.
bool IsDate(std::string_view v) {
    if (v.empty()) return true;
    std::string digits;
    if (v.size() == 10 && v[4] == '.' && v[7] == '.') {
        digits = std::string(v.substr(0, 4)) + std::string(v.substr(5, 2)) + std::string(v.substr(8, 2));
    } else if (v.size() == 8) {
        digits = std::string(v);
    } else {
        return false;
    }
    for (char c : digits)
        if (!IsDigit(uint8_t(c))) return false;
    const int month = Number(std::string_view(digits).substr(4, 2));
    const int day = Number(std::string_view(digits).substr(6, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
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
    // Trailing padding (a blank, or a NUL after a UID) is not part of the value.
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    const bool isDate = vr == u"DA";
    const bool isUID = vr == u"UI";
    // The common case stays cheap: a value no longer than one value may be
    // breaks no length rule, and only dates and UIDs look at the characters.
    if (!isDate && !isUID && text.size() <= max) return {};
    if (isUID && text.size() <= max) {
        bool plain = true;
        for (char c : text) plain = plain && ((c >= '0' && c <= '9') || c == '.');
        if (plain) return {};
    }
    const bool multi = IsMultiValued(vr);
    std::size_t start = 0;
    for (int n = 1;; ++n) {
        std::size_t end = multi ? text.find('\\', start) : std::string_view::npos;
        if (end == std::string_view::npos) end = text.size();
        std::string_view one = text.substr(start, end - start);
        if (isDate) {
            std::string_view trimmed = one;
            while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
            while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
            if (!IsDate(trimmed)) return "value " + std::to_string(n) + " is not a date (YYYYMMDD)";
        }
        if (isUID) {
            for (char c : one)
                if (!(IsDigit(uint8_t(c)) || c == '.'))
                    return "value " + std::to_string(n) + " holds characters other than digits and dots";
        }
        if (one.size() > max)
            return "value " + std::to_string(n) + " has " + std::to_string(one.size()) + " characters, more than the " +
                   std::to_string(max) + " its VR allows";
        if (end >= text.size()) break;
        start = end + 1;
    }
    return {};
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
