#include "doc/FrameStarts.h"

#include <algorithm>

#include "dicom/TextUtil.h"

namespace {

// Frames listed by number before the rest are only counted.
constexpr std::size_t kListedFrames = 5;

}  // namespace

CFrameStarts::CFrameStarts(const CDicomFile& file) {
    const CDicomTag* pixelData = file.Find(0x7FE0, 0x0010);
    if (!pixelData || pixelData->m_children.size() < 2) return;
    const auto& items = pixelData->m_children;
    const CDicomTag* table = items[0].get();
    if (!table || !table->IsItem() || !table->HasValue()) return;
    // Offsets count from the item tag of the first fragment, as the items lie
    // in the file (the same reading as the loader's offset-table check).
    std::vector<std::pair<uint64_t, const CDicomTag*>> fragments;
    for (std::size_t k = 1; k < items.size(); ++k)
        if (items[k] && items[k]->m_dataOffset >= 8) fragments.emplace_back(items[k]->m_dataOffset - 8, items[k].get());
    if (fragments.empty() || !items[1]) return;
    const uint64_t first = items[1]->m_dataOffset - 8;
    std::sort(fragments.begin(), fragments.end());
    // A long table is read from the file.
    const SValueBytes value = table->ValueBytes();
    if (!value) return;
    const uint32_t entries = uint32_t(value.size / 4);
    const uint8_t* entry = value.data;
    for (uint32_t i = 0; i < entries; ++i, entry += 4) {
        const uint64_t offset =
            uint32_t(entry[0]) | uint32_t(entry[1]) << 8 | uint32_t(entry[2]) << 16 | uint32_t(entry[3]) << 24;
        const auto at = std::lower_bound(fragments.begin(), fragments.end(), first + offset,
                                         [](const auto& fragment, uint64_t at) { return fragment.first < at; });
        if (at == fragments.end() || at->first != first + offset) continue;
        m_starts.emplace_back(at->second, i + 1);
    }
    std::sort(m_starts.begin(), m_starts.end());
}

std::vector<uint32_t> CFrameStarts::FramesAt(const CDicomTag* item) const {
    std::vector<uint32_t> frames;
    auto at = std::lower_bound(m_starts.begin(), m_starts.end(), std::make_pair(item, uint32_t(0)));
    for (; at != m_starts.end() && at->first == item; ++at) frames.push_back(at->second);
    return frames;
}

std::u16string CFrameStarts::ItemDescription(const CDicomTag* item) const {
    std::u16string text = u"SQ Item";
    if (m_starts.empty() || !item) return text;
    const std::vector<uint32_t> frames = FramesAt(item);
    if (frames.empty()) return text;
    if (frames.size() == 1) return text + quillon::Format16(" (Frame %u starts here)", frames[0]);
    text += u" (Frames ";
    const std::size_t listed = std::min(frames.size(), kListedFrames);
    for (std::size_t i = 0; i < listed; ++i) {
        if (i > 0) text += u", ";
        text += quillon::Format16("%u", frames[i]);
    }
    if (frames.size() > listed) text += quillon::Format16(" and %zu more", frames.size() - listed);
    return text + u" start here)";
}
