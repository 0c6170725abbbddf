// The data set reader: file meta information, transfer syntax, elements,
// sequences and items, native frames and encapsulated pixel data; and the
// bytes of the file it reads, through a window moved along with the cursor.
#include "dicom/DicomReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "dicom/ByteOrder.h"
#include "dicom/LoaderRules.h"
#include "dicom/PixelDescription.h"
#include "dicom/ReaderObserver.h"
#include "dicom/TransferSyntax.h"

namespace quillon {

using rules::IsSequence;

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
// the data set is parsed (see DicomReader::m_itemsExtents).
constexpr unsigned kRememberedDepth = 8;

// The reader reads the file through a window of this many bytes, moved
// forward as the parse advances.
constexpr std::size_t kWindowBytes = 256 * 1024;
// After a jump over a value (a fragment, a large value skipped) the window
// is first this small: often only the next item header is read there before
// the next jump, and a whole window per fragment would read the file twice.
constexpr std::size_t kJumpWindowBytes = 4 * 1024;
// Reads of at least this many bytes (large values, the frames of native
// pixel data) go straight from the file to their target.
constexpr std::size_t kDirectRead = 64 * 1024;

// A node for an item header: the tag as read, its 32-bit length in long form
// and nothing else (no default value of a group length element).
std::unique_ptr<CDicomTag> NewItemNode(uint16_t group, uint16_t element, uint32_t length, uint64_t dataOffset) {
    auto item = std::make_unique<CDicomTag>(group, element);
    item->m_tagData.Free();
    item->m_tagData.m_longLength = length;
    item->m_dataOffset = dataOffset;
    return item;
}

// Whether a value may break a rule of its VR, cheaply, so that the common
// value costs no call to the observer: only dates, times, numbers and UIDs
// have their characters checked, a value of at most 16 bytes breaks no
// length rule (AS, of 4, aside), and a trailing NUL is looked at wherever it is.
inline bool MayBreakValueRules(const CDicomTag* element, const uint8_t* bytes, uint32_t length) {
    const std::u16string& vr = element->m_vr.GetVR();
    if (vr.size() != 2 || length == 0) return false;
    const char16_t a = vr[0], b = vr[1];
    const bool characters = (a == u'D' && (b == u'A' || b == u'S')) || (a == u'U' && b == u'I') ||
                            (a == u'T' && b == u'M') || (a == u'I' && b == u'S');
    return characters || length > 16 || (a == u'A' && b == u'S') || bytes[length - 1] == 0;
}

}  // namespace

DicomReader::DicomReader(std::shared_ptr<quillon::FileBytes> source, quillon::PixelDescription& pixel, quillon::LoadProblems& problems,
                         ReaderObserver& observer)
    : m_source(std::move(source)),
      m_fileSize(m_source ? m_source->Size() : 0),
      m_pixel(pixel),
      m_problems(problems),
      m_observer(observer) {}

DicomReader::~DicomReader() = default;

bool DicomReader::Stop(uint64_t offset, uint16_t group, uint16_t element, std::string text) {
    if (!m_problems.Stopped()) m_problems.Add(ProblemCode::Stopped, offset, group, element, nullptr, std::move(text));
    return false;
}

// ---------------------------------------------------------------------------
// The bytes of the file

bool DicomReader::CopyAtSlow(uint64_t offset, void* dst, std::size_t n) const {
    if (!m_source || n > m_fileSize || offset > m_fileSize - n) return false;
    if (n == 0) return true;
    if (n >= kDirectRead) return m_source->Read(offset, dst, n);
    if (!MoveWindow(offset, n)) return false;
    std::memcpy(dst, m_window.get() + (offset - m_windowStart), n);
    return true;
}

bool DicomReader::MoveWindow(uint64_t offset, uint64_t n) const {
    if (!m_source || n > kWindowBytes || n > m_fileSize || offset > m_fileSize - n) return false;
    if (!m_window) {
        m_window.reset(static_cast<uint8_t*>(AllocBlock(kWindowBytes)));
        if (!m_window) return false;
    }
    // Reading on from the window's end takes a whole window; landing past it
    // takes a small one, and the whole window once the parse reads on.
    const bool jumped = m_windowEnd != 0 && offset > m_windowEnd;
    const uint64_t wanted = jumped ? std::max<uint64_t>(n, kJumpWindowBytes) : kWindowBytes;
    const std::size_t bytes = std::size_t(std::min<uint64_t>(wanted, m_fileSize - offset));
    m_windowStart = m_windowEnd = 0;
    if (!m_source->Read(offset, m_window.get(), bytes)) return false;
    m_windowStart = offset;
    m_windowEnd = offset + bytes;
    return true;
}

