#pragma once
// The element tree: one CDicomTag per node (element, sequence, item,
// offset table, fragment, frame node), CDicomTag7FE0 for the top-level
// Pixel Data element with its native frames.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/DicomVR.h"
#include "dicom/HeapBlock.h"

constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

class CTagData {
public:
    CTagData() = default;
    CTagData(const CTagData&) = delete;
    CTagData& operator=(const CTagData&) = delete;
    virtual ~CTagData();

    // Frees the value and zeroes both lengths.
    void Free();

    uint16_t m_shortLength = 0;
    // Bytes of the normalised tail that the block holds after the value
    // (padding of an odd value, a short date filled to 8 bytes).
    uint8_t m_tail = 0;
    uint32_t m_longLength = 0;
    quillon::HeapPtr<uint8_t> m_data;  // plain heap block (malloc)
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
    // Takes a block of `length` bytes as the value, held in long form without
    // normalising (frame nodes).
    void AdoptLongValue(quillon::HeapPtr<uint8_t> block, uint32_t length);
    // The value length read from the file.
    uint32_t GetLength() const { return m_tagData.m_longLength ? m_tagData.m_longLength : m_tagData.m_shortLength; }
    // The length of the normalised copy in the block: the value and its tail.
    uint64_t GetNormalizedLength() const { return uint64_t(GetLength()) + m_tagData.m_tail; }
    // The value bytes followed by a NUL (all NUL without value); null on allocation failure.
    quillon::HeapPtr<char> GetValueString() const;
    // Takes the child into the tree (its parent becomes this node); false for null.
    bool AddChild(std::unique_ptr<CDicomTag> child);
    void Clear();

    bool IsItem() const { return m_group == 0xFFFE && m_element == 0xE000; }
    bool Is(uint16_t group, uint16_t element) const { return m_group == group && m_element == element; }
    const uint8_t* GetData() const { return m_tagData.m_data.get(); }

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
    std::u16string m_description;
    std::vector<std::unique_ptr<CDicomTag>> m_children;
    CDicomVR m_vr;
    CTagData m_tagData;
    CDicomTag* m_parent = nullptr;
    uint64_t m_dataOffset = 0;

private:
    void NormalizeValue();
    bool GrowValue(uint32_t blockSize, uint8_t fill);
};

class CDicomTag7FE0 : public CDicomTag {
public:
    CDicomTag7FE0(uint16_t group, uint16_t element) : CDicomTag(group, element) {}
    ~CDicomTag7FE0() override;

    // The node takes the frame's block.
    void AddFrame(quillon::HeapPtr<uint8_t> block, uint64_t size);

    // One block per native frame; null once a frame node has taken it.
    std::vector<quillon::HeapPtr<uint8_t>> m_frames;
    // Frame sizes are 64-bit: Rows x Columns x Bits x Samples can exceed 32 bits.
    std::vector<uint64_t> m_frameSizes;
};
