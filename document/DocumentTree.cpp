#include "document/DocumentTree.h"

#include <cstring>
#include <memory>
#include <optional>

#include "dicom/LoaderRules.h"
#include "dicom/OffsetTable.h"
#include "dicom/TextUtil.h"

using quillon::Format16;

std::size_t AddFrameNodes(CDicomFile& file) {
    auto* pixelData = file.PixelData();
    if (!pixelData || !pixelData->m_children.empty() || file.Pixel().numberOfFrames == 0 ||
        pixelData->FrameCount() == 0)
        return 0;
    std::size_t added = 0;
    const uint64_t size = pixelData->FrameSize();
    const std::u16string vr = pixelData->m_vr.GetVR();
    for (std::size_t k = 0; k < pixelData->FrameCount(); ++k) {
        // Frame numbers are 16-bit and a frame node's length 32-bit.
        if (k + 1 > 0xFFFF || size >= kUndefinedLength) break;
        // The node refers to the frame's bytes in the file.
        auto node = std::make_unique<CDicomTag>(quillon::rules::kFrameNodeGroup, uint16_t(k + 1));
        node->m_dataOffset = pixelData->FrameOffset(k);
        node->ReferValue(pixelData->FrameSource(), uint32_t(size), pixelData->FrameSwapUnit(), true);
        node->SetVR(vr);
        node->m_description = u"Frame Data";
        pixelData->AddChild(std::move(node));
        ++added;
    }
    return added;
}

namespace {

constexpr std::size_t kNoIndex = std::size_t(-1);

std::size_t ChildIndex(const CDicomTag* parent, const CDicomTag* child) {
    for (std::size_t i = 0; i < parent->m_children.size(); ++i)
        if (parent->m_children[i].get() == child) return i;
    return kNoIndex;
}

// The frames of the first top-level Pixel Data element's fragments.
quillon::FrameFragments PixelFragments(const CDicomFile& file) {
    const CDicomTag* pixelData = file.PixelData();
    if (!pixelData || pixelData->m_children.size() < 2 || !pixelData->m_children[0] ||
        !pixelData->m_children[0]->IsItem())
        return {};
    return quillon::FrameFragments::Read(*pixelData, file.Pixel().numberOfFrames);
}

// The label rules with the first top-level Pixel Data element and the
// element's position among its siblings already known (the tree walk has both;
// looking them up per element would make the walk quadratic).
std::u16string Label(const CDicomTag* pixelData, const quillon::FrameFragments& fragments, const CDicomTag* element,
                     std::size_t childIndex, std::size_t thumbnailCount) {
    if (element->m_group == quillon::rules::kFrameNodeGroup && pixelData && element->m_parent == pixelData)
        return Format16("Frame %04d", int(element->m_element));
    if (element->IsItem()) {
        // The basic offset table (child 0) keeps the item label; a fragment
        // is labelled with the frame that owns it, while there are that many
        // thumbnails: "Frame 0003" where the frame starts, "Frame 0003
        // (part 2)" for the fragments that continue it.
        if (pixelData && element->m_parent == pixelData && childIndex != kNoIndex && childIndex >= 1) {
            const std::optional<std::size_t> owner = fragments.Owner(childIndex - 1);
            if (owner && *owner < thumbnailCount) {
                const std::size_t part = childIndex - 1 - fragments.Range(*owner).first;
                if (part == 0) return Format16("Frame %04d", int(*owner + 1));
                return Format16("Frame %04d (part %zu)", int(*owner + 1), part + 1);
            }
        }
        return Format16("(%04X,%04X)  SQ Item", 0xFFFE, 0xE000);
    }
    return Format16("(%04X,%04X)  ", element->m_group, element->m_element) + element->GetDescription();
}

struct Walk {
    const CDicomTag* pixelData;
    const quillon::FrameFragments& fragments;
    std::size_t thumbnailCount;
    std::vector<TreeItemRecord>& out;

    void Add(CDicomTag* element, std::size_t childIndex, int depth, const std::u16string& charset, std::size_t parent,
             std::size_t row) {
        if (!element) return;
        const std::size_t index = out.size();
        out.push_back({element, depth, charset, Label(pixelData, fragments, element, childIndex, thumbnailCount), parent, row, 0});
        // A (0008,0005) among the direct children sets the character set of
        // the children and their descendants, not of the element itself.
        const std::u16string* childCharset = &charset;
        std::u16string own;
        for (const auto& child : element->m_children) {
            if (child && child->Is(quillon::tags::kSpecificCharacterSet)) {
                own = child->GetValueText(u"");
                childCharset = &own;
                break;
            }
        }
        std::size_t childRow = 0;
        for (std::size_t i = 0; i < element->m_children.size(); ++i) {
            if (!element->m_children[i]) continue;
            Add(element->m_children[i].get(), i, depth + 1, *childCharset, index, childRow++);
        }
        out[index].end = out.size();
    }
};

}  // namespace

std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount) {
    if (!element) return {};
    const CDicomTag* pixelData = file.PixelData();
    const std::size_t childIndex =
        (pixelData && element->m_parent == pixelData) ? ChildIndex(pixelData, element) : kNoIndex;
    return Label(pixelData, PixelFragments(file), element, childIndex, thumbnailCount);
}

std::vector<TreeItemRecord> BuildTreeRecords(const CDicomFile& file, std::size_t thumbnailCount) {
    std::vector<TreeItemRecord> records;
    const std::u16string charset = file.GetSpecificCharacterSet();
    const quillon::FrameFragments fragments = PixelFragments(file);
    Walk walk{file.PixelData(), fragments, thumbnailCount, records};
    std::size_t row = 0;
    for (const auto& element : file.Elements()) {
        if (!element) continue;
        walk.Add(element.get(), kNoIndex, 0, charset, kRootRecord, row++);
    }
    return records;
}
