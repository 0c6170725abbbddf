// The checks behind the problems report: each looks at what the parser has
// just read and records what breaks a rule; none changes the tree.
#include <cstdio>
#include <cstring>
#include <string>

#include "dicom/DicomDictionary.h"
#include "dicom/DicomHeader.h"
#include "dicom/OffsetTable.h"

namespace {

std::string VRText(const char16_t* vr) {
    std::string out;
    for (int i = 0; i < 2; ++i) out.push_back(vr[i] >= 0x20 && vr[i] < 0x7F ? char(vr[i]) : '?');
    return out;
}

std::string VRText(const std::u16string& vr) { return vr.size() == 2 ? VRText(vr.data()) : std::string("none"); }

}  // namespace

void CDicomHeader::CheckHeader(const CDicomTag* element, uint64_t tagOffset, const char16_t* fileVR,
                               uint16_t shortLength) {
    const uint16_t group = element->m_group, number = element->m_element;
    if (IsLongLengthVR(element->m_vr.GetDeclaredVR()) && shortLength != 0)
        Note(ProblemCode::ReservedBytes, tagOffset, group, number, element,
             "the reserved bytes of VR " + VRText(fileVR) + " are not zero; they are read as a 2-byte length " +
                 std::to_string(shortLength));
    if (!IsVRCode(uint8_t(fileVR[0]), uint8_t(fileVR[1]))) {
        char bytes[8];
        std::snprintf(bytes, sizeof bytes, "%02X %02X", unsigned(fileVR[0] & 0xFF), unsigned(fileVR[1] & 0xFF));
        Note(ProblemCode::VRMismatch, tagOffset, group, number, element,
             std::string("the two bytes where the VR belongs (") + bytes + ") are no VR");
        return;
    }
    const std::u16string& vr = element->m_vr.GetDeclaredVR();
    if (number == 0x0000 || group == 0xFFFE || vr == u"UN") return;
    if (DictionaryAllowsVR(group, number, vr)) return;
    Note(ProblemCode::VRMismatch, tagOffset, group, number, element,
         "the file gives VR " + VRText(fileVR) + ", the dictionary " +
             VRText(CDicomDictionary::Instance().LookupVR(FoldRepeatingGroup(group), number)));
}

void CDicomHeader::CheckValueRulesOf(const CDicomTag* element, const uint8_t* bytes, uint32_t length) {
    std::string broken = CheckValueRules(element->m_vr.GetVR(), bytes, length);
    if (!broken.empty())
        Note(ProblemCode::ValueVR, element->m_dataOffset, element->m_group, element->m_element, element,
             VRText(element->m_vr.GetVR()) + " " + broken);
}

void CDicomHeader::CheckGroupLength(PendingGroupLength& pending, uint16_t nextGroup, uint64_t nextTagOffset) {
    if (!pending.node || nextGroup == pending.node->m_group) return;
    const PendingGroupLength open = pending;
    pending = {};
    const CDicomTag* node = open.node;
    if (!node->GetData() || node->GetLength() != 4 || nextTagOffset < open.from) return;
    uint32_t said;
    std::memcpy(&said, node->GetData(), 4);
    const uint64_t held = nextTagOffset - open.from;
    if (said == held) return;
    Note(ProblemCode::GroupLength, node->m_dataOffset - 8, node->m_group, 0x0000, node,
         "the group length says " + std::to_string(said) + " bytes, the group holds " + std::to_string(held));
}

void CDicomHeader::CheckOffsetTable(const CDicomTag* pixelData) {
    if (pixelData->m_children.empty()) return;
    const CDicomTag* table = pixelData->m_children[0].get();
    const std::vector<SOffsetTableEntry> entries = ResolveOffsetTable(*pixelData);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].fragment) continue;
        Note(ProblemCode::OffsetTable, table->m_dataOffset + 4 * uint64_t(i), 0xFFFE, 0xE000, table,
             "entry " + std::to_string(i + 1) + " points at byte " + std::to_string(entries[i].offset) +
                 " of the fragments, where no fragment item starts");
    }
}

