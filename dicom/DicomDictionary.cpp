#include "dicom/DicomDictionary.h"

// Placeholder until the generated table lands.
const DicomDictEntry kDicomDictTable[] = {{0, 0, "", ""}};
const std::size_t kDicomDictTableSize = 0;

namespace {
const std::u16string kEmpty;
}

const CDicomDictionary& CDicomDictionary::Instance() {
    static const CDicomDictionary dictionary;
    return dictionary;
}

CDicomDictionary::CDicomDictionary() {}

const std::u16string& CDicomDictionary::LookupName(uint16_t group, uint16_t element) const {
    auto it = m_map.find((uint32_t(group) << 16) | element);
    return it == m_map.end() ? kEmpty : it->second.name;
}

const std::u16string& CDicomDictionary::LookupVR(uint16_t group, uint16_t element) const {
    auto it = m_map.find((uint32_t(group) << 16) | element);
    return it == m_map.end() ? kEmpty : it->second.vr;
}
