#pragma once
// The element tree as the main window shows it: frame nodes of native pixel
// data, the pre-order records with the character set in force, and labels.
// Plain C++, shared by the window and the command-line tools.
#include <cstddef>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"

// One tree item: the element it stands for, its depth below the root, the
// Specific Character Set text in force for its value, and its label.
struct TreeItemRecord {
    CDicomTag* element = nullptr;
    int depth = 0;
    std::u16string charset;
    std::u16string label;
};

// Adds one "Frame Data" node per native frame under the first top-level
// Pixel Data element (tags (0000,n), n from 1). Returns the number added.
std::size_t AddFrameNodes(CDicomFile& file);

// Label of a tree item: "(%04X,%04X)  %s", "(%04X,%04X)  SQ Item" or "Frame %04d".
std::u16string ElementLabel(const CDicomFile& file, const CDicomTag* element, std::size_t thumbnailCount);

// Pre-order records of the whole tree (the root, labelled with the path, has none).
std::vector<TreeItemRecord> BuildTreeRecords(const CDicomFile& file, std::size_t thumbnailCount);
