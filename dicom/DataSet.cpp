#include "dicom/DataSet.h"

namespace quillon {

bool DataSet::Add(std::unique_ptr<CDicomTag> element) {
    if (!element) return true;
    if (element->m_vr.GetVR().empty()) {
        std::u16string vr = element->GetDisplayVR();
        element->SetVR(vr);
    }
    m_elements.push_back(std::move(element));
    return true;
}

CDicomTag* DataSet::Find(uint16_t group, uint16_t element) const {
    for (const auto& tag : m_elements)
        if (tag && tag->m_group == group && tag->m_element == element) return tag.get();
    return nullptr;
}

std::u16string DataSet::GetSpecificCharacterSet() const {
    const CDicomTag* tag = Find(tags::kSpecificCharacterSet);
    return tag ? tag->GetValueText(u"") : std::u16string();
}

}  // namespace quillon
