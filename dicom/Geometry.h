#pragma once
// Where the elements of a loaded tree lie in the file: extents of elements
// and items, header sizes, tag offsets and byte ranges (Geometry, queries
// only); and the settling of item lengths that the load does once, the one
// place where measuring writes into the tree.
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dicom/DataSet.h"
#include "dicom/Encoding.h"

namespace quillon {

// Byte ranges of the elements of a tree read in `encoding` (the encoding of
// the main data set). It reads the nodes and changes none, so it may be used
// while the document is shown, from any thread.
class Geometry {
public:
    explicit Geometry(const Encoding& encoding) : m_explicitVR(encoding.explicitVR) {}

    uint32_t HeaderSize(const CDicomTag* element) const;
    uint64_t TagOffset(const CDicomTag* element) const;
    // First and last byte of the element in the file, both inclusive.
    std::pair<uint64_t, uint64_t> ElementRange(const CDicomTag* element) const;
    // Total bytes of an element or item, header, items and delimiters
    // included, measured as encoded in `explicitVR` (the items of a UN
    // sequence always as implicit VR); without it, in the data set's encoding.
    uint64_t Extent(const CDicomTag* node, bool explicitVR) const;
    uint64_t Extent(const CDicomTag* node) const { return Extent(node, m_explicitVR); }

private:
    bool m_explicitVR;
};

// The sum of the items' extents of a defined-length sequence, as measured
// while it was read, and the encoding it was measured in.
struct ItemsExtent {
    uint64_t sum;
    bool explicitVR;
};
using RememberedExtents = std::unordered_map<const CDicomTag*, ItemsExtent>;

// The measure of an item just read: settles its length and those of the
// items below it (an item keeps its written length unless the file ends
// inside it, when it takes the length of its content), measured in `explicitVR`; `remembered` (may be null) gives
// the item sums of deep sequences already measured.
uint64_t SettleItem(CDicomTag* item, bool explicitVR, const RememberedExtents* remembered);

// What a parse leaves for the settling of item lengths: the undefined-length
// nodes in the order they were read (pre-order), without the top-level
// sequences whose items the parser settled itself, and the encodings in
// which that happened.
struct UnsettledLengths {
    std::vector<CDicomTag*> nodes;
    bool settledIn[2] = {false, false};
};

// Once the tree is complete: settles every defined-length item that lies
// below an undefined-length element as SettleItem does, measured in the
// data set's encoding. Empties `unsettled`.
void SettleItemLengths(const DataSet& dataSet, bool explicitVR, UnsettledLengths& unsettled);

}  // namespace quillon
