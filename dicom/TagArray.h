#pragma once
// The top-level element list of a data set.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/DicomTag.h"
#include "dicom/PixelDescription.h"

class CTagArray {
public:
    CTagArray() = default;
    virtual ~CTagArray();

    // Takes the element into the list (a null element is ignored; result true).
    bool Add(std::unique_ptr<CDicomTag> element);
    // The first top-level element with the tag, or null. Nested items are never searched.
    CDicomTag* Find(uint16_t group, uint16_t element) const;
    // Value text of the first top-level (0008,0005), or empty.
    std::u16string GetSpecificCharacterSet() const;
    void RemoveAll() { m_tags.clear(); }
    const TagList& Tags() const { return m_tags; }

    TagList m_tags;

protected:
    // The pixel description of the elements, as the loader last read it.
    quillon::PixelDescription m_pixel;
};
