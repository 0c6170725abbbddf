#include "document/ElementSearch.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "dicom/CharacterSet.h"
#include "dicom/DicomDictionary.h"
#include "dicom/LoaderRules.h"

namespace quillon {

namespace {

// The placeholders the value text shows instead of a value.
constexpr std::u16string_view kLongSizeDataText = u"(Long Size Data)";
constexpr std::u16string_view kFrameDataText = u"(Frame Data)";
constexpr std::u16string_view kSequenceDataText = u"(Sequence Data)";

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
    return text;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::optional<uint64_t> ParseDigits(std::u16string_view digits, unsigned base) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char16_t c : digits) {
        const int d = HexDigit(c);
        if (d < 0 || unsigned(d) >= base) return std::nullopt;
        if (value > (UINT64_MAX - unsigned(d)) / base) return std::nullopt;
        value = value * base + unsigned(d);
    }
    return value;
}

std::optional<uint16_t> ParseHex4(std::u16string_view digits) {
    if (digits.size() != 4) return std::nullopt;
    const auto value = ParseDigits(digits, 16);
    if (!value) return std::nullopt;
    return uint16_t(*value);
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

bool ContainsFolded(std::u16string_view haystack, std::u16string_view needle) {
    if (needle.empty()) return true;
    const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                                [](char16_t a, char16_t b) { return FoldAscii(a) == FoldAscii(b); });
    return it != haystack.end();
}

std::u16string Decimal(uint64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::optional<uint64_t> ParseOffset(std::u16string_view text) {
    text = Trim(text);
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
        return ParseDigits(text.substr(2), 16);
    if (text.size() > 1 && (text.back() == u'h' || text.back() == u'H'))
        return ParseDigits(text.substr(0, text.size() - 1), 16);
    return ParseDigits(text, 10);
}

std::optional<TagQuery> ParseTagQuery(std::u16string_view text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == u'(' && text.back() == u')') text = Trim(text.substr(1, text.size() - 2));
    std::u16string_view group, element;
    if (const auto comma = text.find(u','); comma != std::u16string_view::npos) {
        group = Trim(text.substr(0, comma));
        element = Trim(text.substr(comma + 1));
    } else if (text.size() == 8) {
        group = text.substr(0, 4);
        element = text.substr(4);
    } else {
        return std::nullopt;
    }
    const auto g = ParseHex4(group);
    const auto e = ParseHex4(element);
    if (!g || !e) return std::nullopt;
    return TagQuery{*g, *e};
}

namespace {

// The value text FullValueText gives for an element; none for binary data.
std::optional<std::u16string> ValueText(const CDicomTag* e, const quillon::InternedText& charset);

// A query read once and tried on many records.
class Matcher {
public:
    explicit Matcher(std::u16string_view query) : m_tag(ParseTagQuery(query)), m_text(Trim(query)) {}

    bool Matches(const quillon::QuillonDocument& document, std::size_t index) const {
        const auto& records = document.Records();
        if (index >= records.size()) return false;
        // A fragment item is made for the look only: a search over millions
        // of them keeps none.
        const CDicomTag* e = records[index].PeekElement(m_scratch);
        if (!e) return false;
        if (m_tag) return e->Is(m_tag->group, m_tag->element);
        if (m_text.empty()) return false;
        const std::u16string description = e->IsItem() ? std::u16string(u"SQ Item") : e->GetDescription();
        if (ContainsFolded(description, m_text)) return true;
        if (!e->IsItem() && !IsFrameNode(document, e) && StandardNameMatches(e->m_group, e->m_element)) return true;
        const uint32_t length = e->GetLength();
        if (!e->HasValue() || length == kUndefinedLength || length > kFindValueLimit) return false;
        const auto value = ValueText(e, records[index].charset);
        return value && ContainsFolded(*value, m_text);
    }

private:
    static bool IsFrameNode(const quillon::QuillonDocument& document, const CDicomTag* e) {
        return e->m_group == quillon::rules::kFrameNodeGroup && document.File() &&
               e->m_parent == document.File()->PixelData();
    }

    // Whether the dictionary's name of the tag ("Pixel Data") or its keyword
    // ("PixelData") holds the query. The dictionary has names only: the
    // keyword is the name without its blanks, punctuation and possessive s. Answered once
    // per tag, as a file repeats its tags many times.
    bool StandardNameMatches(uint16_t group, uint16_t element) const {
        const uint32_t key = uint32_t(group) << 16 | element;
        if (const auto found = m_byTag.find(key); found != m_byTag.end()) return found->second;
        const uint16_t folded = FoldRepeatingGroup(group);
        bool matches = false;
        for (const std::u16string& name :
             {CDicomDictionary::Instance().LookupName(folded, element), StandardNameOf(folded, element)}) {
            if (name.empty() || matches) continue;
            std::u16string keyword;
            for (std::size_t i = 0; i < name.size(); ++i) {
                const char16_t c = name[i];
                // "Patient's Name" is PatientName: a possessive's s goes with its apostrophe.
                if ((c == u'\'' || c == u'\u2019') && i + 1 < name.size() && name[i + 1] == u's') {
                    ++i;
                    continue;
                }
                if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) keyword += c;
            }
            matches = ContainsFolded(name, m_text) || ContainsFolded(keyword, m_text);
        }
        m_byTag.emplace(key, matches);
        return matches;
    }

