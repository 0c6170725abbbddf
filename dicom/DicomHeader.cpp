// The data set parser: file meta information, transfer syntax, elements,
// sequences and items, native frames and encapsulated pixel data.
#include "dicom/DicomHeader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "dicom/ByteOrder.h"
#include "dicom/LoaderRules.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::SwapUnitFor;
using quillon::SwapUnits;
using quillon::rules::IsSequence;

namespace {

// Counts the nesting of sequences while they are read, and refuses to go
// deeper than kMaxSequenceDepth.
class DepthGuard {
public:
    explicit DepthGuard(unsigned& depth) : m_depth(depth) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    bool Exceeded() const { return m_depth > kMaxSequenceDepth; }

private:
    unsigned& m_depth;
};

// Sequences nested deeper than this remember the extent of their items while
// the data set is parsed (see CDicomHeader::m_itemsExtents).
constexpr unsigned kRememberedDepth = 8;

// A node for an item header: the tag as read, its 32-bit length in long form
// and nothing else (no default value of a group length element).
std::unique_ptr<CDicomTag> NewItemNode(uint16_t group, uint16_t element, uint32_t length, uint64_t dataOffset) {
    auto item = std::make_unique<CDicomTag>(group, element);
    item->m_tagData.Free();
    item->m_tagData.m_longLength = length;
    item->m_dataOffset = dataOffset;
    return item;
}

}  // namespace

CDicomHeader::~CDicomHeader() = default;

void CDicomHeader::ResetHeader() {
    RemoveAll();
    DetachSource();
    m_fileSize = 0;
    m_position = 0;
    m_hasPreamble = false;
    m_explicitVR = true;
    m_littleEndian = true;
    m_depth = 0;
}

// ---------------------------------------------------------------------------
// Reading at the cursor (in this file, beside the parser, so that the
// compiler can inline these small steps into it)

bool CDicomHeader::PeekBytes(void* dst, std::size_t n) const { return CopyAt(m_position, dst, n); }

bool CDicomHeader::ReadBytes(void* dst, std::size_t n) {
    if (!PeekBytes(dst, n)) return false;
    m_position += n;
    return true;
}

bool CDicomHeader::Read16(uint16_t& value) {
    uint8_t b[2];
    if (!ReadBytes(b, 2)) return false;
    value = m_littleEndian ? uint16_t(b[0] | (b[1] << 8)) : uint16_t((b[0] << 8) | b[1]);
    return true;
}

bool CDicomHeader::Read32(uint32_t& value) {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return false;
    value = m_littleEndian ? (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24)
                           : (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
    return true;
}

bool CDicomHeader::ReadTag(uint16_t& group, uint16_t& element) {
    if (!CanRead(4)) return false;
    return Read16(group) && Read16(element);
}

bool CDicomHeader::PeekDelimiter(uint16_t element) const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    uint16_t g, e;
    if (m_littleEndian) {
        g = uint16_t(b[0] | (b[1] << 8));
        e = uint16_t(b[2] | (b[3] << 8));
    } else {
        g = uint16_t((b[0] << 8) | b[1]);
        e = uint16_t((b[2] << 8) | b[3]);
    }
    return g == 0xFFFE && e == element;
}

bool CDicomHeader::SkipDelimiter() {
    if (!CanRead(8)) return false;
    m_position += 8;
    return true;
}

bool CDicomHeader::LittleEndianTagTest() const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    return quillon::rules::IsPlausibleFirstTag(uint16_t(b[0] | (b[1] << 8)), uint16_t(b[2] | (b[3] << 8)));
}

bool CDicomHeader::BigEndianTagTest() const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    return quillon::rules::IsPlausibleFirstTag(uint16_t((b[0] << 8) | b[1]), uint16_t((b[2] << 8) | b[3]));
}

// ---------------------------------------------------------------------------
// File meta information and transfer syntax

