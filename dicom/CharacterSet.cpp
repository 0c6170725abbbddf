#include "dicom/CharacterSet.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Defined terms of (0008,0005) and the code page each stands for. A term
// matches a row when it contains either text of the row; the first matching
// row wins, so the order matters ("ISO_IR 13" is contained in "ISO_IR 138",
// "ISO_IR 14" in "ISO_IR 144", and a multi-valued term may match several rows).
struct TermRow {
    std::u16string_view plain;
    std::u16string_view extension;
    unsigned codePage;
};

constexpr TermRow kTermRows[] = {
    {u"ISO_IR 126", u"ISO 2022 IR 126", 28597},  // Greek
    {u"ISO_IR 100", u"ISO 2022 IR 100", 28591},  // Latin alphabet No. 1
    {u"ISO_IR 101", u"ISO 2022 IR 101", 28592},  // Latin alphabet No. 2
    {u"ISO_IR 109", u"ISO 2022 IR 109", 28593},  // Latin alphabet No. 3
    {u"ISO_IR 110", u"ISO 2022 IR 110", 28594},  // Latin alphabet No. 4
    {u"ISO_IR 148", u"ISO 2022 IR 148", 28599},  // Latin alphabet No. 5 (Turkish)
    {u"ISO_IR 127", u"ISO 2022 IR 127", 28596},  // Arabic
    {u"ISO_IR 138", u"ISO 2022 IR 138", 28598},  // Hebrew
    {u"ISO_IR 144", u"ISO 2022 IR 144", 28595},  // Cyrillic
    {u"ISO_IR 149", u"ISO 2022 IR 149", 949},    // Korean
    {u"ISO_IR 192", u"ISO 2022 IR 192", 65001},  // UTF-8
    {u"GB18030", u"GB18030", 54936},             // GB 18030 (one text only)
    {u"ISO_IR 166", u"ISO 2022 IR 166", 874},    // Thai
    {u"ISO_IR 13", u"ISO 2022 IR 13", 932},      // Japanese katakana (Shift JIS)
    {u"ISO_IR 14", u"ISO 2022 IR 14", 932},
    {u"ISO_IR 87", u"ISO 2022 IR 87", 50222},  // Japanese kanji (ISO-2022-JP)
    {u"ISO_IR 159", u"ISO 2022 IR 159", 50222},
};

constexpr char kDefaultGroupTerm[] = "ISO_IR 100";
constexpr unsigned kKoreanCodePage = 949;
constexpr char kEsc = 0x1B;

// The iconv name that stands in for a Windows code page, or null when the
// code page is not one we provide.
//  - 0, the system ANSI code page, is taken to be Windows-1252 (a Western system).
//  - 50222 is served by glibc's ISO-2022-JP-2: of the glibc variants it is the
//    one that understands every designation a Japanese DICOM value uses:
//    ESC ( B / ESC ( J / ESC $ @ / ESC $ B, ESC ( I (JIS X 0201 katakana) and
//    ESC $ ( D (JIS X 0212). Plain ISO-2022-JP passes ESC ( I through as
//    text and ISO-2022-JP-3 lacks JIS X 0212. SO/SI katakana shifts are not
//    understood by any of them and stay control characters.
//  - 932 is CP932 (Windows-31J), which keeps 0x5C and 0x7E as backslash and
//    tilde (glibc's SHIFT_JIS would turn them into yen sign and overline).
const char* IconvNameForCodePage(unsigned codePage) {
    switch (codePage) {
        case 0: return "WINDOWS-1252";
        case 28591: return "ISO-8859-1";
        case 28592: return "ISO-8859-2";
        case 28593: return "ISO-8859-3";
        case 28594: return "ISO-8859-4";
        case 28595: return "ISO-8859-5";
        case 28596: return "ISO-8859-6";
        case 28597: return "ISO-8859-7";
        case 28598: return "ISO-8859-8";
        case 28599: return "ISO-8859-9";
        case 874: return "CP874";
        case 932: return "CP932";
        case 949: return "CP949";
        case 50222: return "ISO-2022-JP-2";
        case 54936: return "GB18030";
        case 65001: return "UTF-8";
        default: return nullptr;
    }
}

// UTF-16 in the machine's byte order, without a byte order mark.
constexpr const char* kUtf16Native = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One iconv descriptor per code page, opened on first use and kept for the
// life of the thread (values are decoded for every tree label and property
// row). A code page whose descriptor cannot be opened is remembered as such.
class ConverterCache {
public:
    ConverterCache() = default;
    ConverterCache(const ConverterCache&) = delete;
    ConverterCache& operator=(const ConverterCache&) = delete;
    ~ConverterCache() {
        for (auto& entry : m_entries)
            if (entry.second != kNoConverter) iconv_close(entry.second);
    }