    // The standard's name of a tag whose shown name is another one ("Frame
    // Data" is Pixel Data); empty for the others.
    static std::u16string StandardNameOf(uint16_t group, uint16_t element) {
        static const struct {
            uint16_t group, element;
            const char16_t* name;
        } kRenamed[] = {
            {0x0008, 0x0023, u"Content Date"},
            {0x0008, 0x0033, u"Content Time"},
            {0x0020, 0x0013, u"Instance Number"},
            {0x0020, 0x3401, u"Modifying Device ID"},
            {0x0020, 0x3402, u"Modified Image ID"},
            {0x5200, 0x9229, u"Shared Functional Groups Sequence"},
            {0x7FE0, 0x0010, u"Pixel Data"},
        };
        for (const auto& r : kRenamed)
            if (r.group == group && r.element == element) return r.name;
        return {};
    }

    std::optional<TagQuery> m_tag;
    std::u16string_view m_text;
    mutable std::unique_ptr<CDicomTag> m_scratch;
    mutable std::unordered_map<uint32_t, bool> m_byTag;
};

}  // namespace

bool RecordMatches(const quillon::QuillonDocument& document, std::size_t index, std::u16string_view query) {
    return Matcher(query).Matches(document, index);
}

FindResult FindNext(const quillon::QuillonDocument& document, std::optional<std::size_t> from, std::u16string_view query) {
    const std::size_t n = document.Records().size();
    FindResult result;
    if (n == 0) return result;
    const Matcher matcher(query);
    // From the root the search starts at the first record and cannot wrap.
    const std::size_t start = from && *from < n ? *from + 1 : 0;
    for (std::size_t step = 0; step < n; ++step) {
        const std::size_t i = (start + step) % n;
        if (matcher.Matches(document, i)) {
            result.record = i;
            result.wrapped = start + step >= n;
            return result;
        }
    }
    return result;
}

std::optional<std::size_t> ClickTarget(quillon::QuillonDocument& document, std::optional<std::size_t> current,
                                       uint64_t offset) {
    const auto& records = document.Records();
    if (current && *current < records.size()) {
        const auto [first, last] = document.Range(*current);
        if (first <= offset && offset <= last) {
            // In pre-order the first record of the subtree that holds the
            // byte is the outermost element inside the current one.
            const std::size_t end = std::min(records[*current].end, records.size());
            for (std::size_t i = *current + 1; i < end; ++i) {
                const auto [f, l] = document.Range(i);
                if (f <= offset && offset <= l) return i;
            }
        }
    }
    return document.RecordAtOffset(offset);
}

std::optional<std::u16string> FullValueText(const quillon::QuillonDocument& document, std::size_t index) {
    const auto& records = document.Records();
    if (index >= records.size()) return std::u16string();
    std::unique_ptr<CDicomTag> scratch;
    const CDicomTag* e = records[index].PeekElement(scratch);
    if (!e) return std::u16string();
    return ValueText(e, records[index].charset);
}

namespace {

std::optional<std::u16string> ValueText(const CDicomTag* e, const quillon::InternedText& charset) {
    if (!e->HasValue()) return std::u16string();
    std::u16string text = e->GetValueText(charset);
    const std::u16string& vr = e->m_vr.GetVR();
    // Binary data read under a text VR is shown with a placeholder only.
    if ((text == kFrameDataText || text == kSequenceDataText) && (vr == u"OB" || vr == u"OW" || vr == u"SQ"))
        return std::nullopt;
    // Long texts are shown with a placeholder: the whole value is decoded here.
    if (text == kLongSizeDataText && e->GetLength() >= 128) {
        const auto whole = e->GetValueString();
        return whole ? DecodeText(whole.get(), charset) : std::u16string();
    }
    return text;
}

}  // namespace

std::u16string TagOffsetText(const quillon::QuillonDocument& document, std::size_t index) {
    const auto& records = document.Records();
    if (!document.File() || index >= records.size()) return {};
    std::unique_ptr<CDicomTag> scratch;
    const CDicomTag* e = records[index].PeekElement(scratch);
    return e ? Decimal(document.File()->TagOffset(e)) : std::u16string();
}

std::u16string ByteRangeText(quillon::QuillonDocument& document, std::size_t index) {
    if (index >= document.Records().size()) return {};
    const auto [first, last] = document.Range(index);
    return Decimal(first) + u"-" + Decimal(last);
}

HexText BytesHex(const uint8_t* data, uint64_t size, uint64_t first, uint64_t last, uint64_t limit) {
    HexText hex;
    if (!data || first >= size || last < first) return hex;
    last = std::min(last, size - 1);
    hex.total = last - first + 1;
    hex.bytes = std::min(hex.total, limit);
    hex.cut = hex.bytes < hex.total;
    static const char kHex[] = "0123456789ABCDEF";
    hex.text.resize(hex.bytes * 3);
    char* out = hex.text.data();
    for (uint64_t k = 0; k < hex.bytes; ++k) {
        const uint8_t b = data[first + k];
        *out++ = kHex[b >> 4];
        *out++ = kHex[b & 15];
        // A blank between bytes, a line break after every 16th and none at the end.
        *out++ = (k + 1 == hex.bytes) ? '\n' : ((k + 1) % 16 == 0 ? '\n' : ' ');
    }
    if (!hex.text.empty()) hex.text.pop_back();
    return hex;
}

HexText ElementBytesHex(quillon::QuillonDocument& document, std::size_t index, uint64_t limit) {
    if (index >= document.Records().size()) return {};
    const auto [first, last] = document.Range(index);
    if (first >= document.DataSize() || last < first) return {};
    // Only the bytes that are copied are read from the file.
    const uint64_t end = std::min(last, document.DataSize() - 1);
    const uint64_t n = std::min(end - first + 1, limit);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(n));
    if (!document.ReadData(first, bytes.data(), bytes.size())) return {};
    HexText hex = BytesHex(bytes.data(), n, 0, n - 1, limit);
    hex.total = end - first + 1;
    hex.cut = hex.bytes < hex.total;
    return hex;
}

}  // namespace quillon
