// Extents of elements and items, header sizes, tag offsets and byte ranges;
// and the settling of item lengths, the one place where measuring writes into
// the tree.
#include "dicom/Geometry.h"

#include <optional>
#include <type_traits>
#include <vector>

#include "dicom/LoaderRules.h"

using quillon::rules::IsSequence;
using quillon::rules::IsVR;

namespace quillon {

namespace {

// One measure for both uses: with a const Node it only reads; with a mutable
// Node it also gives each defined-length item that the file ends inside the
// length of its content.
// `remembered` (settling only, may be null): the remembered item sums of deep
// defined-length sequences while the data set is parsed.
template <class Node>
uint64_t Measure(Node* node, bool explicitVR, const RememberedExtents* remembered) {
    constexpr bool kSettles = !std::is_const_v<Node>;
    if (!node) return 0;
    const uint32_t length = node->GetLength();
    if (node->IsItem()) {
        uint64_t size = 8;
        for (const auto& child : node->m_children) size += Measure<Node>(child.get(), explicitVR, remembered);
        if (length == kUndefinedLength) return size + 8;
        if constexpr (kSettles) {
            // An item keeps the length written in the file, also where its
            // last element runs past it (that is a problem to show, not to
            // hide); only an item the file ends inside takes the length of
            // what was read, so that its range stays inside the file.
            const uint64_t content = size - 8;
            if (content < length) {
                node->m_tagData.m_longLength = uint32_t(content);
                node->m_tagData.m_shortLength = 0;
            }
        }
        return size;
    }
    const std::u16string& vr = node->m_vr.GetVR();
    if (IsSequence(node, explicitVR)) {
        const uint64_t header = explicitVR ? 12 : 8;
        // The items of a UN sequence are implicit VR.
        const bool itemsExplicitVR = IsVR(vr, 'U', 'N') ? false : explicitVR;
        uint64_t items = 0;
        bool known = false;
        if constexpr (kSettles) {
            if (remembered) {
                const auto it = remembered->find(node);
                if (it != remembered->end() && it->second.explicitVR == itemsExplicitVR) {
                    items = it->second.sum;
                    known = true;
                }
            }
        }
        if (!known)
            for (const auto& child : node->m_children) items += Measure<Node>(child.get(), itemsExplicitVR, remembered);
        return header + items + (length == kUndefinedLength ? 8 : 0);
    }
    if (node->Is(tags::kPixelData)) {
        const uint64_t header = explicitVR ? 12 : 8;
        if (length == kUndefinedLength) {
            uint64_t items = 0;
            for (const auto& child : node->m_children) items += 8 + uint64_t(child->m_tagData.m_longLength);
            if (const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(node))
                for (std::size_t k = 0; k < pixelData->FragmentCount(); ++k)
                    items += 8 + uint64_t(pixelData->FragmentLength(k));
            return header + items + 8;
        }
        return header + length;
    }
    if (explicitVR || node->m_group == 0x0002) {
        const uint64_t header = (vr.empty() || IsLongLengthVR(vr)) ? 12 : 8;
        return header + length;
    }
    return 8 + uint64_t(length);
}

// Whether the measure started at `from` (in `explicitVR`) goes down to `to`,
// one of its descendants, and in which encoding it then measures it: it
// descends into every child of an item, into the items of a sequence (as
// implicit VR below a UN sequence), and into nothing else.
std::optional<bool> EncodingReaching(const CDicomTag* from, const CDicomTag* to, bool explicitVR,
                                     std::vector<const CDicomTag*>& path) {
    path.clear();
    for (const CDicomTag* p = to->m_parent; p != from; p = p->m_parent) path.push_back(p);
    path.push_back(from);
    bool e = explicitVR;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        const CDicomTag* node = *it;
        if (node->IsItem()) continue;
        if (!IsSequence(node, e)) return std::nullopt;
        if (IsVR(node->m_vr.GetVR(), 'U', 'N')) e = false;
    }
    return e;
}

bool InsideUndefinedUNSequence(const CDicomTag* element) {
    for (const CDicomTag* p = element->m_parent; p; p = p->m_parent)
        if (p->m_vr.GetVR() == u"UN" && p->GetLength() == kUndefinedLength) return true;
    return false;
}

}  // namespace