const uint8_t* DicomReader::WindowBytes(uint64_t offset, uint64_t n) const {
    if (n > kWindowBytes) return nullptr;
    if (!(offset >= m_windowStart && n <= m_windowEnd - m_windowStart &&
          offset - m_windowStart <= m_windowEnd - m_windowStart - n))
        if (!MoveWindow(offset, n)) return nullptr;
    return m_window.get() + (offset - m_windowStart);
}

// ---------------------------------------------------------------------------
// Reading at the cursor (in this file, beside the parser, so that the
// compiler can inline these small steps into it)

bool DicomReader::ReadBytes(void* dst, std::size_t n) {
    if (!PeekBytes(dst, n)) return false;
    m_position += n;
    return true;
}

bool DicomReader::Read16(uint16_t& value) {
    uint8_t b[2];
    if (!ReadBytes(b, 2)) return false;
    value = m_encoding.littleEndian ? uint16_t(b[0] | (b[1] << 8)) : uint16_t((b[0] << 8) | b[1]);
    return true;
}

bool DicomReader::Read32(uint32_t& value) {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return false;
    value = m_encoding.littleEndian
                ? (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24)
                : (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
    return true;
}

bool DicomReader::ReadTag(uint16_t& group, uint16_t& element) {
    if (!CanRead(4)) return false;
    return Read16(group) && Read16(element);
}

bool DicomReader::PeekDelimiter(uint16_t element) const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    uint16_t g, e;
    if (m_encoding.littleEndian) {
        g = uint16_t(b[0] | (b[1] << 8));
        e = uint16_t(b[2] | (b[3] << 8));
    } else {
        g = uint16_t((b[0] << 8) | b[1]);
        e = uint16_t((b[2] << 8) | b[3]);
    }
    return g == 0xFFFE && e == element;
}

bool DicomReader::SkipDelimiter() {
    if (!CanRead(8)) return Stop(m_position, 0, 0, "the file ends inside a delimitation item");
    m_position += 8;
    return true;
}

bool DicomReader::LittleEndianTagTest() const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    return quillon::rules::IsPlausibleFirstTag(uint16_t(b[0] | (b[1] << 8)), uint16_t(b[2] | (b[3] << 8)));
}

bool DicomReader::BigEndianTagTest() const {
    uint8_t b[4];
    if (!PeekBytes(b, 4)) return false;
    return quillon::rules::IsPlausibleFirstTag(uint16_t((b[0] << 8) | b[1]), uint16_t((b[2] << 8) | b[3]));
}

// ---------------------------------------------------------------------------
// File meta information and transfer syntax

bool DicomReader::ReadMetaInformation() {
    for (bool first = true;; first = false) {
        uint16_t group, element;
        if (!ReadTag(group, element)) return Stop(m_position, 0, 0, "the file ends inside the file meta information");
        if (group != 0x0002) {
            m_observer.MetaInformationEnded(m_position - 4, group, m_tree);
            m_position -= 4;
            m_encoding.explicitVR = false;
            return true;
        }
        const uint64_t tagOffset = m_position - 4;
        if (first) m_observer.MetaInformationStarts(tagOffset, {group, element});
        std::unique_ptr<CDicomTag> node(new CDicomTag(group, element));
        if (!ReadElementHeader(node.get()))
            return Stop(tagOffset, group, element, "the element header runs past the end of the file");
        const uint32_t length = node->GetLength();
        if (!CanRead(length)) {
            m_observer.ValueCutOff(ReadScope::MetaInformation, tagOffset, {group, element}, length,
                                   m_fileSize - m_position);
            return Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        }
        if (length != 0 && !ReadValue(node.get())) return false;
        m_observer.TopLevelValueRead(*node, m_position + length);
        m_tree.Add(std::move(node));
        m_position += length;
    }
}

void DicomReader::ApplyTransferSyntax() {
    for (const auto& tag : m_tree.Elements()) {
        if (!tag) continue;
        if (tag->m_group > 0x0002) return;
        if (!tag->Is(tags::kTransferSyntaxUID)) continue;
        HeapPtr<char> uid = tag->GetValueString();
        const DataSetEncoding encoding = EncodingForTransferSyntax(uid ? uid.get() : "");
        m_encoding.explicitVR = encoding.explicitVR;
        m_encoding.littleEndian = encoding.littleEndian;
        m_deflated = encoding.deflated;
        return;
    }
}

