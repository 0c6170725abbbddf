#include "dicom/DicomDictionary.h"

#include <iterator>

const DicomDictEntry kDicomDictTable[] = {
#include "dicom/DicomDictionaryTable.inc"
};
const std::size_t kDicomDictTableSize = std::size(kDicomDictTable);

static_assert(std::size(kDicomDictTable) == 2080, "the dictionary table has 2080 rows");

namespace {

// Windows-1252 bytes 0x80..0x9F; the bytes the code page leaves undefined
// become U+FFFD. Every other byte is its own code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

// A field up to its first NUL (or its end), decoded as Windows-1252.
template <std::size_t N>
std::u16string DecodeField(const char (&field)[N]) {
    std::u16string text;
    for (std::size_t i = 0; i < N && field[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(field[i]);
        text.push_back(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

uint32_t Key(uint16_t group, uint16_t element) { return (uint32_t(group) << 16) | element; }

// Built while static objects are constructed, before main runs.
[[maybe_unused]] const CDicomDictionary& g_dictionaryAtStartup = CDicomDictionary::Instance();

}  // namespace

const CDicomDictionary& CDicomDictionary::Instance() {
    static const CDicomDictionary dictionary;
    return dictionary;
}

CDicomDictionary::CDicomDictionary() {
    // In table order: a tag already present keeps its first row.
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        const uint32_t key = Key(row.group, row.element);
        if (m_map.count(key) == 0) {
            m_map.emplace(key, Entry{std::u16string_view(DecodeField(row.name)), std::u16string_view(DecodeField(row.vr))});
        }
    }
}

const std::u16string& CDicomDictionary::LookupName(uint16_t group, uint16_t element) const {
    auto it = m_map.find(Key(group, element));
    return it == m_map.end() ? quillon::kEmptyInternedText : it->second.name.str();
}

const std::u16string& CDicomDictionary::LookupVR(uint16_t group, uint16_t element) const {
    auto it = m_map.find(Key(group, element));
    return it == m_map.end() ? quillon::kEmptyInternedText : it->second.vr.str();
}

bool CDicomDictionary::LookupInterned(uint16_t group, uint16_t element, quillon::InternedText& name,
                                      quillon::InternedText& vr) const {
    auto it = m_map.find(Key(group, element));
    if (it == m_map.end()) return false;
    name = it->second.name;
    vr = it->second.vr;
    return true;
}
