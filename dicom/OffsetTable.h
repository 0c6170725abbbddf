#pragma once
// The Basic Offset Table of encapsulated pixel data read against its fragment
// items. Its entries count from the item tag of the first fragment.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "dicom/DicomTag.h"

struct SOffsetTableEntry {
    uint32_t offset = 0;  // as the table gives it
    // The index (from 0, among the fragments after the table) of the fragment
    // item whose tag lies at that offset; none where no fragment item starts.
    std::optional<std::size_t> fragment;
};

// The entries of the table (the first item under `pixelData`), in table
// order. Empty when the table is empty or cannot be read.
std::vector<SOffsetTableEntry> ResolveOffsetTable(const CDicomTag& pixelData);