void DicomReader::SourceChanged() {
    m_fileSize = m_source ? m_source->Size() : 0;
    m_windowStart = m_windowEnd = 0;
}

// ---------------------------------------------------------------------------
// Data set parser

bool DicomReader::ReadDataSet() {
    // What is remembered while parsing lives only as long as the parse.
    struct ParseScope {
        DicomReader& reader;
        explicit ParseScope(DicomReader& r) : reader(r) {
            reader.m_parsing = true;
            reader.m_itemsExtents.clear();
            reader.m_unsettled.nodes.clear();
            reader.m_unsettled.settledIn[0] = reader.m_unsettled.settledIn[1] = false;
        }
        ~ParseScope() {
            reader.m_parsing = false;
            reader.m_itemsExtents.clear();
        }
    } scope(*this);
    m_observer.DataSetStarts();
    m_outsideDataSet = false;
    uint16_t group, element;
    const auto tagStop = [this] {
        const uint64_t left = m_fileSize - m_position;
        return Stop(m_position, 0, 0,
                    left == 0 ? std::string("the file ends where an element is expected")
                              : std::to_string(left) + " bytes after the last element, too few for a tag");
    };
    if (!ReadTag(group, element)) return tagStop();
    // The group of the top-level element before, for the observer's GroupEnded.
    uint16_t currentGroup = group;
    const auto finish = [this] {
        m_observer.DataSetEnded(m_position);
        return true;
    };
    for (;;) {
        const uint64_t tagOffset = m_position - 4;
        if (group != currentGroup) {
            m_observer.GroupEnded(currentGroup, tagOffset);
            currentGroup = group;
        }
        if (rules::IsStrayGroup0000(m_tree.Size(), group) || group == rules::kRefusedGroup) m_outsideDataSet = true;
        if (rules::IsStrayGroup0000(m_tree.Size(), group))
            return Stop(tagOffset, group, element, "group 0000 after the first elements: the bytes are no data set");
        if (group == rules::kRefusedGroup)
            return Stop(tagOffset, group, element, "group 8000 is never an element: the bytes are no data set");
        m_observer.TopLevelTagRead(tagOffset, {group, element});
        // Float samples are always native: their element is never encapsulated.
        const bool isFloatPixelData = tags::IsPixelDataTag({group, element}) && element != tags::kPixelData.element;
        const bool isPixelData =
            isFloatPixelData || (group == tags::kPixelData.group && element == tags::kPixelData.element);
        std::unique_ptr<CDicomTag> node;
        if (isPixelData) {
            LoadPixelDescription(m_tree.Elements(), m_pixel);
            node.reset(new CDicomTag7FE0(group, element));
            // The dictionary knows only (7FE0,0010); the float elements are
            // named here, and take their VR in implicit VR from their tag.
            if (isFloatPixelData)
                node->m_description =
                    element == tags::kFloatPixelData.element ? u"Float Pixel Data" : u"Double Float Pixel Data";
        } else {
            node.reset(new CDicomTag(group, element));
        }
        const std::size_t noted = m_unsettled.nodes.size();
        m_switchedToImplicit = false;
        // Only trailing padding is read after the pixel data, and it ends the
        // data set; padding that cannot be read leaves its bytes to the root,
        // as the bytes after pixel data are left without it.
        const bool isPadding = group == tags::kDataSetTrailingPadding.group &&
                               element == tags::kDataSetTrailingPadding.element &&
                               (m_tree.Find(tags::kPixelData) || m_tree.Find(tags::kFloatPixelData) ||
                                m_tree.Find(tags::kDoubleFloatPixelData));
        const auto paddingUnread = [this, tagOffset, &finish] {
            m_position = tagOffset;
            return finish();
        };
        if (!ReadElementHeader(node.get())) {
            if (isPadding) return paddingUnread();
            return Stop(tagOffset, group, element, "the element header runs past the end of the file");
        }
        const uint32_t length = node->GetLength();
        if (isPadding && (IsSequence(node.get(), m_encoding.explicitVR) || length == kUndefinedLength))
            return paddingUnread();

        if (IsSequence(node.get(), m_encoding.explicitVR)) {
            if (!ReadSequence(node.get())) {
                Stop(tagOffset, group, element, "the sequence cannot be read to its end");
                // What was read of it stays, up to where the parse stopped.
                m_tree.Add(std::move(node));
                return false;
            }
            // Its items were settled as they were read, in the encoding that
            // SettleItemLengths measures them in, unless a UN sequence read
            // them as implicit VR inside explicit VR: then they are left to it.
            if (!m_switchedToImplicit) {
                m_unsettled.nodes.resize(noted);
                m_unsettled.settledIn[m_encoding.explicitVR] = true;
            }
            m_tree.Add(std::move(node));
            if (m_position == m_fileSize) return finish();
            if (!ReadTag(group, element)) return tagStop();
            continue;
        }
        if (isPixelData && !isFloatPixelData &&
            (!IsUncompressed(m_tree, m_encoding.littleEndian) || length == kUndefinedLength)) {
            if (!ReadEncapsulatedPixelData(node.get())) {
                Stop(tagOffset, group, element, "the encapsulated pixel data cannot be read to its end");
                m_tree.Add(std::move(node));
                return false;
            }
            m_observer.EncapsulatedPixelData(*node, tagOffset, m_encoding.explicitVR, NativeFrameCount());
            m_tree.Add(std::move(node));
            if (!ReportPixelDataEnd() || !ReadTag(group, element)) return finish();
            continue;
        }
        if (!CanRead(length)) {
            m_observer.ValueCutOff(ReadScope::TopLevel, tagOffset, {group, element}, length, m_fileSize - m_position);
            if (isPadding) return paddingUnread();
            return Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        }
        if (isPixelData) m_observer.NativePixelData(*node, tagOffset, m_pixel.NativeFramesSize(NativeFrameCount()));
        if (length != 0 && !ReadValue(node.get())) {
            if (isPixelData) return Stop(tagOffset, group, element, "the file holds fewer bytes than the frames need");
            if (isPadding) return paddingUnread();
            return false;
        }
        if (isFloatPixelData && !m_encoding.explicitVR)
            node->SetVR(element == tags::kFloatPixelData.element ? u"OF" : u"OD");
        if (isPixelData && !isFloatPixelData && !m_encoding.explicitVR) {
            const CDicomTag* bitsAllocated = m_tree.Find(tags::kBitsAllocated);
            if (bitsAllocated && bitsAllocated->GetIntValue() > 8) node->SetVR(u"OW");
        }
        m_observer.TopLevelValueRead(*node, m_position + length);
        m_tree.Add(std::move(node));
        if (!m_encoding.hasPreamble && group == tags::kTransferSyntaxUID.group &&
            element == tags::kTransferSyntaxUID.element)
            ApplyTransferSyntax();
        m_position += length;
        if (m_position == m_fileSize || isPadding) return finish();
        if (isPixelData) {
            if (!ReportPixelDataEnd() || !ReadTag(group, element)) return finish();
            continue;
        }
        if (!ReadTag(group, element)) return tagStop();
    }
}

