#pragma once
// The element tree: one CDicomTag per node (element, sequence, item,
// offset table, fragment, frame node), CDicomTag7FE0 for the top-level
// Pixel Data element with its native frames.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/DicomVR.h"
#include "dicom/InternedText.h"
#include "dicom/HeapBlock.h"
#include "dicom/Tags.h"

namespace quillon { class FileBytes; }

constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

// Values longer than this are not copied: their node refers to their bytes in
// the file. Shorter ones are held, normalised, by the node.
constexpr uint32_t kHeldValueLimit = 4096;

// The bytes of a value: a view of the block a node holds, or a block read
// from the file for the caller.
struct SValueBytes {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    quillon::HeapPtr<uint8_t> owned;
    explicit operator bool() const { return data != nullptr; }
};

class CTagData {
public:
    CTagData() = default;
    CTagData(const CTagData&) = delete;
    CTagData& operator=(const CTagData&) = delete;
    ~CTagData();

    // Frees the value and zeroes both lengths.
    void Free();

    uint16_t m_shortLength = 0;
    // Bytes of the normalised tail that the block holds after the value
    // (padding of an odd value, a short date filled to 8 bytes).
    uint8_t m_tail = 0;
    // Values in the file: the size of the numbers to swap when they are read
    // (big-endian files), 1 for none.
    uint8_t m_swapUnit = 1;
    uint32_t m_longLength = 0;
    quillon::HeapPtr<uint8_t> m_data;  // plain heap block (malloc)
    // Set instead of m_data for a value left in the file: it is read from
    // there at the node's data offset. The file outlives the tree.
    const quillon::FileBytes* m_source = nullptr;
};

class CDicomTag {
public:
    CDicomTag() = default;
    CDicomTag(uint16_t group, uint16_t element);
    CDicomTag(const CDicomTag&) = delete;
    CDicomTag& operator=(const CDicomTag&) = delete;
    virtual ~CDicomTag();

    bool SetTag(uint16_t group, uint16_t element);
    void SetVR(std::u16string_view vr) { m_vr.SetVR(vr); }
    // Stores a copy of the value and chooses the length form. The length stays
    // the one read from the file; normalising may give the block a padded tail.
    bool SetValue(const uint8_t* bytes, uint32_t length);
    // The value is the `length` bytes at the node's data offset in `source`,
    // read from there when asked for; the length form is chosen as for a held
    // value. `swapUnit`: the size of the numbers to swap on reading (1: none).
    void ReferValue(const quillon::FileBytes* source, uint32_t length, unsigned swapUnit, bool longForm = false);
    // The value length read from the file.
    uint32_t GetLength() const { return m_tagData.m_longLength ? m_tagData.m_longLength : m_tagData.m_shortLength; }
    // The length of the normalised copy in the block: the value and its tail.
    uint64_t GetNormalizedLength() const { return uint64_t(GetLength()) + m_tagData.m_tail; }
    // The value bytes followed by a NUL (all NUL without value); null on
    // allocation failure, on a failed read, and for a value in the file that
    // is longer than kMaxValueString.
    quillon::HeapPtr<char> GetValueString() const;
    static constexpr uint64_t kMaxValueString = 64u << 20;
    // The first `limit` bytes of the value (all of it when shorter): a view of
    // the held block, or read from the file. Empty without a value, or when
    // the read fails.
    SValueBytes ValueBytes(uint64_t limit = UINT64_MAX) const;
    // Copies the first n bytes of the value into dst; false when the value is
    // shorter or cannot be read.
    bool CopyValue(void* dst, uint64_t n) const;
    // Takes the child into the tree (its parent becomes this node); false for null.
    bool AddChild(std::unique_ptr<CDicomTag> child);