uint64_t Geometry::Extent(const CDicomTag* node, bool explicitVR) const {
    return Measure<const CDicomTag>(node, explicitVR, nullptr);
}

uint64_t SettleItem(CDicomTag* item, bool explicitVR, const RememberedExtents* remembered) {
    return Measure<CDicomTag>(item, explicitVR, remembered);
}

void SettleItemLengths(const DataSet& dataSet, bool explicitVR, UnsettledLengths& unsettled) {
    // Each undefined-length node is measured in the data set's encoding, in
    // the order of the file, so that an item ends with the length measured
    // from its nearest undefined-length ancestor. A node that the measure of
    // its nearest reaching undefined-length ancestor reaches in that same
    // encoding is not measured again: that measure wrote the same lengths
    // below it. So nested undefined-length sequences are measured once, not
    // once per level.
    std::vector<CDicomTag*>& nodes = unsettled.nodes;
    std::vector<const CDicomTag*> path;
    if (unsettled.settledIn[!explicitVR]) {
        // The encoding changed after the parser settled some sequences (a
        // transfer syntax late in a bare data set): all of them again.
        nodes.clear();
        std::vector<CDicomTag*> pending;
        const TagList& elements = dataSet.Elements();
        for (auto it = elements.rbegin(); it != elements.rend(); ++it) pending.push_back(it->get());
        while (!pending.empty()) {
            CDicomTag* node = pending.back();
            pending.pop_back();
            if (!node) continue;
            if (node->GetLength() == kUndefinedLength) nodes.push_back(node);
            for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it) pending.push_back(it->get());
        }
    }
    for (CDicomTag* node : nodes) {
        if (node->GetLength() != kUndefinedLength) continue;
        bool measured = false;
        for (const CDicomTag* a = node->m_parent; a && !measured; a = a->m_parent) {
            if (a->GetLength() != kUndefinedLength) continue;
            if (const std::optional<bool> e = EncodingReaching(a, node, explicitVR, path)) {
                measured = *e == explicitVR;
                break;
            }
        }
        if (!measured) Measure<CDicomTag>(node, explicitVR, nullptr);
    }
    nodes.clear();
    nodes.shrink_to_fit();
    unsettled.settledIn[0] = unsettled.settledIn[1] = false;
}

// ---------------------------------------------------------------------------
// Element byte ranges

uint32_t Geometry::HeaderSize(const CDicomTag* element) const {
    if (!element) return 0;
    if (element->IsItem()) return 8;
    const CDicomTag* parent = element->m_parent;
    // A frame node has no header: its bytes are the frame's.
    if (element->m_group == rules::kFrameNodeGroup && parent && !parent->m_parent &&
        tags::IsPixelDataTag({parent->m_group, parent->m_element}))
        return 0;
    const bool explicitVR = (m_explicitVR || element->m_group == 0x0002) && !InsideUndefinedUNSequence(element);
    if (explicitVR) return element->HasLongLength() ? 12 : 8;
    return 8;
}

uint64_t Geometry::TagOffset(const CDicomTag* element) const {
    if (!element) return 0;
    const uint32_t header = HeaderSize(element);
    return element->m_dataOffset >= header ? element->m_dataOffset - header : 0;
}

std::pair<uint64_t, uint64_t> Geometry::ElementRange(const CDicomTag* element) const {
    if (!element) return {0, 0};
    const uint64_t first = TagOffset(element);
    const uint32_t length = element->GetLength();
    uint64_t last;
    if (length == kUndefinedLength) {
        const uint64_t extent = Extent(element);
        last = first + (extent ? extent - 1 : 0);
    } else if (length == 0) {
        last = element->m_dataOffset ? element->m_dataOffset - 1 : 0;
    } else {
        last = element->m_dataOffset + length - 1;
    }
    return {first, last};
}

}  // namespace quillon
