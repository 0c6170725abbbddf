#include "document/FrameStarts.h"

#include <algorithm>

#include "dicom/OffsetTable.h"
#include "dicom/TextUtil.h"

namespace {

// Frames listed by number before the rest are only counted.
constexpr std::size_t kListedFrames = 5;

}  // namespace

quillon::FrameStarts::FrameStarts(const CDicomFile& file) {
    const CDicomTag7FE0* pixelData = file.PixelData();
    // Native frames are no fragments: nothing to read.
    if (!pixelData || pixelData->FragmentCount() == 0 || !pixelData->m_children[0]->IsItem()) return;
    m_pixelData = pixelData;
    // The table's word, also where the frames do not follow it.
    const quillon::FrameFragments& fragments = file.Fragments();
    for (const auto& [fragment, frame] : fragments.TableStarts())
        if (fragment < pixelData->FragmentCount())
            m_starts.emplace_back(pixelData->FragmentDataOffset(fragment), frame + 1);
    std::sort(m_starts.begin(), m_starts.end());
}

std::vector<uint32_t> quillon::FrameStarts::FramesAt(const CDicomTag* item) const {
    std::vector<uint32_t> frames;
    if (!item || !m_pixelData || item->m_parent != m_pixelData || !item->IsItem()) return frames;
    const uint64_t offset = item->m_dataOffset;
    auto at = std::lower_bound(m_starts.begin(), m_starts.end(), std::make_pair(offset, uint32_t(0)));
    for (; at != m_starts.end() && at->first == offset; ++at) frames.push_back(at->second);
    return frames;
}

std::u16string quillon::FrameStarts::ItemDescription(const CDicomTag* item) const {
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