bool CDicomHeader::ReadMetaInformation() {
    PendingGroupLength groupLength;
    for (bool first = true;; first = false) {
        uint16_t group, element;
        if (!ReadTag(group, element)) return Stop(m_position, 0, 0, "the file ends inside the file meta information");
        if (group != 0x0002) {
            CheckGroupLength(groupLength, group, m_position - 4);
            CheckTransferSyntaxNamed(m_position - 4);
            m_position -= 4;
            m_explicitVR = false;
            return true;
        }
        const uint64_t tagOffset = m_position - 4;
        if (first && element != 0x0000)
            Note(ProblemCode::GroupLength, tagOffset, 0x0002, 0x0000, nullptr,
                 "the file meta information starts without its group length (0002,0000)");
        std::unique_ptr<CDicomTag> node(new CDicomTag(group, element));
        if (!ReadElementHeader(node.get()))
            return Stop(tagOffset, group, element, "the element header runs past the end of the file");
        const uint32_t length = node->GetLength();
        if (!CanRead(length)) {
            Note(ProblemCode::Truncated, tagOffset, group, element, nullptr,
                 "the value of " + std::to_string(length) + " bytes runs past the end of the file");
            return Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        }
        if (length != 0 && !ReadValue(node.get())) return false;
        if (element == 0x0000 && length == 4) groupLength = {node.get(), m_position + length};
        Add(std::move(node));
        m_position += length;
    }
}

void CDicomHeader::ApplyTransferSyntax() {
    for (const auto& tag : m_tags) {
        if (!tag) continue;
        if (tag->m_group > 0x0002) return;
        if (tag->m_group != 0x0002 || tag->m_element != 0x0010) continue;
        HeapPtr<char> uid = tag->GetValueString();
        const DataSetEncoding encoding = EncodingForTransferSyntax(uid ? uid.get() : "");
        m_explicitVR = encoding.explicitVR;
        m_littleEndian = encoding.littleEndian;
        return;
    }
}

// ---------------------------------------------------------------------------
// Data set parser

