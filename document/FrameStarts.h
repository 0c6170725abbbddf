#pragma once
// The Basic Offset Table of encapsulated pixel data, resolved: for each entry
// that lands on the item tag of a fragment, the frame that starts there.
// Entries that land elsewhere are the loader's offset-table problems.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomFile.h"

namespace quillon {

class FrameStarts {
public:
    FrameStarts() = default;
    // Reads the table of the first top-level Pixel Data element of `file`.
    explicit FrameStarts(const CDicomFile& file);

    // The frames (from 1) that the table starts at this item, in table order;
    // empty for any other element.
    std::vector<uint32_t> FramesAt(const CDicomTag* item) const;
    bool Empty() const { return m_starts.empty(); }

    // The description of an item: "SQ Item", and for a fragment at which
    // frames start "SQ Item (Frame 3 starts here)" or "SQ Item (Frames 3, 4
    // start here)".
    std::u16string ItemDescription(const CDicomTag* item) const;

private:
    // The pixel data whose fragments the table names; (where the fragment's
    // value starts, frame from 1), sorted by fragment, then by frame. A
    // fragment is known by its offset, as its node may be made anew each time.
    const CDicomTag* m_pixelData = nullptr;
    std::vector<std::pair<uint64_t, uint32_t>> m_starts;
};

}  // namespace quillon
