#include "document/DocumentTree.h"

#include <algorithm>
#include <cstring>
#include <functional>
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
    const std::u16string vr = pixelData->m_vr.GetVR();
    for (std::size_t k = 0; k < pixelData->FrameCount(); ++k) {
        // The bytes of the frame that the value holds: fewer (or none) where
        // the value is shorter than its frames.
        const uint64_t size = pixelData->FrameBytes(k);
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
    const std::size_t i = parent->IndexOfChild(child);
    return i == SIZE_MAX ? kNoIndex : i;
}

// The frames of the first top-level Pixel Data element's fragments; none
// where its first child is no offset table item.
const quillon::FrameFragments& PixelFragments(const CDicomFile& file) {
    static const quillon::FrameFragments none;
    const CDicomTag* pixelData = file.PixelData();
    if (!pixelData || pixelData->ChildCount() < 2 || pixelData->m_children.empty() || !pixelData->m_children[0] ||
        !pixelData->m_children[0]->IsItem())
        return none;
    return file.Fragments();
}

// Appends n in decimal, at least `width` digits.
void AppendDecimal(std::u16string& out, std::size_t n, int width) {
    char16_t digits[24];
    int count = 0;
    do {
        digits[count++] = char16_t(u'0' + n % 10);
        n /= 10;
    } while (n != 0 && count < 24);
    for (int i = count; i < width; ++i) out += u'0';
    while (count > 0) out += digits[--count];
}

// "Frame %04d", and " (part %zu)" after it for a part past the first; made
// by hand, as a file may hold millions of fragments to label.
std::u16string FrameLabel(std::size_t frame, std::size_t part) {
    std::u16string label = u"Frame ";
    label.reserve(32);
    AppendDecimal(label, frame, 4);
    if (part > 1) {
        label += u" (part ";
        AppendDecimal(label, part, 1);
        label += u')';
    }
    return label;
}

// The label of an item that is child `childIndex` of `parent`.
std::u16string ItemLabel(const CDicomTag* pixelData, const quillon::FrameFragments& fragments, const CDicomTag* parent,
                         std::size_t childIndex, std::size_t thumbnailCount) {
    // The basic offset table (child 0) keeps the item label; a fragment
    // is labelled with the frame that owns it, while there are that many
    // thumbnails: "Frame 0003" where the frame starts, "Frame 0003
    // (part 2)" for the fragments that continue it.
    if (pixelData && parent == pixelData && childIndex != kNoIndex && childIndex >= 1) {
        const std::optional<std::size_t> owner = fragments.Owner(childIndex - 1);
        if (owner && *owner < thumbnailCount) {
            const std::size_t part = childIndex - 1 - fragments.Range(*owner).first;
            return FrameLabel(*owner + 1, part + 1);
        }
    }
    return Format16("(%04X,%04X)  SQ Item", 0xFFFE, 0xE000);
}

// The label rules with the first top-level Pixel Data element and the
// element's position among its siblings already known (the tree walk has both;
// looking them up per element would make the walk quadratic).
std::u16string Label(const CDicomTag* pixelData, const quillon::FrameFragments& fragments, const CDicomTag* element,
                     std::size_t childIndex, std::size_t thumbnailCount) {
    if (element->m_group == quillon::rules::kFrameNodeGroup && pixelData && element->m_parent == pixelData)
        return Format16("Frame %04d", int(element->m_element));
    if (element->IsItem()) return ItemLabel(pixelData, fragments, element->m_parent, childIndex, thumbnailCount);
    return Format16("(%04X,%04X)  ", element->m_group, element->m_element) + element->GetDescription();
}

// Whether child i of `element` is held compactly, without a node of its own
// until one is asked for (such children are items, and have none of their own).
bool HeldCompactly(const CDicomTag* element, std::size_t i) { return i >= element->m_children.size(); }

struct Walk {
    const CDicomTag* pixelData;
    const quillon::FrameFragments& fragments;
    std::size_t thumbnailCount;
    // The table being built, or null when each record goes to `visit` as
    // soon as it is made and is not kept. Neither keeps the nodes of
    // children held compactly.
    std::vector<TreeItemRecord>* out;
    const std::function<void(const TreeItemRecord&, CDicomTag*, const std::u16string&)>* visit = nullptr;
    std::size_t made = 0;

    void Add(CDicomTag* element, std::size_t childIndex, int depth, const quillon::InternedText& charset,
             std::size_t parent, std::size_t row) {
        if (!element) return;
        const std::size_t index = made++;
        TreeItemRecord record{element, charset, parent, 0, kNoChild, int32_t(depth), uint32_t(row)};
        if (out)
            out->push_back(record);
        else
            (*visit)(record, element, Label(pixelData, fragments, element, childIndex, thumbnailCount));
        // A (0008,0005) among the direct children sets the character set of
        // the children and their descendants, not of the element itself.
        const quillon::InternedText* childCharset = &charset;
        quillon::InternedText own;
        const std::size_t children = element->ChildCount();
        std::unique_ptr<CDicomTag> scratch;
        // Children held compactly are items, never a (0008,0005): only the
        // nodes are looked at.
        for (const auto& c : element->m_children) {
            if (c && c->Is(quillon::tags::kSpecificCharacterSet)) {
                own = c->GetValueText(u"");
                childCharset = &own;
                break;
            }
        }
        std::size_t childRow = 0;
        for (std::size_t i = 0; i < children; ++i) {
            if (HeldCompactly(element, i)) {
                // A leaf whose record names its parent and its index.
                TreeItemRecord leaf{element, *childCharset, index, 0, i, int32_t(depth + 1), uint32_t(childRow)};
                if (out) {
                    leaf.end = ++made;
                    out->push_back(leaf);
                } else if (CDicomTag* c = element->PeekChild(i, scratch)) {
                    ++made;
                    (*visit)(leaf, c, ItemLabel(pixelData, fragments, element, i, thumbnailCount));
                } else {
                    continue;
                }
                ++childRow;
                continue;
            }
            CDicomTag* c = element->Child(i);
            if (!c) continue;
            Add(c, i, depth + 1, *childCharset, index, childRow++);
        }
        if (out) (*out)[index].end = made;
    }

