// The checks behind the problems report: each looks at what the reader has
// just read and records what breaks a rule; none changes the tree.
#include "dicom/ProblemChecks.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "dicom/DicomDictionary.h"
#include "dicom/OffsetTable.h"

namespace quillon {

namespace {

std::string VRText(const char16_t* vr) {
    std::string out;
    for (int i = 0; i < 2; ++i) out.push_back(vr[i] >= 0x20 && vr[i] < 0x7F ? char(vr[i]) : '?');
    return out;
}

std::string VRText(const std::u16string& vr) { return vr.size() == 2 ? VRText(vr.data()) : std::string("none"); }

}  // namespace

ReaderObserver::~ReaderObserver() = default;

// ---------------------------------------------------------------------------
// File meta information and group lengths

void ProblemChecks::MetaInformationStarts(uint64_t tagOffset, Tag first) {
    m_groupLength = {};
    if (first.element != 0x0000)
        Note(ProblemCode::GroupLength, tagOffset, tags::kMetaGroupLength.group, tags::kMetaGroupLength.element, nullptr,
             "the file meta information starts without its group length (0002,0000)");
}

void ProblemChecks::MetaInformationEnded(uint64_t dataSetOffset, uint16_t nextGroup, const DataSet& meta) {
    if (m_groupLength.node && m_groupLength.node->m_group != nextGroup) CheckGroupLength(dataSetOffset);
    if (meta.Find(tags::kTransferSyntaxUID)) return;
    Note(ProblemCode::NoTransferSyntax, dataSetOffset, tags::kTransferSyntaxUID.group, tags::kTransferSyntaxUID.element,
         nullptr,
         "the file meta information names no transfer syntax (0002,0010); the data set is read as implicit VR "
         "little endian");
}

void ProblemChecks::DataSetStarts() {
    m_groupLength = {};
    m_previousTag = -1;
    m_lastCreator = {};
}

void ProblemChecks::TopLevelValueRead(const CDicomTag& element, uint64_t end) {
    if (element.m_element == 0x0000 && element.GetLength() == 4) m_groupLength = {&element, end};
    if (element.Is(tags::kExtendedOffsetTable)) m_extendedOffsets = &element;
}

void ProblemChecks::GroupEnded(uint16_t group, uint64_t end) {
    if (m_groupLength.node && m_groupLength.node->m_group == group) CheckGroupLength(end);
}

void ProblemChecks::DataSetEnded(uint64_t end) {
    // A group length of group FFFF, the last group there is, is not checked.
    if (m_groupLength.node && m_groupLength.node->m_group != 0xFFFF) CheckGroupLength(end);
}

void ProblemChecks::CheckGroupLength(uint64_t nextTagOffset) {
    const PendingGroupLength open = m_groupLength;
    m_groupLength = {};
    const CDicomTag* node = open.node;
    if (!node->GetData() || node->GetLength() != 4 || nextTagOffset < open.from) return;
    uint32_t said;
    std::memcpy(&said, node->GetData(), 4);
    const uint64_t held = nextTagOffset - open.from;
    if (said == held) return;
    Note(ProblemCode::GroupLength, node->m_dataOffset - 8, node->m_group, 0x0000, node,
         "the group length says " + std::to_string(said) + " bytes, the group holds " + std::to_string(held));
}

// ---------------------------------------------------------------------------
// Tags and headers

void ProblemChecks::TopLevelTagRead(uint64_t tagOffset, Tag tag) {
    const int64_t key = tag.Key();
    if (key <= m_previousTag) NoteTagOrder(tagOffset, tag, key == m_previousTag);
    m_previousTag = key;
}

void ProblemChecks::ItemTagNotAscending(uint64_t tagOffset, Tag tag, bool repeated) {
    NoteTagOrder(tagOffset, tag, repeated);
}

void ProblemChecks::NoteTagOrder(uint64_t tagOffset, Tag tag, bool repeated) {
    Note(ProblemCode::TagOrder, tagOffset, tag.group, tag.element, nullptr,
         repeated ? "the tag repeats the one before it" : "the tag is lower than the one before it");
}

void ProblemChecks::HeaderRead(const HeaderEvent& header) {
    const CDicomTag& element = header.element;
    if (header.fileVR &&
        (header.vrDiffers || (IsLongLengthVR(element.m_vr.GetDeclaredVR()) && header.shortLength != 0)))
        CheckVR(header);
    if (element.m_group & 1) CheckPrivateTag(element, header.tagOffset, header.dataSet);
    const uint32_t length = element.GetLength();
    if ((length & 1) != 0 && length != kUndefinedLength)
        Note(ProblemCode::OddLength, header.tagOffset, element.m_group, element.m_element, &element,
             "the value length " + std::to_string(length) + " is odd");
}

void ProblemChecks::CheckVR(const HeaderEvent& header) {
    const CDicomTag& element = header.element;
    const char16_t* fileVR = header.fileVR;
    const uint16_t group = element.m_group, number = element.m_element;
    if (IsLongLengthVR(element.m_vr.GetDeclaredVR()) && header.shortLength != 0)
        Note(ProblemCode::ReservedBytes, header.tagOffset, group, number, &element,
             "the reserved bytes of VR " + VRText(fileVR) + " are not zero; they are read as a 2-byte length " +
                 std::to_string(header.shortLength));
    if (!IsVRCode(uint8_t(fileVR[0]), uint8_t(fileVR[1]))) {
        char bytes[8];
        std::snprintf(bytes, sizeof bytes, "%02X %02X", unsigned(fileVR[0] & 0xFF), unsigned(fileVR[1] & 0xFF));
        Note(ProblemCode::VRMismatch, header.tagOffset, group, number, &element,
             std::string("the two bytes where the VR belongs (") + bytes + ") are no VR");
        return;
    }
    const std::u16string& vr = element.m_vr.GetDeclaredVR();
    if (number == 0x0000 || group == 0xFFFE || vr == u"UN") return;
    if (DictionaryAllowsVR(group, number, vr)) return;
    Note(ProblemCode::VRMismatch, header.tagOffset, group, number, &element,
         "the file gives VR " + VRText(fileVR) + ", the dictionary " +
             VRText(CDicomDictionary::Instance().LookupVR(FoldRepeatingGroup(group), number)));
}

void ProblemChecks::CheckPrivateTag(const CDicomTag& element, uint64_t tagOffset, const DataSet& dataSet) {
    const uint16_t group = element.m_group, number = element.m_element;
    char tag[16];
    std::string broken;
    if (group <= 0x0007 || group == 0xFFFF) {
        std::snprintf(tag, sizeof tag, "%04X", group);
        broken = std::string("group ") + tag + " holds no elements";
    } else if (number >= 0x0001 && number <= 0x000F) {
        broken = "elements 0001 to 000F of a private group are not used";
    } else if (number >= 0x0010 && number <= 0x00FF) {
        if (element.GetLength() == 0) broken = "the private creator is empty";
    } else if (number >= 0x1000) {
        // The creator comes before its elements in the same data set and
        // group: the search goes back to where the group starts.
        const uint16_t creator = number >> 8;
        const CDicomTag* scope = element.m_parent;
        const CreatorSeen& last = m_lastCreator;
        const bool sameBlock = last.count != 0 && last.scope == scope && last.group == group && last.creator == creator;
        const auto& siblings = scope ? scope->m_children : dataSet.Elements();
        bool found = false;
        for (std::size_t i = siblings.size(); i > 0 && !found; --i) {
            const CDicomTag* sibling = siblings[i - 1].get();
            if (!sibling || sibling->m_group != group) break;
            // Back where the creator was found before, with only this group since.
            found = (sameBlock && i == last.count) || sibling->m_element == creator;
        }
        if (found) {
            m_lastCreator = {scope, group, creator, siblings.size()};
        } else {
            std::snprintf(tag, sizeof tag, "%04X,%04X", group, creator);
            broken = std::string("no private creator (") + tag + ") reserves its block";
        }
    }
    if (!broken.empty()) Note(ProblemCode::PrivateTag, tagOffset, group, number, &element, broken);
}

// ---------------------------------------------------------------------------
// Values

void ProblemChecks::ValueRead(const CDicomTag& element, const uint8_t* bytes, uint32_t length) {
    std::string broken = CheckValueRules(element.m_vr.GetVR(), bytes, length);
    if (!broken.empty())
        Note(ProblemCode::ValueVR, element.m_dataOffset, element.m_group, element.m_element, &element,
             VRText(element.m_vr.GetVR()) + " " + broken);
}

void ProblemChecks::ValueCutOff(ReadScope scope, uint64_t tagOffset, Tag tag, uint32_t length, uint64_t left) {
    std::string text = "the value of " + std::to_string(length) + " bytes runs past the end of the file";
    if (scope != ReadScope::MetaInformation) text += " (" + std::to_string(left) + " bytes left)";
    Note(ProblemCode::Truncated, tagOffset, tag.group, tag.element, nullptr, std::move(text));
}

// ---------------------------------------------------------------------------
// Sequences and items

void ProblemChecks::UNSequenceStarts(const CDicomTag& sequence, uint64_t tagOffset) {
    Note(ProblemCode::UNSequence, tagOffset, sequence.m_group, sequence.m_element, &sequence,
         "a UN element of undefined length is read as implicit VR items");
}

void ProblemChecks::SequenceOverrun(const CDicomTag& sequence, uint64_t tagOffset, uint64_t itemsExtent) {
    const uint32_t length = sequence.GetLength();
    Note(ProblemCode::LengthMismatch, tagOffset, sequence.m_group, sequence.m_element, &sequence,
         "the items end " + std::to_string(itemsExtent - length) + " bytes after the sequence length " +
             std::to_string(length));
}

void ProblemChecks::ItemOverrun(const CDicomTag& item, uint64_t end) {
    const uint32_t length = item.GetLength();
    Note(ProblemCode::LengthMismatch, item.m_dataOffset - 8, item.m_group, item.m_element, &item,
         "the item's last element ends " + std::to_string(end - (item.m_dataOffset + length)) +
             " bytes after the item length " + std::to_string(length));
}

void ProblemChecks::FileEndedInItem(const CDicomTag& item) {
    Note(ProblemCode::Truncated, item.m_dataOffset - 8, item.m_group, item.m_element, &item,
         "the file ends inside the item");
}

// ---------------------------------------------------------------------------
// Pixel data

void ProblemChecks::NativePixelData(const CDicomTag& pixelData, uint64_t tagOffset, uint64_t framesSize) {
    if (framesSize == 0) return;
    const uint64_t expected = framesSize;
    const uint32_t length = pixelData.GetLength();
    // An odd size is padded to even in the file.
    if (length == expected || length == expected + (expected & 1)) return;
    const std::string expectedText = " bytes that Rows, Columns, Bits Allocated, Samples per Pixel and Number of Frames give";
    if (length < expected) {
        Note(ProblemCode::PixelDataLength, tagOffset, pixelData.m_group, pixelData.m_element, &pixelData,
             "the length " + std::to_string(length) + " is " + std::to_string(expected - length) +
                 " bytes short of the " + std::to_string(expected) + expectedText +
                 "; the frames end with the value and the samples it lacks read as 0");
        return;
    }
    Note(ProblemCode::PixelDataLength, tagOffset, pixelData.m_group, pixelData.m_element, &pixelData,
         "the length " + std::to_string(length) + " differs from the " + std::to_string(expected) + expectedText);
}

void ProblemChecks::EncapsulatedPixelData(const CDicomTag& pixelData, uint64_t tagOffset, bool explicitVR,
                                          uint64_t frames) {
    // Fragments are bytes: an explicit VR other than OB misleads readers that
    // swap or size by it.
    if (explicitVR && pixelData.m_vr.GetDeclaredVR() != u"OB")
        Note(ProblemCode::VRMismatch, tagOffset, pixelData.m_group, pixelData.m_element, &pixelData,
             "encapsulated pixel data is given VR " + VRText(pixelData.m_vr.GetDeclaredVR()) + ", not OB");
    CheckOffsetTable(pixelData, frames);
}

void ProblemChecks::CheckOffsetTable(const CDicomTag& pixelData, uint64_t frames) {
    if (pixelData.m_children.empty()) return;
    const CDicomTag* table = pixelData.m_children[0].get();
    const std::vector<SOffsetTableEntry> entries = ResolveOffsetTable(pixelData);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].fragment) continue;
        Note(ProblemCode::OffsetTable, table->m_dataOffset + 4 * uint64_t(i), tags::kItem.group, tags::kItem.element,
             table,
             "entry " + std::to_string(i + 1) + " points at byte " + std::to_string(entries[i].offset) +
                 " of the fragments, where no fragment item starts");
    }
    // More fragments than frames, and neither the tables nor the streams'
    // start markers say where each frame begins.
    if (frames > 1 && frames <= UINT32_MAX && table && table->IsItem() &&
        FrameFragments::Read(pixelData, uint32_t(frames), m_extendedOffsets).Unresolved()) {
        const std::size_t fragments = pixelData.ChildCount() - 1;
        Note(ProblemCode::OffsetTable, table->m_dataOffset - 8, tags::kItem.group, tags::kItem.element, table,
             std::string(entries.empty() ? "the offset table is empty" : "the offset table names no fragment per frame") +
                 " and the " + std::to_string(fragments) + " fragments begin no single codestream per frame: the " +
                 std::to_string(frames) + " frames cannot be found among them");
    }
}

void ProblemChecks::PixelDataEnded(uint64_t end, uint64_t fileSize, const Tag* following) {
    if (end >= fileSize) return;
    // Data set trailing padding and digital signatures may follow the pixel data.
    if (following && (following->group == 0xFFFC || following->group == 0xFFFA)) return;
    Note(ProblemCode::TrailingBytes, end, 0, 0, nullptr,
         std::to_string(fileSize - end) + " bytes after the pixel data are not read");
}

}  // namespace quillon