    iconv_t Get(unsigned codePage) {
        for (const auto& entry : m_entries)
            if (entry.first == codePage) return entry.second;
        const char* name = IconvNameForCodePage(codePage);
        iconv_t cd = name ? iconv_open(kUtf16Native, name) : kNoConverter;
        m_entries.emplace_back(codePage, cd);
        return cd;
    }

private:
    std::vector<std::pair<unsigned, iconv_t>> m_entries;
};

iconv_t ConverterFor(unsigned codePage) {
    thread_local ConverterCache cache;
    return cache.Get(codePage);
}

bool IsAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view TrimTerm(std::u16string_view term) {
    while (!term.empty() && IsAsciiSpace(term.front())) term.remove_prefix(1);
    while (!term.empty() && IsAsciiSpace(term.back())) term.remove_suffix(1);
    return term;
}

constexpr unsigned kJapaneseCodePage = 50222;

// Length of the ISO 2022 escape sequence at text[at] (ESC, intermediate
// bytes 0x20-0x2F, one final byte 0x30-0x7E), 0 when there is none there.
size_t EscapeLength(std::string_view text, size_t at) {
    if (text[at] != kEsc) return 0;
    size_t k = at + 1;
    while (k < text.size() && text[k] >= 0x20 && text[k] <= 0x2F) ++k;
    if (k == at + 1 || k >= text.size() || text[k] < 0x30 || text[k] > 0x7E) return 0;
    return k + 1 - at;
}

// What an escape sequence does to the decoder: the code page of the bytes
// after it (0: unchanged), and whether it designates a JIS set that the
// ISO-2022-JP-2 converter switches on itself (the sequence is then kept in
// the bytes handed to it).
struct Designation {
    unsigned codePage;
    bool jis;
};

Designation DesignationOf(std::string_view sequence) {
    struct Row {
        std::string_view sequence;
        Designation designation;
    };
    static constexpr Row kRows[] = {
        {"\x1B-A", {28591, false}},  {"\x1B-B", {28592, false}},    {"\x1B-C", {28593, false}},
        {"\x1B-D", {28594, false}},  {"\x1B-F", {28597, false}},    {"\x1B-G", {28596, false}},
        {"\x1B-H", {28598, false}},  {"\x1B-L", {28595, false}},    {"\x1B-M", {28599, false}},
        {"\x1B-T", {874, false}},    {"\x1B)I", {932, false}},      {"\x1B$)C", {kKoreanCodePage, false}},
        {"\x1B$)A", {54936, false}}, {"\x1B$B", {kJapaneseCodePage, true}}, {"\x1B$@", {kJapaneseCodePage, true}},
        {"\x1B$(D", {kJapaneseCodePage, true}},
    };
    for (const Row& row : kRows)
        if (row.sequence == sequence) return row.designation;
    return {0, false};
}

// Decodes bytes in which ISO 2022 escape sequences switch the code page:
// each run between escapes is converted with the code page in force, and the
// sequences themselves never reach the text. A run of JIS kanji goes to the
// ISO-2022-JP-2 converter with its escapes, up to the return to ASCII or
// JIS roman (ESC ( B, ESC ( J), after which the earlier code page applies
// again. An ESC that starts no sequence stays a character.
bool ConvertWithEscapes(unsigned codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (codePage == kJapaneseCodePage || bytes.find(kEsc) == std::string_view::npos)
        return ConvertCodePage(codePage, bytes, out);
    unsigned current = codePage;
    unsigned beforeJis = codePage;
    std::string run;
    std::u16string part;
    auto flush = [&] {
        if (run.empty()) return true;
        if (!ConvertCodePage(current, run, part)) return false;
        out += part;
        run.clear();
        return true;
    };
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = EscapeLength(bytes, at);
        if (length == 0) {
            run += bytes[at++];
            continue;
        }
        const std::string_view sequence = bytes.substr(at, length);
        at += length;
        const Designation next = DesignationOf(sequence);
        const bool toRoman = sequence == "\x1B(B" || sequence == "\x1B(J";
        if (current == kJapaneseCodePage && toRoman && beforeJis != kJapaneseCodePage) {
            run += sequence;
            if (!flush()) return false;
            current = beforeJis;
        } else if (next.jis) {
            if (current != kJapaneseCodePage) {
                if (!flush()) return false;
                beforeJis = current;
                current = kJapaneseCodePage;
            }
            run += sequence;
        } else if (next.codePage != 0 && next.codePage != current) {
            if (!flush()) return false;
            current = next.codePage;
        }
    }
    return flush();
}

// Whether escape sequences in values of this term are code extensions: an
// ISO 2022 term, or the Korean set (whose values carry their designation).
bool UsesCodeExtensions(std::u16string_view term, unsigned codePage) {
    return codePage == kKoreanCodePage || term.find(u"2022") != std::u16string_view::npos;
}