    // The children, in file order. A node may hold some of them in a compact
    // form and make their nodes only when asked (CDicomTag7FE0's fragments):
    // walk a tree with these, not with m_children, which holds only the
    // children that are nodes from the start.
    virtual std::size_t ChildCount() const { return m_children.size(); }
    // Child i as a node kept as long as the tree (made now if need be, so
    // that its address may be held); null past the end or when it cannot be made.
    virtual CDicomTag* Child(std::size_t i) const { return i < m_children.size() ? m_children[i].get() : nullptr; }
    // Child i for a look that keeps no pointer to it: the kept node when
    // there is one, else a node made in `scratch` (reused from call to call,
    // valid until the next call with it). Makes no node that stays.
    virtual CDicomTag* PeekChild(std::size_t i, std::unique_ptr<CDicomTag>& scratch) const {
        (void)scratch;
        return Child(i);
    }
    // The position of `child` among the children (a kept node, or one
    // PeekChild made); none (SIZE_MAX) when it is no child of this node.
    virtual std::size_t IndexOfChild(const CDicomTag* child) const;
    void Clear();

    bool IsItem() const { return Is(quillon::tags::kItem); }
    bool Is(uint16_t group, uint16_t element) const { return m_group == group && m_element == element; }
    bool Is(quillon::Tag tag) const { return Is(tag.group, tag.element); }
    // The value block a node holds; null for a value left in the file.
    const uint8_t* GetData() const { return m_tagData.m_data.get(); }
    bool IsValueInSource() const { return m_tagData.m_source != nullptr; }
    // Whether the node has a value, held or in the file.
    bool HasValue() const { return GetData() || IsValueInSource(); }

    // VR queries.
    const std::u16string& GetDisplayVR();
    bool HasLongLength() const;
    int32_t GetIntValue() const;
    double GetDSValue() const;
    // Name: the dictionary's name of the tag, else the stored description.
    std::u16string GetDescription() const;
    // The value as display text, decoded with the given Specific Character Set term.
    std::u16string GetValueText(std::u16string_view charsetTerm) const;

    uint16_t m_group = 0;
    uint16_t m_element = 0;
    // Interned (few distinct names): a node holds a pointer.
    quillon::InternedText m_description;
    std::vector<std::unique_ptr<CDicomTag>> m_children;
    CDicomVR m_vr;
    CTagData m_tagData;
    CDicomTag* m_parent = nullptr;
    uint64_t m_dataOffset = 0;

private:
    std::u16string ValueTextOf(const uint8_t* data, uint32_t length, std::u16string_view charsetTerm) const;
    void NormalizeValue();
    void ChooseLengthForm(uint32_t length, bool longForm);
    bool GrowValue(uint32_t blockSize, uint8_t fill);
    bool SourceHasNonText() const;
};

// A fragment item of encapsulated pixel data as the pixel data element holds
// it until a node is asked for: where its value starts and its length (12
// bytes, so that millions of fragments stay small).
struct SFragment {
    uint32_t offsetLow = 0;
    uint32_t offsetHigh = 0;
    uint32_t length = 0;
    uint64_t Offset() const { return uint64_t(offsetHigh) << 32 | offsetLow; }
};

class CDicomTag7FE0 : public CDicomTag {
public:
    CDicomTag7FE0(uint16_t group, uint16_t element) : CDicomTag(group, element) {}
    ~CDicomTag7FE0() override;

    // --- encapsulated pixel data: the offset table item is m_children[0],
    // the fragment items after it are held compactly and are children
    // 1 .. FragmentCount() ---
    // Where the fragments' values are read from, and the size of the numbers
    // to swap when they are (1: none); set before the first AddFragment.
    void SetFragmentSource(const quillon::FileBytes* source, unsigned swapUnit);
    // Appends a fragment item whose value is `length` bytes at `dataOffset`.
    bool AddFragment(uint64_t dataOffset, uint32_t length);
    // Gives back the room the fragment list grew into (once they are all
    // read), when it is much: the copy costs a second list for a while.
    void ShrinkFragments() {
        if (m_fragments.capacity() - m_fragments.size() > m_fragments.size() / 4) m_fragments.shrink_to_fit();
    }
    std::size_t FragmentCount() const { return m_fragments.size(); }
    // Fragment k (from 0, after the offset table): where its value starts,
    // its length, and its item tag's offset.
    uint64_t FragmentDataOffset(std::size_t k) const { return m_fragments[k].Offset(); }
    uint32_t FragmentLength(std::size_t k) const { return m_fragments[k].length; }
    uint64_t FragmentTagOffset(std::size_t k) const { return m_fragments[k].Offset() - 8; }
    // Copies the first n bytes of fragment k's value, as its node would;
    // false when the value is shorter or cannot be read.
    bool CopyFragment(std::size_t k, void* dst, uint64_t n) const;
    // Fragment k as a node kept as long as the tree (CDicomTag::Child).
    CDicomTag* FragmentNode(std::size_t k) const { return Child(m_children.size() + k); }
    // How many fragment nodes have been made and kept.
    std::size_t FragmentNodesMade() const;

