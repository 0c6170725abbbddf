#pragma once
// Two loaded files compared element by element. Elements are aligned by tag
// path (tag and which of the siblings with that tag, level by level, through
// sequences and items), so that an element inserted or removed leaves the
// rest aligned. Values are compared as the elements hold them (in machine
// byte order), so a file written again in another transfer syntax differs
// only where the encoding shows: its meta information, its VRs and lengths
// where they change, and its offsets.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "document/DocumentTree.h"

namespace quillon {

enum class DiffKind {
    Added,    // only in B
    Removed,  // only in A
    Changed,  // in both, with another value, VR or length
    Shift,    // in both; from here on B's offsets lie `shift` bytes from A's
};

// What differs in a changed element.
enum DiffWhat : unsigned { kDiffValue = 1, kDiffVR = 2, kDiffLength = 4 };

struct DiffSide {
    uint64_t tagOffset = 0;
    std::string vr;
    uint32_t length = 0;
    // The value as text, cut to its first 64 characters and "..." (empty
    // for an element without a value: a sequence, an item).
    std::u16string value;
};

struct DiffEntry {
    DiffKind kind = DiffKind::Changed;
    TagPath path;
    // A's and B's element; A alone for Removed, B alone for Added.
    std::optional<DiffSide> a, b;
    unsigned what = 0;  // DiffWhat bits, for Changed
    int64_t shift = 0;  // for Shift: B's tag offset minus A's
};

struct DataSetDiff {
    // In the order of a walk of both trees (A's order, B's elements that A
    // lacks where they stand in B).
    std::vector<DiffEntry> entries;
    // No element added, removed or changed.
    bool Equal() const;
};

// Compares two loaded files. The frame nodes the viewer adds under native
// pixel data are left out: the pixel data's value is compared whole.
DataSetDiff DiffDataSets(const CDicomFile& a, const CDicomFile& b);

// A tag path as text: "(0040,A730)[2]/(FFFE,E000)[1]/(0008,0100)", the
// index (from 1) after an item, and after a tag that its siblings repeat.
std::string TagPathText(const TagPath& path);

}  // namespace quillon
