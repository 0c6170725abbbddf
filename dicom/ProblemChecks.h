#pragma once
// The checks behind the problems report: an observer of the reader that
// looks at what was just read and records in quillon::LoadProblems each rule the
// file breaks. It never changes the tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dicom/LoadProblems.h"
#include "dicom/ReaderObserver.h"

namespace quillon {

class ProblemChecks final : public ReaderObserver {
public:
    explicit ProblemChecks(quillon::LoadProblems& problems) : m_problems(problems) {}

    void MetaInformationStarts(uint64_t tagOffset, Tag first) override;
    void MetaInformationEnded(uint64_t dataSetOffset, uint16_t nextGroup, const DataSet& meta) override;
    void DataSetStarts() override;
    void GroupEnded(uint16_t group, uint64_t end) override;
    void TopLevelTagRead(uint64_t tagOffset, Tag tag) override;
    void ItemTagNotAscending(uint64_t tagOffset, Tag tag, bool repeated) override;
    void HeaderRead(const HeaderEvent& header) override;
    void ValueRead(const CDicomTag& element, const uint8_t* bytes, uint32_t length) override;
    void TopLevelValueRead(const CDicomTag& element, uint64_t end) override;
    void ValueCutOff(ReadScope scope, uint64_t tagOffset, Tag tag, uint32_t length, uint64_t left) override;
    void UNSequenceStarts(const CDicomTag& sequence, uint64_t tagOffset) override;
    void SequenceOverrun(const CDicomTag& sequence, uint64_t tagOffset, uint64_t itemsExtent) override;
    void ItemOverrun(const CDicomTag& item, uint64_t end) override;
    void FileEndedInItem(const CDicomTag& item) override;
    void NativePixelData(const CDicomTag& pixelData, uint64_t tagOffset, uint64_t framesSize) override;
    void EncapsulatedPixelData(const CDicomTag& pixelData, uint64_t tagOffset, bool explicitVR,
                               uint64_t frames) override;
    void PixelDataEnded(uint64_t end, uint64_t fileSize, const Tag* following) override;
    void DataSetEnded(uint64_t end) override;

private:
    void Note(ProblemCode code, uint64_t offset, uint16_t group, uint16_t element, const CDicomTag* node,
              std::string text) {
        m_problems.Add(code, offset, group, element, node, std::move(text));
    }
    void NoteTagOrder(uint64_t tagOffset, Tag tag, bool repeated);
    // The explicit VR against the dictionary, and reserved bytes read as a length.
    void CheckVR(const HeaderEvent& header);
    // An element of an odd group: the groups and elements never used, and the
    // private creator that must reserve a private element's block.
    void CheckPrivateTag(const CDicomTag& element, uint64_t tagOffset, const DataSet& dataSet);
    void CheckOffsetTable(const CDicomTag& pixelData, uint64_t frames);
    // The group length element waiting for the end of its group (top level),
    // checked against where the next group starts; none is waiting after it.
    void CheckGroupLength(uint64_t nextTagOffset);

    quillon::LoadProblems& m_problems;

    struct PendingGroupLength {
        const CDicomTag* node = nullptr;
        uint64_t from = 0;  // first byte after the group length element
    } m_groupLength;
    // The Extended Offset Table read before Pixel Data, when there is one.
    const CDicomTag* m_extendedOffsets = nullptr;
    // The top-level tag before, for the tag order; -1 before the first.
    int64_t m_previousTag = -1;
    // The private creator found last, and how many elements its data set held
    // then: the elements of a block follow each other, so the search for the
    // next one's creator stops there instead of going back over the whole
    // block again (keys only, never read through).
    struct CreatorSeen {
        const CDicomTag* scope = nullptr;  // the item holding it; null: the top level
        uint16_t group = 0;
        uint16_t creator = 0;
        std::size_t count = 0;
    } m_lastCreator;
};

}  // namespace quillon
