#include "dicom/OffsetTable.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// The fragment items after the offset table, read where the pixel data holds
// them: compactly (the top-level Pixel Data) or as nodes (nested in an item).
class FragmentList {
public:
    explicit FragmentList(const CDicomTag& pixelData)
        : m_compact(dynamic_cast<const CDicomTag7FE0*>(&pixelData)), m_items(pixelData.m_children) {}

    std::size_t Count() const {
        if (m_compact && m_compact->FragmentCount() != 0) return m_compact->FragmentCount();
        return m_items.size() > 1 ? m_items.size() - 1 : 0;
    }
    bool Compact() const { return m_compact && m_compact->FragmentCount() != 0; }
    uint64_t TagOffset(std::size_t k) const {
        return Compact() ? m_compact->FragmentTagOffset(k) : m_items[k + 1]->m_dataOffset - 8;
    }
    uint32_t Length(std::size_t k) const {
        return Compact() ? m_compact->FragmentLength(k) : m_items[k + 1]->GetLength();
    }
    bool Copy(std::size_t k, void* dst, uint64_t n) const {
        return Compact() ? m_compact->CopyFragment(k, dst, n) : (m_items[k + 1] && m_items[k + 1]->CopyValue(dst, n));
    }

private:
    const CDicomTag7FE0* m_compact;
    const std::vector<std::unique_ptr<CDicomTag>>& m_items;
};

}  // namespace