bool CDicomHeader::ReadDataSet() {
    // What is remembered while parsing lives only as long as the parse.
    struct ParseScope {
        CDicomHeader& header;
        explicit ParseScope(CDicomHeader& h) : header(h) {
            header.m_parsing = true;
            header.m_itemsExtents.clear();
            header.m_undefinedLength.clear();
            header.m_settledIn[0] = header.m_settledIn[1] = false;
            header.m_lastCreator = {};
        }
        ~ParseScope() {
            header.m_parsing = false;
            header.m_itemsExtents.clear();
        }
    } scope(*this);
    uint16_t group, element;
    const auto tagStop = [this] {
        const uint64_t left = m_fileSize - m_position;
        return Stop(m_position, 0, 0,
                    left == 0 ? std::string("the file ends where an element is expected")
                              : std::to_string(left) + " bytes after the last element, too few for a tag");
    };
    if (!ReadTag(group, element)) return tagStop();
    PendingGroupLength groupLength;
    int64_t previousTag = -1;
    // The end of the data set: a group length still open is checked against it.
    const auto finish = [this, &groupLength] {
        CheckGroupLength(groupLength, 0xFFFF, m_position);
        return true;
    };
    for (;;) {
        const uint64_t tagOffset = m_position - 4;
        CheckGroupLength(groupLength, group, tagOffset);
        if (quillon::rules::IsStrayGroup0000(m_tags.size(), group))
            return Stop(tagOffset, group, element, "group 0000 after the first elements: the bytes are no data set");
        if (group == quillon::rules::kRefusedGroup)
            return Stop(tagOffset, group, element, "group 8000 is never an element: the bytes are no data set");
        const uint32_t tag = uint32_t(group) << 16 | element;
        if (int64_t(tag) <= previousTag) NoteTagOrder(tagOffset, group, element, int64_t(tag) == previousTag);
        previousTag = tag;
        const bool isPixelData = group == 0x7FE0 && element == 0x0010;
        std::unique_ptr<CDicomTag> node;
        if (isPixelData) {
            quillon::LoadPixelDescription(m_tags, m_pixel);
            node.reset(new CDicomTag7FE0(group, element));
        } else {
            node.reset(new CDicomTag(group, element));
        }
        const std::size_t noted = m_undefinedLength.size();
        m_switchedToImplicit = false;
        if (!ReadElementHeader(node.get()))
            return Stop(tagOffset, group, element, "the element header runs past the end of the file");
        const uint32_t length = node->GetLength();

        if (IsSequence(node.get(), m_explicitVR)) {
            if (!ReadSequence(node.get()))
                return Stop(tagOffset, group, element, "the sequence cannot be read to its end");
            // Its items were settled as they were read, in the encoding that
            // SettleItemLengths measures them in, unless a UN sequence read
            // them as implicit VR inside explicit VR: then they are left to it.
            if (!m_switchedToImplicit) {
                m_undefinedLength.resize(noted);
                m_settledIn[m_explicitVR] = true;
            }
            Add(std::move(node));
            if (m_position == m_fileSize) return finish();
            if (!ReadTag(group, element)) return tagStop();
            continue;
        }
        if (isPixelData && (!IsUncompressed() || length == kUndefinedLength)) {
            if (!ReadEncapsulatedPixelData(node.get()))
                return Stop(tagOffset, group, element, "the encapsulated pixel data cannot be read to its end");
            CheckEncapsulated(node.get(), tagOffset);
            Add(std::move(node));
            CheckTrailingBytes();
            return finish();
        }
        if (!CanRead(length)) {
            Note(ProblemCode::Truncated, tagOffset, group, element, nullptr,
                 "the value of " + std::to_string(length) + " bytes runs past the end of the file (" +
                     std::to_string(m_fileSize - m_position) + " bytes left)");
            return Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        }
        if (isPixelData) CheckPixelDataLength(node.get(), tagOffset);
        if (length != 0 && !ReadValue(node.get())) {
            if (isPixelData) return Stop(tagOffset, group, element, "the file holds fewer bytes than the frames need");
            return false;
        }
        if (isPixelData && !m_explicitVR) {
            const CDicomTag* bitsAllocated = Find(0x0028, 0x0100);
            if (bitsAllocated && bitsAllocated->GetIntValue() > 8) node->SetVR(u"OW");
        }
        if (element == 0x0000 && length == 4) groupLength = {node.get(), m_position + length};
        Add(std::move(node));
        if (!m_hasPreamble && group == 0x0002 && element == 0x0010) ApplyTransferSyntax();
        m_position += length;
        if (isPixelData) CheckTrailingBytes();
        if (m_position == m_fileSize || isPixelData) return finish();
        if (!ReadTag(group, element)) return tagStop();
    }
}

bool CDicomHeader::ReadElementHeader(CDicomTag* element) {
    const uint64_t tagOffset = m_position - 4;
    if (m_explicitVR) {
        uint8_t vr[2];
        if (!ReadBytes(vr, 2)) return false;
        const char16_t text[2] = {char16_t(vr[0]), char16_t(vr[1])};
        // The dictionary's VR, before the file's replaces it.
        const std::u16string& known = element->m_vr.GetDeclaredVR();
        const bool differs =
            known.size() == 2 ? (known[0] != char16_t(std::toupper(vr[0])) || known[1] != char16_t(std::toupper(vr[1])))
                              : !IsVRCode(vr[0], vr[1]);
        element->SetVR(std::u16string_view(text, 2));
        uint16_t shortLength;
        if (!Read16(shortLength)) return false;
        uint32_t longLength = 0;
        const bool longVR = IsLongLengthVR(element->m_vr.GetDeclaredVR());
        if (shortLength == 0 && longVR) {
            if (!Read32(longLength)) return false;
        }
        element->m_tagData.m_shortLength = shortLength;
        element->m_tagData.m_longLength = longLength;
        if (differs || (longVR && shortLength != 0)) CheckHeader(element, tagOffset, text, shortLength);
    } else {
        uint8_t b[4];
        if (!ReadBytes(b, 4)) return false;
        element->m_tagData.m_longLength =
            uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        element->m_tagData.m_shortLength = 0;
    }
    // A block held now is the 4-byte default of a group length element. It
    // stays only for length 0; any other length is either read as the value,
    // which replaces the block, or is the length of a sequence, which holds no
    // value. Left in place it would be a block shorter than the length that
    // every reader of the value trusts.
    if (element->m_tagData.m_data && element->GetLength() != 0) element->m_tagData.m_data.reset();
    element->m_dataOffset = m_position;
    NoteLength(element);
    if (element->m_group & 1) CheckPrivateTag(element, tagOffset);
    if ((element->GetLength() & 1) != 0 && element->GetLength() != kUndefinedLength)
        Note(ProblemCode::OddLength, tagOffset, element->m_group, element->m_element, element,
             "the value length " + std::to_string(element->GetLength()) + " is odd");
    return true;
}