bool DicomReader::ReportPixelDataEnd() {
    if (m_position >= m_fileSize) {
        m_observer.PixelDataEnded(m_position, m_fileSize, nullptr);
        return false;
    }
    uint8_t b[4];
    if (!PeekBytes(b, 4)) {
        m_observer.PixelDataEnded(m_position, m_fileSize, nullptr);
        return false;
    }
    const Tag following = m_encoding.littleEndian ? Tag{uint16_t(b[0] | b[1] << 8), uint16_t(b[2] | b[3] << 8)}
                                                  : Tag{uint16_t(b[0] << 8 | b[1]), uint16_t(b[2] << 8 | b[3])};
    m_observer.PixelDataEnded(m_position, m_fileSize, &following);
    return following == tags::kDataSetTrailingPadding;
}

bool DicomReader::ReadElementHeader(CDicomTag* element) {
    const uint64_t tagOffset = m_position - 4;
    char16_t text[2] = {0, 0};
    uint16_t shortLength = 0;
    bool vrNotable = false, vrDiffers = false;
    if (m_encoding.explicitVR) {
        uint8_t vr[2];
        if (!ReadBytes(vr, 2)) return false;
        text[0] = char16_t(vr[0]);
        text[1] = char16_t(vr[1]);
        // The dictionary's VR, before the file's replaces it.
        const std::u16string& known = element->m_vr.GetDeclaredVR();
        vrDiffers = known.size() == 2
                        ? (known[0] != char16_t(std::toupper(vr[0])) || known[1] != char16_t(std::toupper(vr[1])))
                        : !IsVRCode(vr[0], vr[1]);
        element->SetVR(std::u16string_view(text, 2));
        if (!Read16(shortLength)) return false;
        uint32_t longLength = 0;
        const bool longVR = IsLongLengthVR(element->m_vr.GetDeclaredVR());
        if (shortLength == 0 && longVR) {
            if (!Read32(longLength)) return false;
        }
        element->m_tagData.m_shortLength = shortLength;
        element->m_tagData.m_longLength = longLength;
        vrNotable = vrDiffers || (longVR && shortLength != 0);
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
    const uint32_t length = element->GetLength();
    if (element->m_tagData.m_data && length != 0) element->m_tagData.m_data.reset();
    element->m_dataOffset = m_position;
    NoteLength(element);
    if (vrNotable || (element->m_group & 1) || ((length & 1) != 0 && length != kUndefinedLength))
        m_observer.HeaderRead(
            {*element, tagOffset, m_encoding.explicitVR ? text : nullptr, shortLength, vrDiffers, m_tree});
    return true;
}

bool DicomReader::ReadSequence(CDicomTag* sequence) {
    DepthGuard depth(m_depth);
    sequence->m_dataOffset = m_position;
    // The header of the sequence one level too deep is read; its items are not.
    if (depth.Exceeded())
        return Stop(m_position, sequence->m_group, sequence->m_element,
                    "sequences nest more than " + std::to_string(kMaxSequenceDepth) + " levels deep");
    const uint32_t length = sequence->GetLength();

    if (length == kUndefinedLength) {
        if (PeekDelimiter(0xE0DD)) return SkipDelimiter();
        const bool unknownVR = sequence->m_vr.GetVR() == u"UN";
        if (unknownVR && m_encoding.explicitVR) m_switchedToImplicit = true;
        if (unknownVR)
            m_observer.UNSequenceStarts(*sequence, sequence->m_dataOffset - (m_encoding.explicitVR ? 12 : 8));
        const bool itemsExplicitVR = unknownVR ? false : m_encoding.explicitVR;
        uint64_t sum = 0;
        for (;;) {
            uint16_t group, element;
            uint32_t itemLength;
            const uint64_t itemOffset = m_position;
            if (!ReadTag(group, element))
                return Stop(itemOffset, 0, 0, "the file ends inside a sequence, where an item is expected");
            if (!Read32(itemLength))
                return Stop(itemOffset, group, element, "the item header runs past the end of the file");
            std::unique_ptr<CDicomTag> item = NewItemNode(group, element, itemLength, m_position);
            NoteLength(item.get());
            const bool saved = m_encoding.explicitVR;
            m_encoding.explicitVR = itemsExplicitVR;
            const bool ok = ReadItem(item.get());
            // Settled now, while its nodes are fresh in memory.
            if (ok) sum += SettleItem(item.get());
            m_encoding.explicitVR = saved;
            // An item the parse stopped in stays with what was read of it.
            sequence->AddChild(std::move(item));
            if (!ok) return false;
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
        const uint64_t itemOffset = m_position;
        if (!ReadTag(group, element))
            return Stop(itemOffset, 0, 0, "the file ends inside a sequence, where an item is expected");
        const Tag tag{group, element};
        if (tag == tags::kItem) {
            uint32_t itemLength;
            if (!Read32(itemLength))
                return Stop(itemOffset, group, element, "the item header runs past the end of the file");
            std::unique_ptr<CDicomTag> item = NewItemNode(group, element, itemLength, m_position);
            NoteLength(item.get());
            if (itemLength != 0 && !ReadItem(item.get())) {
                sequence->AddChild(std::move(item));
                return false;
            }
            sum += SettleItem(item.get());
            sequence->AddChild(std::move(item));
            if (sum > length)
                m_observer.SequenceOverrun(*sequence, sequence->m_dataOffset - (m_encoding.explicitVR ? 12 : 8), sum);
            if (sum >= length) {
                if (m_parsing && m_depth > kRememberedDepth) m_itemsExtents[sequence] = {sum, m_encoding.explicitVR};
                return true;
            }
        } else if (length == 8 && (tag == tags::kItemDelimitation || tag == tags::kSequenceDelimitation)) {
            uint32_t delimiterLength;
            if (!Read32(delimiterLength) || delimiterLength != 0)
                return Stop(itemOffset, group, element, "a delimiter without a zero length ends the sequence");
            sequence->m_tagData.m_longLength = 0;
            sequence->m_tagData.m_shortLength = 0;
            return true;
        } else {
            return Stop(m_position - 4, group, element, "a tag other than an item inside a sequence");
        }
    }
}

bool DicomReader::ReadItem(CDicomTag* item) {
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
    if (m_position > end) m_observer.ItemOverrun(*item, m_position);
    return true;
}

DicomReader::ItemStep DicomReader::ReadItemElement(CDicomTag* item) {
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
        if (tag <= beforeTag) m_observer.ItemTagNotAscending(tagOffset, {group, element}, tag == beforeTag);
    }
    std::unique_ptr<CDicomTag> node(new CDicomTag(group, element));
    node->m_parent = item;
    if (!ReadElementHeader(node.get())) {
        Stop(tagOffset, group, element, "the element header runs past the end of the file");
        return ItemStep::Failed;
    }
    const uint32_t length = node->GetLength();
    const bool encapsulated = node->m_tagData.m_longLength == kUndefinedLength && node->Is(tags::kPixelData);
    if (encapsulated || IsSequence(node.get(), m_encoding.explicitVR)) {
        const bool ok = encapsulated ? ReadEncapsulatedPixelData(node.get()) : ReadSequence(node.get());
        item->AddChild(std::move(node));
        if (!ok) return ItemStep::Failed;
        return m_position == m_fileSize ? ItemStep::FileEnded : ItemStep::Read;
    }
    if (!CanRead(length)) {
        m_observer.ValueCutOff(ReadScope::Item, tagOffset, {group, element}, length, m_fileSize - m_position);
        Stop(tagOffset, group, element, "the last element is cut off by the end of the file");
        return ItemStep::Failed;
    }
    if (length != 0 && !ReadValue(node.get())) return ItemStep::Failed;
    item->AddChild(std::move(node));
    m_position += length;
    if (m_position == m_fileSize && item->GetLength() != kUndefinedLength &&
        m_position < item->m_dataOffset + item->GetLength())
        m_observer.FileEndedInItem(*item);
    return ItemStep::Read;
}

bool DicomReader::ReadValue(CDicomTag* element) {
    element->m_dataOffset = m_position;
    const uint32_t length = element->GetLength();
    if (tags::IsPixelDataTag({element->m_group, element->m_element}))
        if (auto* pixelData = dynamic_cast<CDicomTag7FE0*>(element)) return ReadNativeFrames(pixelData);
    if (!CanRead(length)) return false;
    const unsigned swapUnit = m_encoding.littleEndian ? 1 : SwapUnitFor(element->m_vr.GetVR());
    if (length > kHeldValueLimit) {
        // Left in the file. Values the rules look at are checked while they
        // pass through the window; longer ones are not checked.
        if (m_encoding.littleEndian && HasValueRules(element->m_vr.GetVR()))
            if (const uint8_t* bytes = WindowBytes(m_position, length)) ReportValue(element, bytes, length);
        element->ReferValue(m_source.get(), length, swapUnit);
        return true;
    }
    if (m_encoding.littleEndian) {
        if (const uint8_t* bytes = WindowBytes(m_position, length)) {
            ReportValue(element, bytes, length);
            return element->SetValue(bytes, length);
        }
    }
    HeapPtr<uint8_t> copy(static_cast<uint8_t*>(AllocBlock(length)));
    if (!copy || !CopyAt(m_position, copy.get(), length)) return false;
    SwapUnits(copy.get(), length, swapUnit);
    ReportValue(element, copy.get(), length);
    return element->SetValue(copy.get(), length);
}

bool DicomReader::ReadNativeFrames(CDicomTag7FE0* pixelData) {
    const uint64_t frameSize = NativeFrameSize();
    const uint64_t frames = NativeFrameCount();
    // No frames, or frames of no bytes: nothing to record.
    if (frames == 0 || frameSize == 0) return true;
    const uint64_t available = m_fileSize - m_position;
    if (m_pixel.NativeFramesSize(frames) > available) return false;
    // The frames stay in the file; decoding reads them from there. Big-endian
    // values are turned around by their numbers: OW words, and the floats of
    // Float (4 bytes) and Double Float (8 bytes) Pixel Data.
    unsigned swapUnit = 1;
    if (!m_encoding.littleEndian) {
        if (pixelData->Is(tags::kFloatPixelData))
            swapUnit = 4;
        else if (pixelData->Is(tags::kDoubleFloatPixelData))
            swapUnit = 8;
        else if (pixelData->m_vr.GetVR() == u"OW")
            swapUnit = 2;
    }
    pixelData->SetFrames(m_source.get(), swapUnit, m_position, frameSize, frames, m_position + pixelData->GetLength(),
                         m_pixel.BitPackedFrames() ? m_pixel.NativeFrameBits() : 0);
    return true;
}

// ---------------------------------------------------------------------------
// Encapsulated pixel data

bool DicomReader::ReadFragmentItem(CDicomTag* pixelData, uint16_t group, uint16_t element, uint64_t* sum) {
    uint32_t length;
    const uint64_t itemOffset = m_position - 4;
    if (!Read32(length)) return Stop(itemOffset, group, element, "the item header runs past the end of the file");
    if (sum) *sum += 8 + uint64_t(length);
    if (!CanRead(length)) return Stop(itemOffset, group, element, "the fragment is cut off by the end of the file");
    auto* fragments = dynamic_cast<CDicomTag7FE0*>(pixelData);
    if (fragments && !pixelData->m_children.empty()) {
        // A fragment after the offset table: held as its offset and length,
        // its node made when something asks for it.
        if (!fragments->AddFragment(m_position, length)) return false;
        m_position += length;
        return true;
    }
    std::unique_ptr<CDicomTag> item = NewItemNode(group, element, length, m_position);
    if (fragments) {
        // The fragments' values are read as this item's is.
        const unsigned swapUnit = m_encoding.littleEndian ? 1 : SwapUnitFor(item->m_vr.GetVR());
        fragments->SetFragmentSource(m_source.get(), swapUnit);
    }
    if (length != 0 && !ReadValue(item.get())) return false;
    pixelData->AddChild(std::move(item));
    m_position += length;
    return true;
}

bool DicomReader::ReadEncapsulatedPixelData(CDicomTag* pixelData) {
    const bool read = ReadFragments(pixelData);
    if (auto* fragments = dynamic_cast<CDicomTag7FE0*>(pixelData)) fragments->ShrinkFragments();
    return read;
}

bool DicomReader::ReadFragments(CDicomTag* pixelData) {
    pixelData->m_dataOffset = m_position;
    uint16_t group = 0, element = 0;
    if (!ReadTag(group, element) || group != tags::kItem.group || element != tags::kItem.element)
        return Stop(pixelData->m_dataOffset, tags::kPixelData.group, tags::kPixelData.element,
                    "the encapsulated pixel data does not start with an item");
    if (!ReadFragmentItem(pixelData, group, element, nullptr)) return false;

    const uint32_t length = pixelData->GetLength();
    // Where the items stop before their end, the stop is said at the item.
    const auto itemStop = [this](uint64_t at) {
        return Stop(at, 0, 0, "the file ends inside the encapsulated pixel data, where an item is expected");
    };
    if (length == kUndefinedLength) {
        for (;;) {
            const uint64_t itemOffset = m_position;
            if (!ReadTag(group, element)) return itemStop(itemOffset);
            if (group != 0xFFFE || (element != 0xE0DD && element != 0xE000))
                return Stop(itemOffset, group, element, "a tag other than an item inside the encapsulated pixel data");
            if (element == 0xE0DD) {
                uint32_t delimiterLength;
                return Read32(delimiterLength) ||
                       Stop(itemOffset, group, element, "the item header runs past the end of the file");
            }
            if (!ReadFragmentItem(pixelData, group, element, nullptr)) return false;
            if (m_position == m_fileSize) return true;
        }
    }
    uint64_t sum = 8;
    for (const auto& child : pixelData->m_children) sum += child->GetLength();
    while (sum < length) {
        if (!ReadTag(group, element)) return itemStop(m_position);
        if (!ReadFragmentItem(pixelData, group, element, &sum)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// What the observer is told beside the structure

void DicomReader::ReportValue(const CDicomTag* element, const uint8_t* bytes, uint32_t length) {
    if (MayBreakValueRules(element, bytes, length)) m_observer.ValueRead(*element, bytes, length);
}

uint64_t DicomReader::NativeFrameSize() const {
    return m_pixel.NativeFrameSize();
}

uint64_t DicomReader::NativeFrameCount() const { return m_pixel.numberOfFrames; }

}  // namespace quillon
