#pragma once
// The element tree as the main window shows it: frame nodes of native pixel
// data, the pre-order records with the character set in force, and labels.
// Plain C++, shared by the window and the command-line tools.
#include <cstddef>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"

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
    std::u16string charset;
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
