#include "dicom/TagArray.h"

CTagArray::~CTagArray() = default;

bool CTagArray::Add(std::unique_ptr<CDicomTag> element) {
    if (!element) return true;
    if (element->m_vr.GetVR().empty()) {
        std::u16string vr = element->GetDisplayVR();
        element->SetVR(vr);
    }
    m_tags.push_back(std::move(element));
    return true;
}

CDicomTag* CTagArray::Find(uint16_t group, uint16_t element) const {
    for (const auto& tag : m_tags)
        if (tag && tag->m_group == group && tag->m_element == element) return tag.get();
    return nullptr;
}

std::u16string CTagArray::GetSpecificCharacterSet() const {
    const CDicomTag* tag = Find(0x0008, 0x0005);
    return tag ? tag->GetValueText(u"") : std::u16string();
}