    void AddAll(const CDicomFile& file) {
        const quillon::InternedText charset(file.GetSpecificCharacterSet());
        std::size_t row = 0;
        for (const auto& element : file.Elements()) {
            if (!element) continue;
            Add(element.get(), kNoIndex, 0, charset, kRootRecord, row++);
        }
    }
};

std::size_t CountNodes(const CDicomTag* element) {
    // Children held compactly are leaves: counted, not made.
    std::size_t count = 1 + (element->ChildCount() - element->m_children.size());
    for (const auto& child : element->m_children)
        if (child) count += CountNodes(child.get());
    return count;
}

}  // namespace

std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount) {
    if (!element) return {};
    const CDicomTag* pixelData = file.PixelData();
    const std::size_t childIndex =
        (pixelData && element->m_parent == pixelData) ? ChildIndex(pixelData, element) : kNoIndex;
    return Label(pixelData, PixelFragments(file), element, childIndex, thumbnailCount);
}

ElementKey KeyOfElement(const CDicomTag* element) {
    if (element && element->m_parent) {
        const std::size_t i = element->m_parent->IndexOfChild(element);
        if (i != SIZE_MAX && HeldCompactly(element->m_parent, i)) return {element->m_parent, i};
    }
    return {element, kNoChild};
}

std::u16string RecordLabel(const CDicomFile& file, const TreeItemRecord& record, std::size_t thumbnailCount) {
    if (!record.node) return {};
    if (record.child == kNoChild) return ElementLabel(file, record.node, thumbnailCount);
    return ItemLabel(file.PixelData(), PixelFragments(file), record.node, record.child, thumbnailCount);
}

std::vector<TreeItemRecord> BuildTreeRecords(const CDicomFile& file, std::size_t thumbnailCount) {
    std::vector<TreeItemRecord> records;
    // Counted first: a table grown by doubling would hold up to twice the
    // records of a file of millions of fragment items.
    std::size_t count = 0;
    for (const auto& element : file.Elements())
        if (element) count += CountNodes(element.get());
    records.reserve(count);
    const quillon::FrameFragments& fragments = PixelFragments(file);
    Walk walk{file.PixelData(), fragments, thumbnailCount, &records};
    walk.AddAll(file);
    return records;
}

namespace {

// Record indices of the children of `parent` (kRootRecord: the top level),
// handed one by one to `visit` until it returns true.
template <class Visit>
void VisitChildren(const std::vector<TreeItemRecord>& records, std::size_t parent, Visit visit) {
    std::size_t i = parent == kRootRecord ? 0 : parent + 1;
    const std::size_t end = parent == kRootRecord ? records.size() : records[parent].end;
    while (i < end) {
        if (visit(i)) return;
        i = std::max(records[i].end, i + 1);
    }
}

bool SameTag(const TreeItemRecord& record, uint16_t group, uint16_t element) { return record.IsTag(group, element); }

}  // namespace

TagPath TagPathOf(const std::vector<TreeItemRecord>& records, std::size_t record) {
    TagPath path;
    for (std::size_t i = record; i < records.size(); i = records[i].parent) {
        const TreeItemRecord& r = records[i];
        if (!r.node) return {};
        TagStep step{r.node->m_group, r.node->m_element, 0};
        if (r.child != kNoChild) step = TagStep{0xFFFE, 0xE000, 0};
        VisitChildren(records, records[i].parent, [&](std::size_t sibling) {
            if (sibling == i) return true;
            if (SameTag(records[sibling], step.group, step.element)) ++step.nth;
            return false;
        });
        path.push_back(step);
        if (records[i].parent == kRootRecord) break;
    }
    return TagPath(path.rbegin(), path.rend());
}

std::optional<std::size_t> RecordOfTagPath(const std::vector<TreeItemRecord>& records, const TagPath& path) {
    std::size_t parent = kRootRecord;
    for (const TagStep& step : path) {
        std::optional<std::size_t> found;
        std::size_t seen = 0;
        VisitChildren(records, parent, [&](std::size_t child) {
            if (!SameTag(records[child], step.group, step.element)) return false;
            if (seen++ == step.nth) found = child;
            return found.has_value();
        });
        if (!found) return std::nullopt;
        parent = *found;
    }
    if (path.empty()) return std::nullopt;
    return parent;
}

void VisitTreeRecords(
    const CDicomFile& file, std::size_t thumbnailCount,
    const std::function<void(const TreeItemRecord&, CDicomTag* element, const std::u16string& label)>& visit) {
    const quillon::FrameFragments& fragments = PixelFragments(file);
    Walk walk{file.PixelData(), fragments, thumbnailCount, nullptr, &visit};
    walk.AddAll(file);
}
