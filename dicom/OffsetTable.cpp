#include "dicom/OffsetTable.h"

#include <algorithm>
#include <new>

std::vector<SOffsetTableEntry> ResolveOffsetTable(const CDicomTag& pixelData) {
    std::vector<SOffsetTableEntry> entries;
    const auto& items = pixelData.m_children;
    if (items.empty() || !items[0]) return entries;
    const CDicomTag& table = *items[0];
    const uint32_t length = table.GetLength();
    if (length < 4 || length == kUndefinedLength) return entries;
    const uint32_t count = length / 4;
    // A long table is read from the file.
    const SValueBytes value = table.ValueBytes();
    if (!value || value.size < 4 * uint64_t(count)) return entries;
    try {
        // Item tags of the fragments, relative to the first one's, ascending
        // as the items lie in the file.
        std::vector<uint64_t> starts;
        starts.reserve(items.size() - 1);
        const uint64_t first = items.size() > 1 ? items[1]->m_dataOffset - 8 : 0;
        for (std::size_t k = 1; k < items.size(); ++k) starts.push_back(items[k]->m_dataOffset - 8 - first);

        entries.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* b = value.data + 4 * i;
            SOffsetTableEntry& entry = entries[i];
            entry.offset = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
            const auto at = std::lower_bound(starts.begin(), starts.end(), uint64_t(entry.offset));
            if (at != starts.end() && *at == entry.offset) entry.fragment = std::size_t(at - starts.begin());
        }
    } catch (const std::bad_alloc&) {
        entries.clear();
    }
    return entries;
}
