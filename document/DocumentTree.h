#pragma once
// The element tree as the main window shows it: frame nodes of native pixel
// data, the pre-order records with the character set in force, and labels.
// Plain C++, shared by the window and the command-line tools.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/InternedText.h"

// Parent index of a record that hangs directly under the root item.
constexpr std::size_t kRootRecord = std::size_t(-1);

// Index of no child: a record of a node that is kept as a node.
constexpr std::size_t kNoChild = std::size_t(-1);

// One tree item: the element it stands for, its depth below the root, and
// the Specific Character Set text in force for its value. The records are in
// pre-order; `parent` is the index of the parent's record (kRootRecord under
// the root), `row` the position among its siblings and `end` one past the
// index of its last descendant, so that records [index + 1, end) are exactly
// its subtree.
//
// A file may hold millions of fragment items, which their Pixel Data element
// keeps compactly (CDicomTag::ChildCount): their records hold that element
// and the child's index, and the child's node is made only when Element()
// asks for it. 48 bytes a record, and no label: RecordLabel makes it when a
// row is shown.
struct TreeItemRecord {
    // The element, or for a child held compactly its parent.
    CDicomTag* node = nullptr;
    // Interned: a file holds few character sets.
    quillon::InternedText charset;
    std::size_t parent = kRootRecord;
    std::size_t end = 0;
    // Which child of `node` the record stands for; kNoChild: `node` itself.
    std::size_t child = kNoChild;
    int32_t depth = 0;
    // A Qt model shows at most INT_MAX rows under a parent.
    uint32_t row = 0;

    // The element; a compactly held child's node is made (and kept with the tree).
    CDicomTag* Element() const { return child == kNoChild ? node : (node ? node->Child(child) : nullptr); }
    // The element for a look: a compactly held child is made in `scratch`
    // (valid until its next use) and not kept.
    const CDicomTag* PeekElement(std::unique_ptr<CDicomTag>& scratch) const {
        return child == kNoChild ? node : (node ? node->PeekChild(child, scratch) : nullptr);
    }
    bool HasElement() const { return node != nullptr; }
    // Whether the element has this tag; children held compactly are items.
    bool IsTag(uint16_t group, uint16_t element) const {
        if (!node) return false;
        if (child != kNoChild) return group == 0xFFFE && element == 0xE000;
        return node->m_group == group && node->m_element == element;
    }
};

// What a record stands for, comparable with an element without making the
// node of a child held compactly: (node, kNoChild), or (parent, index).
using ElementKey = std::pair<const CDicomTag*, std::size_t>;
inline ElementKey KeyOf(const TreeItemRecord& record) { return {record.node, record.child}; }
// The key of an element's record (a child held compactly: by its parent and index).
ElementKey KeyOfElement(const CDicomTag* element);

// Adds one "Frame Data" node per native frame under the first top-level
// Pixel Data element (tags (0000,n), n from 1), at the frame's offset in the
// file. Each node's value is its frame's bytes, left in the file where they
// lie. Returns the number of nodes added.
std::size_t AddFrameNodes(CDicomFile& file);

// Label of a tree item: "(%04X,%04X)  %s", "(%04X,%04X)  SQ Item", "Frame %04d"
// (a frame node, a frame's first fragment) or "Frame %04d (part %zu)" (a
// fragment that continues a frame, counted from 1 at the frame's first).
std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount);
// The label of a record, the same as ElementLabel of its element, made
// without making a compactly held child's node.
std::u16string RecordLabel(const CDicomFile& file, const TreeItemRecord& record, std::size_t thumbnailCount);

// Pre-order records of the whole tree (the root, labelled with the path, has none).
// Throws std::bad_alloc when the table cannot grow.
std::vector<TreeItemRecord> BuildTreeRecords(const CDicomFile& file, std::size_t thumbnailCount);

// Where an element sits in the tree, told by tags rather than by record
// index, so that it can be found again in the tree of the same file read
// anew: from the top level down, each step is a tag and which of the
// siblings with that tag it is (0 for the first; items all share one tag).
struct TagStep {
    uint16_t group = 0;
    uint16_t element = 0;
    std::size_t nth = 0;
    bool operator==(const TagStep&) const = default;
};
using TagPath = std::vector<TagStep>;

// The tag path of record `record` of `records` (empty when out of range).
TagPath TagPathOf(const std::vector<TreeItemRecord>& records, std::size_t record);
// The record at the end of `path`; none when a step is missing or the path is empty.
std::optional<std::size_t> RecordOfTagPath(const std::vector<TreeItemRecord>& records, const TagPath& path);
// The records of BuildTreeRecords, each handed to `visit` with its element
// and label as it is made and not kept (`end` is 0): for a single pass over
// the tree, such as writing it out, without a table of one record per
// element. A compactly held child's element is made for the visit only.
void VisitTreeRecords(
    const CDicomFile& file, std::size_t thumbnailCount,
    const std::function<void(const TreeItemRecord&, CDicomTag* element, const std::u16string& label)>& visit);
