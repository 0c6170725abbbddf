#pragma once
// Parse state and data set parser of a DICOM file, the element byte ranges
// and the transfer syntax / photometric vocabulary of the loaded data set.
// The members live in one file per concern: DicomHeaderSource.cpp (the bytes
// of the file), DicomHeader.cpp (meta information and data set parser),
// DicomHeaderGeometry.cpp (extents and byte ranges, settling item lengths)
// and TransferSyntax.cpp (vocabulary).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dicom/FileBytes.h"
#include "dicom/LoadProblems.h"
#include "dicom/TagArray.h"
#include "dicom/TransferSyntax.h"

// How deep sequences may nest (sequence inside item inside sequence ...).
// Deeper input is rejected, so that the reader, the tree walks and the
// destructors never run out of stack.
constexpr unsigned kMaxSequenceDepth = 1000;

class CDicomHeader : public CTagArray {
public:
    CDicomHeader() = default;
    ~CDicomHeader() override;

    // --- element byte ranges, in the encoding of the main data set ---
    // Queries only: they read the tree and the encoding and change neither,
    // so they may run while the document is shown, from any thread.
    uint32_t HeaderSize(const CDicomTag* element) const;
    uint64_t TagOffset(const CDicomTag* element) const;
    // First and last byte of the element in the file, both inclusive.
    std::pair<uint64_t, uint64_t> ElementRange(const CDicomTag* element) const;
    // Total bytes of an element or item, header, items and delimiters
    // included, measured as encoded in `explicitVR` (the items of a UN
    // sequence always as implicit VR); without it, in the data set's encoding.
    uint64_t Extent(const CDicomTag* node, bool explicitVR) const;
    uint64_t Extent(const CDicomTag* node) const { return Extent(node, m_explicitVR); }

    // --- transfer syntax families (first top-level (0002,0010)) ---
    bool IsRLE() const;
    bool IsJPEG() const;
    bool IsJPEGLossless() const;
    bool IsJPEGLSLossless() const;
    bool IsJPEGLSLossy() const;
    bool IsJPEG2000Lossless() const;
    bool IsJPEG2000Lossy() const;
    bool IsUncompressed() const;
    // --- photometric interpretation (first top-level (0028,0004)) ---
    bool IsRGB() const;
    bool IsCMYK() const;
    bool IsARGB() const;
    bool IsYBRFull() const;
    bool IsYBRFull422() const;
    bool IsYBRPartial422() const;
    bool IsYBRICT() const;
    bool IsPaletteColor() const;
    bool IsMonochrome1() const;
    bool IsMonochrome2() const;
    bool IsMonochrome() const;

    // What the last load found wrong, kept also after a refused load.
    const CLoadProblems& Problems() const { return m_problems; }

    // Encoding of the data set (after the load: of the main data set).
    bool m_hasPreamble = false;
    bool m_explicitVR = true;
    bool m_littleEndian = true;

    // The bytes of the loaded file, shared with whoever shows it; null
    // before a load and after a failed one.
    const std::shared_ptr<CFileBytes>& Source() const { return m_source; }

protected:
    // Back to the reset state: no elements, no bytes, default encoding. The
    // problems stay: a refused load keeps them.
    void ResetHeader();

    // The problems report (LoadProblems.h): recording never changes what the
    // parser builds. Stop records where and why the parse stops (the first
    // stop counts) and returns false.
    CLoadProblems m_problems;
    void Note(ProblemCode code, uint64_t offset, uint16_t group, uint16_t element, const CDicomTag* node,
              std::string text) {
        m_problems.Add(code, offset, group, element, node, std::move(text));
    }
    bool Stop(uint64_t offset, uint16_t group, uint16_t element, std::string text) {
        if (!m_problems.Stopped())
            m_problems.Add(ProblemCode::Stopped, offset, group, element, nullptr, std::move(text));
        return false;
    }
    uint64_t Position() const { return m_position; }

    // --- the bytes of the file (DicomHeaderSource.cpp) ---
    // Reads the open file where it lies; the source owns and closes `fd`.
    bool AttachFile(int fd);
    // Parses a copy of bytes already in memory.
    bool AttachMemory(const uint8_t* data, std::size_t size);
    // After the parse: the parser's window goes, the source stays.
    void ReleaseSource();
    // No source at all (reset).
    void DetachSource();
    uint64_t FileSize() const { return m_fileSize; }
    void SeekTo(uint64_t position) { m_position = position; }

    // --- the parser (DicomHeader.cpp) ---
    bool ReadMetaInformation();
    void ApplyTransferSyntax();
    bool ReadDataSet();
    bool LittleEndianTagTest() const;
    bool BigEndianTagTest() const;
    // Copies `n` bytes at `offset` into dst. Bytes the parser's window holds
    // are copied here; the rest goes through CopyAtSlow.
    bool CopyAt(uint64_t offset, void* dst, std::size_t n) const {
        if (offset >= m_windowStart && n <= m_windowEnd - m_windowStart &&
            offset - m_windowStart <= m_windowEnd - m_windowStart - n) {
            std::memcpy(dst, m_window.get() + (offset - m_windowStart), n);
            return true;
        }
        return CopyAtSlow(offset, dst, n);
    }
    // The `n` bytes at `offset` inside the parser's window (moved there if
    // need be), or null when they do not fit in it or cannot be read.
    const uint8_t* WindowBytes(uint64_t offset, uint64_t n) const;

