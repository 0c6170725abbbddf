#pragma once
// The top-level elements of a data set, in the order of the file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/DicomTag.h"
#include "dicom/Tags.h"

using TagList = std::vector<std::unique_ptr<CDicomTag>>;

namespace quillon {

class DataSet {
public:
    // Takes the element into the list; an element without a VR gets the one
    // it is shown with (a null element is ignored; result true).
    bool Add(std::unique_ptr<CDicomTag> element);
    // The first top-level element with the tag, or null. Nested items are never searched.
    CDicomTag* Find(uint16_t group, uint16_t element) const;
    CDicomTag* Find(Tag tag) const { return Find(tag.group, tag.element); }
    // Value text of the first top-level (0008,0005), or empty.
    std::u16string GetSpecificCharacterSet() const;
    void Clear() { m_elements.clear(); }
    const TagList& Elements() const { return m_elements; }
    std::size_t Size() const { return m_elements.size(); }
    bool Empty() const { return m_elements.empty(); }

private:
    TagList m_elements;
};

}  // namespace quillon