bool CDicomHeader::ReadSequence(CDicomTag* sequence) {
    DepthGuard depth(m_depth);
    if (depth.Exceeded()) return false;
    sequence->m_dataOffset = m_position;
    const uint32_t length = sequence->GetLength();

    if (length == kUndefinedLength) {
        if (PeekDelimiter(0xE0DD)) return SkipDelimiter();
        const bool unknownVR = sequence->m_vr.GetVR() == u"UN";
        if (unknownVR && m_explicitVR) m_switchedToImplicit = true;
        if (unknownVR)
            Note(ProblemCode::UNSequence, sequence->m_dataOffset - (m_explicitVR ? 12 : 8), sequence->m_group,
                 sequence->m_element, sequence, "a UN element of undefined length is read as implicit VR items");
        const bool itemsExplicitVR = unknownVR ? false : m_explicitVR;
        uint64_t sum = 0;
        for (;;) {
            uint16_t group, element;
            uint32_t itemLength;
            if (!ReadTag(group, element) || !Read32(itemLength)) return false;
            std::unique_ptr<CDicomTag> item = NewItemNode(group, element, itemLength, m_position);
            NoteLength(item.get());
            const bool saved = m_explicitVR;
            m_explicitVR = itemsExplicitVR;
            const bool ok = ReadItem(item.get());
            // Settled now, while its nodes are fresh in memory.
            if (ok) sum += SettleItem(item.get());
            m_explicitVR = saved;
            if (!ok) return false;
            sequence->AddChild(std::move(item));
            if (PeekDelimiter(0xE0DD)) {
                if (m_parsing && m_depth > kRememberedDepth) m_itemsExtents[sequence] = {sum, itemsExplicitVR};
                return SkipDelimiter();
            }
        }
    }

    if (length == 0) return true;
    uint64_t sum = 0;
    for (;;) {
        uint16_t group, element;
        if (!ReadTag(group, element)) return false;
        if (group == 0xFFFE && element == 0xE000) {
            uint32_t itemLength;
            if (!Read32(itemLength)) return false;
            std::unique_ptr<CDicomTag> item = NewItemNode(group, element, itemLength, m_position);
            NoteLength(item.get());
            if (itemLength != 0 && !ReadItem(item.get())) return false;
            sum += SettleItem(item.get());
            sequence->AddChild(std::move(item));
            if (sum > length)
                Note(ProblemCode::LengthMismatch, sequence->m_dataOffset - (m_explicitVR ? 12 : 8), sequence->m_group,
                     sequence->m_element, sequence,
                     "the items end " + std::to_string(sum - length) + " bytes after the sequence length " +
                         std::to_string(length));
            if (sum >= length) {
                if (m_parsing && m_depth > kRememberedDepth) m_itemsExtents[sequence] = {sum, m_explicitVR};
                return true;
            }
        } else if (length == 8 && group == 0xFFFE && (element == 0xE00D || element == 0xE0DD)) {
            uint32_t delimiterLength;
            if (!Read32(delimiterLength) || delimiterLength != 0) return false;
            sequence->m_tagData.m_longLength = 0;
            sequence->m_tagData.m_shortLength = 0;
            return true;
        } else {
            return Stop(m_position - 4, group, element, "a tag other than an item inside a sequence");
        }
    }
}