    std::size_t ChildCount() const override { return m_children.size() + m_fragments.size(); }
    CDicomTag* Child(std::size_t i) const override;
    CDicomTag* PeekChild(std::size_t i, std::unique_ptr<CDicomTag>& scratch) const override;
    std::size_t IndexOfChild(const CDicomTag* child) const override;

    // The native frames: `count` frames of `frameSize` bytes each, one after
    // the other from `offset` in `source`; `swapUnit` is the size of the
    // numbers to swap when they are read (big-endian OW, OF, OD), 1 for none.
    // `valueEnd` is where the element's value ends: a frame holds only the
    // bytes before it, whatever follows in the file. `frameBits` (1-bit
    // samples, else 0) are the bits of one frame when frames follow one
    // another bit by bit: frame k then starts at bit k x frameBits of the
    // value, and `frameSize` is the bytes its bits fill from bit 0.
    void SetFrames(const quillon::FileBytes* source, unsigned swapUnit, uint64_t offset, uint64_t frameSize,
                   uint64_t count, uint64_t valueEnd, uint64_t frameBits = 0);
    std::size_t FrameCount() const { return std::size_t(m_frameCount); }
    // Frame sizes are 64-bit: Rows x Columns x Bits x Samples can exceed 32 bits.
    uint64_t FrameSize() const { return m_frameSize; }
    // Where frame k starts (the byte holding its first bit); a frame starting
    // past the value starts at its end.
    uint64_t FrameOffset(std::size_t k) const;
    // The bytes of the value that hold frame k: FrameSize() but for a value
    // shorter than its frames, 0 for a frame that starts past its end. A
    // bit-packed frame that starts inside a byte may hold one byte more than
    // FrameSize(), shared with its neighbours.
    uint64_t FrameBytes(std::size_t k) const;
    const quillon::FileBytes* FrameSource() const { return m_frameSource; }
    unsigned FrameSwapUnit() const { return m_frameSwapUnit; }
    // Copies native frame k into dst (FrameSize() bytes, in machine byte
    // order; the samples the value does not hold as 0); false when there is
    // no such frame or it cannot be read. A bit-packed frame comes moved to
    // bit 0 of dst, holding only its own bits (those after it are 0).
    bool ReadFrame(std::size_t k, uint8_t* dst) const;
    // Copies n bytes of native frame k from byte `at` of the frame on, as
    // ReadFrame does; false when they lie outside the frame.
    bool ReadFrameBytes(std::size_t k, uint64_t at, uint8_t* dst, uint64_t n) const;

private:
    // Bits [first, first + 8 x n) of the value into dst, moved to bit 0; the
    // bits past the value or past `last` as 0.
    bool ReadValueBits(uint64_t first, uint64_t last, uint8_t* dst, uint64_t n) const;

    // Fills `node` as the reader would have made fragment k's item node.
    bool MakeFragmentNode(std::size_t k, CDicomTag& node) const;

    std::vector<SFragment> m_fragments;
    const quillon::FileBytes* m_fragmentSource = nullptr;
    uint8_t m_fragmentSwapUnit = 1;
    // The fragment nodes made, sorted by where their values start (as the
    // fragments are); made from any thread.
    mutable std::vector<std::unique_ptr<CDicomTag>> m_fragmentNodes;
    mutable std::mutex m_fragmentNodesLock;

    const quillon::FileBytes* m_frameSource = nullptr;
    uint8_t m_frameSwapUnit = 1;
    uint64_t m_firstFrame = 0;
    uint64_t m_frameSize = 0;
    uint64_t m_frameCount = 0;
    uint64_t m_valueEnd = 0;
    uint64_t m_frameBits = 0;
};