std::vector<SOffsetTableEntry> ResolveOffsetTable(const CDicomTag& pixelData) {
    std::vector<SOffsetTableEntry> entries;
    const auto& items = pixelData.m_children;
    if (items.empty() || !items[0]) return entries;
    const FragmentList fragments(pixelData);
    const CDicomTag& table = *items[0];
    const uint32_t length = table.GetLength();
    if (length < 4 || length == kUndefinedLength) return entries;
    const uint32_t entryCount = length / 4;
    // A long table is read from the file.
    const SValueBytes value = table.ValueBytes();
    if (!value || value.size < 4 * uint64_t(entryCount)) return entries;
    try {
        // Item tags of the fragments, relative to the first one's, ascending
        // as the items lie in the file.
        std::vector<uint64_t> starts;
        const std::size_t count = fragments.Count();
        starts.reserve(count);
        const uint64_t first = count ? fragments.TagOffset(0) : 0;
        for (std::size_t k = 0; k < count; ++k) starts.push_back(fragments.TagOffset(k) - first);

        entries.resize(entryCount);
        for (uint32_t i = 0; i < entryCount; ++i) {
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

namespace quillon {

namespace {

// Frame n's first fragment from the table entries, when the table names one
// fragment per frame: offsets from the first fragment's item tag, ascending,
// each on an item tag, the first on the first fragment.
bool TableNamesEachFrame(const std::vector<SOffsetTableEntry>& entries, uint32_t frames,
                         std::vector<std::size_t>& starts) {
    if (entries.size() != frames) return false;
    starts.clear();
    for (uint32_t n = 0; n < frames; ++n) {
        const std::optional<std::size_t>& fragment = entries[n].fragment;
        if (!fragment || (n == 0 ? *fragment != 0 : *fragment <= starts.back())) return false;
        starts.push_back(*fragment);
    }
    return true;
}

// The bytes a frame's codestream begins with, for each compression whose
// streams say where they start: a fragment that begins with one of these
// starts a frame. A codec whose stream has a start marker adds its row here.
// None of them can begin a continuation fragment of its own kind: inside
// JPEG entropy-coded data FF is followed by 00 or a restart marker, and JPEG
// 2000 codestreams carry FF4F only at their start. JPEG 2000 packet data may
// hold FF 0A, the start of a JPEG XL codestream, so a fragment counts as a
// start only when its marker is of the first fragment's kind. JPEG XL data
// itself is not stuffed: a continuation fragment that happens to begin with
// FF 0A gives one start too many, and the frames stay unresolved. RLE has no
// marker: its frames are one fragment each.
struct StartMarker {
    uint8_t bytes[8];
    std::size_t size;
    int kind;
};
constexpr StartMarker kStartMarkers[] = {
    {{0xFF, 0xD8, 0xFF}, 3, 0},                                // JPEG and JPEG-LS SOI, then a marker
    {{0xFF, 0x4F, 0xFF, 0x51}, 4, 1},                          // JPEG 2000 and HTJ2K SOC, then SIZ
    {{0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20}, 8, 1},  // JP2 signature box
    {{0x00, 0x00, 0x00, 0x0C, 0x4A, 0x58, 0x4C, 0x20}, 8, 2},  // JPEG XL signature box
    {{0xFF, 0x0A}, 2, 2},                                      // JPEG XL codestream
};
constexpr std::size_t kLongestStartMarker = 8;

// The kind of codestream the fragment begins, or -1 when it begins none.
int StartsCodestream(const FragmentList& fragments, std::size_t k) {
    const uint32_t length = fragments.Length(k);
    if (length == kUndefinedLength || length < 3) return -1;
    uint8_t head[kLongestStartMarker] = {};
    const std::size_t n = std::min<std::size_t>(length, kLongestStartMarker);
    if (!fragments.Copy(k, head, n)) return -1;
    for (const StartMarker& marker : kStartMarkers)
        if (n >= marker.size && std::equal(marker.bytes, marker.bytes + marker.size, head)) return marker.kind;
    return -1;
}

// Frame n's first fragment from the codestreams' own start markers, when
// exactly `frames` fragments begin with one of the first fragment's kind
// and the first fragment does.
bool MarkersNameEachFrame(const FragmentList& fragments, uint32_t frames, std::vector<std::size_t>& starts) {
    starts.clear();
    int firstKind = -1;
    for (std::size_t k = 0; k < fragments.Count(); ++k) {
        const int kind = StartsCodestream(fragments, k);
        if (k == 0) {
            if (kind < 0) return false;
            firstKind = kind;
        }
        if (kind != firstKind) continue;
        if (starts.size() == frames) return false;
        starts.push_back(k);
    }
    return starts.size() == frames;
}

// Frame n's first fragment from the Extended Offset Table, when it has one
// 64-bit entry per frame (little endian, as every encapsulated syntax is),
// each on a fragment's item tag, ascending, the first on the first fragment.
bool ExtendedTableNamesEachFrame(const CDicomTag& extended, const FragmentList& fragments, uint32_t frames,
                                 std::vector<std::size_t>& starts) {
    const uint32_t length = extended.GetLength();
    const std::size_t count = fragments.Count();
    if (length == kUndefinedLength || length != 8 * uint64_t(frames) || count == 0) return false;
    const SValueBytes value = extended.ValueBytes();
    if (!value || value.size < length) return false;
    const uint64_t first = fragments.TagOffset(0);
    starts.clear();
    std::size_t k = 0;  // the fragments are walked once, as the offsets ascend
    for (uint32_t n = 0; n < frames; ++n) {
        uint64_t offset = 0;
        for (int b = 7; b >= 0; --b) offset = offset << 8 | value.data[8 * n + b];
        while (k < count && fragments.TagOffset(k) - first < offset) ++k;
        if (k == count || fragments.TagOffset(k) - first != offset) return false;
        if (n == 0 ? k != 0 : k <= starts.back()) return false;
        starts.push_back(k);
    }
    return true;
}

}  // namespace

FrameFragments FrameFragments::Read(const CDicomTag& pixelData, uint32_t frames, const CDicomTag* extendedOffsets) {
    FrameFragments result;
    const auto& items = pixelData.m_children;
    const FragmentList list(pixelData);
    if (items.empty() || list.Count() == 0) return result;
    const std::size_t fragments = list.Count();
    try {
        // The table is read from the file only when it is asked for, once.
        std::optional<std::vector<SOffsetTableEntry>> entries;
        auto table = [&]() -> const std::vector<SOffsetTableEntry>& {
            if (!entries) entries = ResolveOffsetTable(pixelData);
            return *entries;
        };
        if (items[0]->IsItem()) {
            const std::vector<SOffsetTableEntry>& said = table();
            for (std::size_t i = 0; i < said.size(); ++i)
                if (said[i].fragment) result.m_tableStarts.emplace_back(*said[i].fragment, uint32_t(i));
            std::sort(result.m_tableStarts.begin(), result.m_tableStarts.end());
        }
        const uint32_t tableLength = items[0]->GetLength();
        result.m_fragments = fragments;
        if (frames == 1) {
            result.m_rule = Rule::Single;
            result.m_frames = 1;
        } else if (frames > 1 && extendedOffsets &&
                   ExtendedTableNamesEachFrame(*extendedOffsets, list, frames, result.m_starts)) {
            result.m_rule = Rule::Table;
            result.m_frames = frames;
        } else if (frames > 1 && tableLength % 4 == 0 && tableLength / 4 == frames &&
                   TableNamesEachFrame(table(), frames, result.m_starts)) {
            result.m_rule = Rule::Table;
            result.m_frames = frames;
        } else if (frames > 1 && fragments > frames && MarkersNameEachFrame(list, frames, result.m_starts)) {
            // No usable table: where the streams say they start.
            result.m_rule = Rule::Table;
            result.m_frames = frames;
        } else {
            result.m_rule = Rule::OnePerFrame;
            result.m_frames = std::min<std::size_t>(frames, fragments);
            result.m_starts.clear();
            // More fragments than frames and nothing says which frame owns
            // them: the frames are not known, which the offset-table check
            // reports.
            result.m_unresolved = frames > 1 && fragments > frames;
        }
    } catch (const std::bad_alloc&) {
        result = FrameFragments();
    }
    return result;
}

FrameFragments FrameFragments::OnePerFrame(std::size_t frames, std::size_t fragments) {
    FrameFragments result;
    result.m_rule = Rule::OnePerFrame;
    result.m_frames = std::min(frames, fragments);
    result.m_fragments = fragments;
    return result;
}

std::size_t FrameFragments::FrameCount() const { return m_rule == Rule::None ? 0 : m_frames; }

FragmentRange FrameFragments::Range(std::size_t frame) const {
    if (frame >= FrameCount()) return {};
    switch (m_rule) {
        case Rule::Single: return {0, m_fragments};
        case Rule::OnePerFrame: return {frame, frame + 1};
        case Rule::Table: return {m_starts[frame], frame + 1 < m_starts.size() ? m_starts[frame + 1] : m_fragments};
        case Rule::None: break;
    }
    return {};
}

std::optional<std::size_t> FrameFragments::Owner(std::size_t fragment) const {
    if (fragment >= m_fragments) return std::nullopt;
    switch (m_rule) {
        case Rule::Single: return 0;
        case Rule::OnePerFrame: return fragment < m_frames ? std::optional<std::size_t>(fragment) : std::nullopt;
        case Rule::Table: {
            // The first start is fragment 0: every fragment has a frame.
            const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), fragment);
            return std::size_t(after - m_starts.begin()) - 1;
        }
        case Rule::None: break;
    }
    return std::nullopt;
}

}  // namespace quillon
