#pragma once
// The Basic Offset Table of encapsulated pixel data read against its fragment
// items. Its entries count from the item tag of the first fragment.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
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

namespace quillon {

// Fragments [first, last), counted from 0 after the offset table.
struct FragmentRange {
    std::size_t first = 0;
    std::size_t last = 0;
};

// Which fragments of encapsulated pixel data make each frame, and which frame
// owns each fragment: the one answer the decoder, the item descriptions and
// the thumbnail lookup share. Worked out once per file.
class FrameFragments {
public:
    FrameFragments() = default;

    // The frames of `pixelData`, as a reader finds their starts: a single
    // frame takes every fragment; an Extended Offset Table
    // (`extendedOffsets`, the (7FE0,0001) element when the data set has one)
    // that names each frame's first fragment consistently gives each frame
    // the fragments up to the next frame's; else a Basic Offset Table that names each
    // frame's first fragment consistently (one entry per frame, the first at
    // the first fragment, ascending, each on an item tag) gives each frame
    // the fragments up to the next frame's; without one, and with more
    // fragments than frames, the fragments that begin a codestream (JPEG,
    // JPEG-LS, JPEG 2000, HTJ2K and JPEG XL start markers, of the first
    // fragment's kind) start the frames when exactly one
    // per frame does; else one fragment per frame (frames past the fragments
    // have none).
    static FrameFragments Read(const CDicomTag& pixelData, uint32_t frames,
                               const CDicomTag* extendedOffsets = nullptr);
    // Frame n is fragment n, for each of `frames` frames that has one,
    // whatever the offset table says.
    static FrameFragments OnePerFrame(std::size_t frames, std::size_t fragments);

    // Frames that have fragments.
    std::size_t FrameCount() const;
    std::size_t FragmentCount() const { return m_fragments; }
    // The fragments of the frame; empty past FrameCount().
    FragmentRange Range(std::size_t frame) const;
    // The frame that owns fragment k; none when no frame does.
    std::optional<std::size_t> Owner(std::size_t fragment) const;

    // What the offset table says, whether or not the frames follow it: for
    // each entry that lands on the item tag of a fragment, (fragment, frame
    // from 0), sorted by fragment, then frame. Empty when the table is empty
    // or the first item is no item.
    const std::vector<std::pair<std::size_t, uint32_t>>& TableStarts() const { return m_tableStarts; }
    // More fragments than frames, and neither the table nor the streams'
    // start markers say which frame owns which: frames were taken one
    // fragment each, and the rest own nothing.
    bool Unresolved() const { return m_unresolved; }

private:
    enum class Rule { None, Single, OnePerFrame, Table };
    Rule m_rule = Rule::None;
    std::size_t m_frames = 0;
    std::size_t m_fragments = 0;
    // Rule::Table: the first fragment of each frame, ascending from 0.
    std::vector<std::size_t> m_starts;
    std::vector<std::pair<std::size_t, uint32_t>> m_tableStarts;
    bool m_unresolved = false;
};

}  // namespace quillon