    // Once the tree is complete: gives every defined-length item that lies
    // below an undefined-length element the length of its content as
    // measured (DicomHeaderGeometry.cpp).
    void SettleItemLengths();

private:
    bool ReadSequence(CDicomTag* sequence);
    bool ReadItem(CDicomTag* item);
    bool ReadElementHeader(CDicomTag* element);
    bool ReadValue(CDicomTag* element);
    bool ReadEncapsulatedPixelData(CDicomTag* pixelData);

    // Byte source.
    bool CanRead(uint64_t n) const { return n <= m_fileSize && m_position <= m_fileSize - n; }
    bool PeekBytes(void* dst, std::size_t n) const;
    bool ReadBytes(void* dst, std::size_t n);
    bool ReadTag(uint16_t& group, uint16_t& element);
    bool Read16(uint16_t& value);
    bool Read32(uint32_t& value);
    bool PeekDelimiter(uint16_t element) const;
    bool SkipDelimiter();
    // Makes the window start at `offset` and hold at least `n` bytes.
    bool MoveWindow(uint64_t offset, uint64_t n) const;
    bool CopyAtSlow(uint64_t offset, void* dst, std::size_t n) const;

    std::shared_ptr<CFileBytes> m_source;  // the file, read where it lies
    uint64_t m_fileSize = 0;
    uint64_t m_position = 0;
    // While parsing: bytes [m_windowStart, m_windowEnd) of the file, read
    // ahead from the source so that small reads cost no call to it.
    mutable quillon::HeapPtr<uint8_t> m_window;
    mutable uint64_t m_windowStart = 0;
    mutable uint64_t m_windowEnd = 0;

    enum class ItemStep { Failed, Read, FileEnded };
    ItemStep ReadItemElement(CDicomTag* item);
    bool ReadNativeFrames(CDicomTag7FE0* pixelData);
    bool ReadFragmentItem(CDicomTag* pixelData, uint16_t group, uint16_t element, uint64_t* sum);
    bool InsideUndefinedUNSequence(const CDicomTag* element) const;
    // Problem checks of an element whose header (and value) was just read.
    void CheckHeader(const CDicomTag* element, uint64_t tagOffset, const char16_t* fileVR, uint16_t shortLength);
    void CheckValue(const CDicomTag* element, const uint8_t* bytes, uint32_t length) {
        // Inline and cheap for the common case: only dates, times, numbers
        // and UIDs have their characters checked, a value of at most 16 bytes
        // breaks no length rule (AS, of 4, aside), and a trailing NUL is
        // looked at wherever it is.
        const std::u16string& vr = element->m_vr.GetVR();
        if (vr.size() != 2 || length == 0) return;
        const char16_t a = vr[0], b = vr[1];
        const bool characters = (a == u'D' && (b == u'A' || b == u'S')) || (a == u'U' && b == u'I') ||
                                (a == u'T' && b == u'M') || (a == u'I' && b == u'S');
        if (!characters && length <= 16 && !(a == u'A' && b == u'S') && bytes[length - 1] != 0) return;
        CheckValueRulesOf(element, bytes, length);
    }
    void CheckValueRulesOf(const CDicomTag* element, const uint8_t* bytes, uint32_t length);
    void CheckOffsetTable(const CDicomTag* pixelData);
    // The VR of encapsulated pixel data (OB) and its offset table.
    void CheckEncapsulated(const CDicomTag* pixelData, uint64_t tagOffset);
    // An element of an odd group: the groups and elements never used, and the
    // private creator that must reserve a private element's block.
    void CheckPrivateTag(const CDicomTag* element, uint64_t tagOffset);
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
    void NoteTagOrder(uint64_t tagOffset, uint16_t group, uint16_t element, bool repeated);
    // Whether the file meta information just read names a transfer syntax.
    void CheckTransferSyntaxNamed(uint64_t dataSetOffset);
    void CheckPixelDataLength(const CDicomTag* pixelData, uint64_t tagOffset);
    void CheckTrailingBytes();
    // A group length element waiting for the end of its group (top level).
    struct PendingGroupLength {
        const CDicomTag* node = nullptr;
        uint64_t from = 0;  // first byte after the group length element
    };
    void CheckGroupLength(PendingGroupLength& pending, uint16_t nextGroup, uint64_t nextTagOffset);
    const CDicomTag* FindTopLevelPixelData() const;
    std::u16string VocabularyText(uint16_t group, uint16_t element, bool* present) const;

    unsigned m_depth = 0;

    // While a data set is parsed: for each defined-length sequence nested
    // more than kRememberedDepth deep, the sum of its items' extents as
    // measured when it was read, and the encoding it was measured in.
    // Measuring an item measures everything below it, so without this a
    // chain of nested defined-length sequences would be measured again at
    // every level above it: time growing with depth x size.
    struct ItemsExtent {
        uint64_t sum;
        bool explicitVR;
    };
    std::unordered_map<const CDicomTag*, ItemsExtent> m_itemsExtents;
    bool m_parsing = false;
    // The undefined-length nodes of the data set in the order they were read
    // (pre-order), for SettleItemLengths.
    std::vector<CDicomTag*> m_undefinedLength;
    // Top-level sequences whose item lengths the parser settled itself are
    // left out of that list; these say in which encodings that happened.
    bool m_settledIn[2] = {false, false};
    bool m_switchedToImplicit = false;
    void NoteLength(CDicomTag* node) {
        if (m_parsing && node->GetLength() == kUndefinedLength) m_undefinedLength.push_back(node);
    }

    // Measuring with or without settling item lengths (DicomHeaderGeometry.cpp).
    struct Settling;
    template <class Node>
    static uint64_t Measure(Node* node, bool explicitVR, Settling* settling);
    // The parser's measure of an item just read: settles its length and those
    // of the items below it in the current encoding.
    uint64_t SettleItem(CDicomTag* item);
};