// One group of a multi-group value; a failed conversion gives the empty text.
std::u16string DecodeGroup(std::string_view bytes, unsigned codePage, bool extensions) {
    std::u16string out;
    if (bytes.empty()) return out;
    const bool ok = extensions ? ConvertWithEscapes(codePage, bytes, out) : ConvertCodePage(codePage, bytes, out);
    if (!ok) out.clear();
    return out;
}

}  // namespace

unsigned CodePageForTerm(std::u16string_view term) {
    for (const TermRow& row : kTermRows) {
        if (term.find(row.plain) != std::u16string_view::npos || term.find(row.extension) != std::u16string_view::npos)
            return row.codePage;
    }
    return 0;
}

bool ConvertCodePage(unsigned codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    const iconv_t cd = ConverterFor(codePage);
    if (cd == kNoConverter) return false;
    // Back to the initial shift state: a stateful code page (ISO-2022-JP)
    // must not inherit the designations of the previous value.
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    try {
        out.reserve(bytes.size());
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char16_t chunk[256];
        bool flushed = false;
        while (!flushed) {
            char* outPtr = reinterpret_cast<char*>(chunk);
            size_t outLeft = sizeof chunk;
            size_t result;
            if (inLeft > 0) {
                result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
            } else {
                result = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
                flushed = true;
            }
            const int error = errno;
            out.append(chunk, (sizeof chunk - outLeft) / sizeof(char16_t));
            if (result != static_cast<size_t>(-1)) continue;
            if (error == E2BIG && outLeft < sizeof chunk) {
                // The chunk is full: collect it and go on.
                flushed = false;
                continue;
            }
            if ((error == EILSEQ || error == EINVAL) && inLeft > 0) {
                // A byte the code page leaves undefined, or a sequence cut
                // short by the end of the value: one replacement character,
                // then go on with the next byte.
                out.push_back(u'\uFFFD');
                ++in;
                --inLeft;
                continue;
            }
            out.clear();
            return false;
        }
        return true;
    } catch (...) {
        out.clear();
        return false;
    }
}

std::u16string DecodeSingleGroup(const char* bytes, std::u16string_view term) {
    if (!bytes) return {};
    try {
        const unsigned codePage = CodePageForTerm(term);
        return DecodeGroup(bytes, codePage, UsesCodeExtensions(term, codePage));
    } catch (...) {
        return {};
    }
}

std::u16string DecodeText(const char* bytes, std::u16string_view term) {
    term = TrimTerm(term);
    if (!bytes) return {};
    const std::string_view value(bytes);
    const size_t firstEquals = value.find('=');
    if (firstEquals == std::string_view::npos) return DecodeSingleGroup(bytes, term);
    // A single-valued term is the character set of every group.
    if (!term.empty() && term.find(u'\\') == std::u16string_view::npos) return DecodeSingleGroup(bytes, term);

    try {
        // The term's values for the three component groups: the first value
        // is the one before the first backslash (none without a backslash);
        // the last value keeps any further backslashes.
        std::u16string_view first, rest = term;
        if (const size_t b = term.find(u'\\'); b != std::u16string_view::npos) {
            first = term.substr(0, b);
            rest = term.substr(b + 1);
        }
        std::u16string_view second = rest, third = rest;
        if (const size_t b = rest.find(u'\\'); b != std::u16string_view::npos) {
            second = rest.substr(0, b);
            third = rest.substr(b + 1);
        }
        static const std::u16string kDefaultGroup(std::begin(kDefaultGroupTerm), std::end(kDefaultGroupTerm) - 1);
        if (first.empty()) first = kDefaultGroup;
        if (second.empty()) second = first;
        if (third.empty()) third = second;

        // The value's groups: the third keeps any further "=".
        const std::string_view group1 = value.substr(0, firstEquals);
        std::string_view group2 = value.substr(firstEquals + 1), group3;
        const size_t secondEquals = group2.find('=');
        if (secondEquals != std::string_view::npos) {
            group3 = group2.substr(secondEquals + 1);
            group2 = group2.substr(0, secondEquals);
        }

        const bool extensions = UsesCodeExtensions(term, 0);
        auto decode = [extensions](std::string_view group, std::u16string_view termValue) {
            const unsigned codePage = CodePageForTerm(termValue);
            return DecodeGroup(group, codePage, extensions || codePage == kKoreanCodePage);
        };
        std::u16string out = decode(group1, first);
        out += u'=';
        out += decode(group2, second);
        if (secondEquals != std::string_view::npos) {
            out += u'=';
            out += decode(group3, third);
        }
        return out;
    } catch (...) {
        return {};
    }
}
