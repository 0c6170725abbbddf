#pragma once
// The element tree as the main window shows it: frame nodes of native pixel
// data, the pre-order records with the character set in force, and labels.
// Plain C++, shared by the window and the command-line tools.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/InternedText.h"

// Parent index of a record that hangs directly under the root item.
constexpr std::size_t kRootRecord = std::size_t(-1);

// One tree item: the element it stands for, its depth below the root, the
// Specific Character Set text in force for its value, and its label. The
// records are in pre-order; `parent` is the index of the parent's record
// (kRootRecord under the root), `row` the position among its siblings and
// `end` one past the index of its last descendant, so that records
// [index + 1, end) are exactly its subtree.
struct TreeItemRecord {
    CDicomTag* element = nullptr;
    int depth = 0;
    // Interned: a file holds few character sets, and may hold millions of
    // records (fragment items).
    quillon::InternedText charset;
    std::u16string label;
    std::size_t parent = kRootRecord;
    std::size_t row = 0;
    std::size_t end = 0;
};

// Adds one "Frame Data" node per native frame under the first top-level
// Pixel Data element (tags (0000,n), n from 1), at the frame's offset in the
// file. Each node's value is its frame's bytes, left in the file where they
// lie. Returns the number of nodes added.
std::size_t AddFrameNodes(CDicomFile& file);

// Label of a tree item: "(%04X,%04X)  %s", "(%04X,%04X)  SQ Item", "Frame %04d"
// (a frame node, a frame's first fragment) or "Frame %04d (part %zu)" (a
// fragment that continues a frame, counted from 1 at the frame's first).
std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount);

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
// The records of BuildTreeRecords, each handed to `visit` as it is made and
// not kept (`end` is 0): for a single pass over the tree, such as writing
// it out, without a table of one record per element.
void VisitTreeRecords(const CDicomFile& file, std::size_t thumbnailCount,
                      const std::function<void(const TreeItemRecord&)>& visit);
