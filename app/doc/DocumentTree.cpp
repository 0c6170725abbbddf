#include "app/doc/DocumentTree.h"

#include <cstring>

#include "dicom/TextUtil.h"

using quillon::Format16;

std::size_t AddFrameNodes(CDicomFile& file) {
    auto* pixelData = dynamic_cast<CDicomTag7FE0*>(file.Find(0x7FE0, 0x0010));
    if (!pixelData || !pixelData->m_children.empty() || file.m_numberOfFrames == 0 || pixelData->m_frames.empty())
        return 0;
    std::size_t added = 0;
    uint64_t offset = pixelData->m_dataOffset;
    const std::u16string vr = pixelData->m_vr.GetVR();
    for (std::size_t k = 0; k < pixelData->m_frames.size(); ++k) {
        const uint64_t size = k < pixelData->m_frameSizes.size() ? pixelData->m_frameSizes[k] : 0;
        // Frame numbers are 16-bit and a frame node's length 32-bit.
        if (k + 1 > 0xFFFF || size >= kUndefinedLength) break;
        const uint8_t* source = pixelData->m_frames[k];
        auto* copy = static_cast<uint8_t*>(quillon::AllocBlock(size));
        if (copy) {
            if (size && source) std::memcpy(copy, source, size);
            auto* node = new CDicomTag(0x0000, uint16_t(k + 1));
            node->AdoptLongValue(copy, uint32_t(size));
            node->m_dataOffset = offset;
            node->SetVR(vr);
            node->m_description = u"Frame Data";
            pixelData->AddChild(node);
            ++added;
        }
        offset += size;
    }
    return added;
}

namespace {

std::size_t ChildIndex(const CDicomTag* parent, const CDicomTag* child) {
    for (std::size_t i = 0; i < parent->m_children.size(); ++i)
        if (parent->m_children[i].get() == child) return i;
    return std::size_t(-1);
}

}  // namespace

std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount) {
    const CDicomTag* pixelData = file.Find(0x7FE0, 0x0010);
    if (element->m_group == 0x0000 && pixelData && element->m_parent == pixelData)
        return Format16("Frame %04d", int(element->m_element));
    if (element->IsItem()) {
        if (pixelData && element->m_parent == pixelData) {
            const std::size_t j = ChildIndex(pixelData, element);
            if (j != std::size_t(-1) && j >= 1 && thumbnailCount >= j) return Format16("Frame %04d", int(j));
        }
        return Format16("(%04X,%04X)  SQ Item", 0xFFFE, 0xE000);
    }
    return Format16("(%04X,%04X)  ", element->m_group, element->m_element) + element->GetDescription();
}

namespace {

void AddRecords(const CDicomFile& file, CDicomTag* element, int depth, const std::u16string& charset,
                std::size_t thumbnailCount, std::vector<TreeItemRecord>& out) {
    if (!element) return;
    out.push_back({element, depth, charset, ElementLabel(file, element, thumbnailCount)});
    const std::u16string* childCharset = &charset;
    std::u16string own;
    for (const auto& child : element->m_children) {
        if (child && child->Is(0x0008, 0x0005)) {
            own = child->GetValueText(u"");
            childCharset = &own;
            break;
        }
    }
    for (const auto& child : element->m_children)
        AddRecords(file, child.get(), depth + 1, *childCharset, thumbnailCount, out);
}

}  // namespace

std::vector<TreeItemRecord> BuildTreeRecords(const CDicomFile& file, std::size_t thumbnailCount) {
    std::vector<TreeItemRecord> records;
    const std::u16string charset = file.GetSpecificCharacterSet();
    for (const auto& element : file.m_tags) AddRecords(file, element.get(), 0, charset, thumbnailCount, records);
    return records;
}
