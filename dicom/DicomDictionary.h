#pragma once
// The built-in data dictionary: registered name and VR of a tag.
#include <cstdint>
#include <map>
#include <string>

#include "dicom/InternedText.h"

struct DicomDictEntry {
    uint16_t group;
    uint16_t element;
    char name[128];  // NUL-terminated Windows-1252 text
    char vr[10];     // two-letter code, NUL; a few rows add a second code after the NUL
};

// The static table (first row of a duplicated tag wins).
extern const DicomDictEntry kDicomDictTable[];
extern const std::size_t kDicomDictTableSize;

class CDicomDictionary {
public:
    // The process-wide dictionary, built from the static table on first use.
    static const CDicomDictionary& Instance();

    // Name / VR of (group, element) as wide text; empty when unknown. The
    // caller folds repeating groups first (FoldRepeatingGroup).
    const std::u16string& LookupName(uint16_t group, uint16_t element) const;
    const std::u16string& LookupVR(uint16_t group, uint16_t element) const;
    // Both at once, as the interned texts the nodes hold (a node takes them
    // without hashing them again); false, and nothing set, when unknown.
    bool LookupInterned(uint16_t group, uint16_t element, quillon::InternedText& name, quillon::InternedText& vr) const;
    std::size_t Size() const { return m_map.size(); }

private:
    CDicomDictionary();
    struct Entry {
        quillon::InternedText name;
        quillon::InternedText vr;
    };
    std::map<uint32_t, Entry> m_map;  // key: group << 16 | element
};

// 54xx -> 5400; 6000..6FFF -> 6000; anything else unchanged.
inline uint16_t FoldRepeatingGroup(uint16_t group) {
    uint16_t g = group;
    if ((g & 0xFF00) == 0x5400) g = 0x5400;
    if ((g & 0xF000) == 0x6000) g = 0x6000;
    return g;
}