bool CDicomHeader::ReadItem(CDicomTag* item) {
    const uint32_t length = item->GetLength();
    if (length == 0) return true;
    if (length == kUndefinedLength) {
        if (PeekDelimiter(0xE00D)) return SkipDelimiter();
        for (;;) {
            const ItemStep step = ReadItemElement(item);
            if (step == ItemStep::Failed) return false;
            if (step == ItemStep::FileEnded) return true;
            if (PeekDelimiter(0xE00D)) return SkipDelimiter();
        }
    }
    const uint64_t end = m_position + length;
    while (m_position < end) {
        const ItemStep step = ReadItemElement(item);
        if (step == ItemStep::Failed) return false;
        if (step == ItemStep::FileEnded) return true;
    }
    if (m_position > end)
        Note(ProblemCode::LengthMismatch, item->m_dataOffset - 8, item->m_group, item->m_element, item,
             "the item's last element ends " + std::to_string(m_position - end) + " bytes after the item length " +
                 std::to_string(length));
    return true;
}

CDicomHeader::ItemStep CDicomHeader::ReadItemElement(CDicomTag* item) {
    uint16_t group, element;
    if (!ReadTag(group, element)) {
        Stop(m_position, 0, 0, "the file ends inside an item");
        return ItemStep::Failed;
    }
    const uint64_t tagOffset = m_position - 4;
    if (!item->m_children.empty()) {
        const CDicomTag* before = item->m_children.back().get();
        const uint32_t tag = uint32_t(group) << 16 | element,
                       beforeTag = uint32_t(before->m_group) << 16 | before->m_element;
        if (tag <= beforeTag) NoteTagOrder(tagOffset, group, element, tag == beforeTag);
    }
    std::unique_ptr<CDicomTag> node(new CDicomTag(group, element));
    node->m_parent = item;
    if (!ReadElementHeader(node.get())) {
        Stop(tagOffset, group, element, "the element header runs past the end of the file");
        return ItemStep::Failed;
    }
    const uint32_t length = node->GetLength();
    const bool nested = (node->m_tagData.m_longLength == kUndefinedLength && group == 0x7FE0 && element == 0x0010) ||
                        IsSequence(node.get(), m_explicitVR);
    if (nested) {
        const bool ok = (node->m_tagData.m_longLength == kUndefinedLength && group == 0x7FE0 && element == 0x0010)
                            ? ReadEncapsulatedPixelData(node.get())
                            : ReadSequence(node.get());
        if (!ok) return ItemStep::Failed;
        item->AddChild(std::move(node));
        return m_position == m_fileSize ? ItemStep::FileEnded : ItemStep::Read;
    }
    if (!CanRead(length)) {
        Note(ProblemCode::Truncated, tagOffset, group, element, nullptr,
             "the value of " + std::to_string(length) + " bytes runs past the end of the file (" +
                 std::to_string(m_fileSize - m_position) + " bytes left)");
        Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        return ItemStep::Failed;
    }
    if (length != 0 && !ReadValue(node.get())) return ItemStep::Failed;
    item->AddChild(std::move(node));
    m_position += length;
    if (m_position == m_fileSize && item->GetLength() != kUndefinedLength &&
        m_position < item->m_dataOffset + item->GetLength())
        Note(ProblemCode::Truncated, item->m_dataOffset - 8, item->m_group, item->m_element, item,
             "the file ends inside the item");
    return ItemStep::Read;
}