void CDicomHeader::CheckPixelDataLength(const CDicomTag* pixelData, uint64_t tagOffset) {
    const uint64_t frames = m_pixel.numberOfFrames;
    const uint64_t frameSize = m_pixel.NativeFrameSize();
    if (frames == 0 || frameSize == 0) return;
    const uint64_t expected = frames * frameSize;
    const uint32_t length = pixelData->GetLength();
    // An odd size is padded to even in the file.
    if (length == expected || length == expected + (expected & 1)) return;
    Note(ProblemCode::PixelDataLength, tagOffset, pixelData->m_group, pixelData->m_element, pixelData,
         "the length " + std::to_string(length) + " differs from the " + std::to_string(expected) +
             " bytes that Rows, Columns, Bits Allocated, Samples per Pixel and Number of Frames give");
}

void CDicomHeader::CheckTrailingBytes() {
    if (m_position >= m_fileSize) return;
    uint8_t b[4];
    if (PeekBytes(b, 4)) {
        // Data set trailing padding and digital signatures may follow the pixel data.
        const uint16_t group = m_littleEndian ? uint16_t(b[0] | b[1] << 8) : uint16_t(b[0] << 8 | b[1]);
        if (group == 0xFFFC || group == 0xFFFA) return;
    }
    Note(ProblemCode::TrailingBytes, m_position, 0, 0, nullptr,
         std::to_string(m_fileSize - m_position) + " bytes after the pixel data are not read");
}

void CDicomHeader::NoteTagOrder(uint64_t tagOffset, uint16_t group, uint16_t element, bool repeated) {
    Note(ProblemCode::TagOrder, tagOffset, group, element, nullptr,
         repeated ? "the tag repeats the one before it" : "the tag is lower than the one before it");
}

void CDicomHeader::CheckEncapsulated(const CDicomTag* pixelData, uint64_t tagOffset) {
    // Fragments are bytes: an explicit VR other than OB misleads readers that
    // swap or size by it.
    if (m_explicitVR && pixelData->m_vr.GetDeclaredVR() != u"OB")
        Note(ProblemCode::VRMismatch, tagOffset, pixelData->m_group, pixelData->m_element, pixelData,
             "encapsulated pixel data is given VR " + VRText(pixelData->m_vr.GetDeclaredVR()) + ", not OB");
    CheckOffsetTable(pixelData);
}

void CDicomHeader::CheckPrivateTag(const CDicomTag* element, uint64_t tagOffset) {
    const uint16_t group = element->m_group, number = element->m_element;
    char tag[16];
    std::string broken;
    if (group <= 0x0007 || group == 0xFFFF) {
        std::snprintf(tag, sizeof tag, "%04X", group);
        broken = std::string("group ") + tag + " holds no elements";
    } else if (number >= 0x0001 && number <= 0x000F) {
        broken = "elements 0001 to 000F of a private group are not used";
    } else if (number >= 0x0010 && number <= 0x00FF) {
        if (element->GetLength() == 0) broken = "the private creator is empty";
    } else if (number >= 0x1000) {
        // The creator comes before its elements in the same data set and
        // group: the search goes back to where the group starts.
        const uint16_t creator = number >> 8;
        const CDicomTag* scope = element->m_parent;
        const CreatorSeen& last = m_lastCreator;
        const bool sameBlock = last.count != 0 && last.scope == scope && last.group == group && last.creator == creator;
        const auto& siblings = scope ? scope->m_children : m_tags;
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
    if (!broken.empty()) Note(ProblemCode::PrivateTag, tagOffset, group, number, element, broken);
}

void CDicomHeader::CheckTransferSyntaxNamed(uint64_t dataSetOffset) {
    for (const auto& tag : m_tags)
        if (tag && tag->m_group == 0x0002 && tag->m_element == 0x0010) return;
    Note(ProblemCode::NoTransferSyntax, dataSetOffset, 0x0002, 0x0010, nullptr,
         "the file meta information names no transfer syntax (0002,0010); the data set is read as implicit VR "
         "little endian");
}