bool CDicomHeader::ReadValue(CDicomTag* element) {
    element->m_dataOffset = m_position;
    const uint32_t length = element->GetLength();
    if (element->Is(0x7FE0, 0x0010))
        if (auto* pixelData = dynamic_cast<CDicomTag7FE0*>(element)) return ReadNativeFrames(pixelData);
    if (!CanRead(length)) return false;
    const unsigned swapUnit = m_littleEndian ? 1 : SwapUnitFor(element->m_vr.GetVR());
    if (length > kHeldValueLimit) {
        // Left in the file. Values the rules look at are checked while they
        // pass through the window; longer ones are not checked.
        if (m_littleEndian && HasValueRules(element->m_vr.GetVR()))
            if (const uint8_t* bytes = WindowBytes(m_position, length)) CheckValue(element, bytes, length);
        element->ReferValue(m_source.get(), length, swapUnit);
        return true;
    }
    if (m_littleEndian) {
        if (const uint8_t* bytes = WindowBytes(m_position, length)) {
            CheckValue(element, bytes, length);
            return element->SetValue(bytes, length);
        }
    }
    HeapPtr<uint8_t> copy(static_cast<uint8_t*>(AllocBlock(length)));
    if (!copy || !CopyAt(m_position, copy.get(), length)) return false;
    SwapUnits(copy.get(), length, swapUnit);
    CheckValue(element, copy.get(), length);
    return element->SetValue(copy.get(), length);
}

bool CDicomHeader::ReadNativeFrames(CDicomTag7FE0* pixelData) {
    const uint64_t frameSize = m_pixel.NativeFrameSize();
    const uint64_t frames = m_pixel.numberOfFrames;
    // No frames, or frames of no bytes: nothing to record.
    if (frames == 0 || frameSize == 0) return true;
    const uint64_t available = m_fileSize - m_position;
    if (frames > available / frameSize) return false;
    // The frames stay in the file; decoding reads them from there.
    const bool swap = !m_littleEndian && pixelData->m_vr.GetVR() == u"OW";
    pixelData->SetFrames(m_source.get(), swap ? 2 : 1, m_position, frameSize, frames);
    return true;
}

// ---------------------------------------------------------------------------
// Encapsulated pixel data

bool CDicomHeader::ReadFragmentItem(CDicomTag* pixelData, uint16_t group, uint16_t element, uint64_t* sum) {
    uint32_t length;
    if (!Read32(length)) return false;
    std::unique_ptr<CDicomTag> item = NewItemNode(group, element, length, m_position);
    if (sum) *sum += 8 + uint64_t(length);
    if (!CanRead(length)) return false;
    if (length != 0 && !ReadValue(item.get())) return false;
    pixelData->AddChild(std::move(item));
    m_position += length;
    return true;
}

bool CDicomHeader::ReadEncapsulatedPixelData(CDicomTag* pixelData) {
    pixelData->m_dataOffset = m_position;
    uint16_t group = 0, element = 0;
    if (!ReadTag(group, element) || group != 0xFFFE || element != 0xE000)
        return Stop(pixelData->m_dataOffset, 0x7FE0, 0x0010, "the encapsulated pixel data does not start with an item");
    if (!ReadFragmentItem(pixelData, group, element, nullptr)) return false;

    const uint32_t length = pixelData->GetLength();
    if (length == kUndefinedLength) {
        for (;;) {
            if (!ReadTag(group, element) || group != 0xFFFE) return false;
            if (element == 0xE0DD) {
                uint32_t delimiterLength;
                return Read32(delimiterLength);
            }
            if (element != 0xE000) return false;
            if (!ReadFragmentItem(pixelData, group, element, nullptr)) return false;
            if (m_position == m_fileSize) return true;
        }
    }
    uint64_t sum = 8;
    for (const auto& child : pixelData->m_children) sum += child->GetLength();
    while (sum < length) {
        if (!ReadTag(group, element)) return false;
        if (!ReadFragmentItem(pixelData, group, element, &sum)) return false;
    }
    return true;
}
