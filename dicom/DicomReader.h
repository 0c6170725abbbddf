#pragma once
// The data set reader: reads the file meta information, the data set,
// sequences, items, native frames and encapsulated pixel data from a byte
// source into a tree, and tells an observer what it reads. Where and why a
// parse stops it records itself.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "dicom/DataSet.h"
#include "dicom/Encoding.h"
#include "dicom/FileBytes.h"
#include "dicom/Geometry.h"
#include "dicom/HeapBlock.h"
#include "dicom/LoadProblems.h"


// How deep sequences may nest (sequence inside item inside sequence ...).
// Deeper input is rejected, so that the reader, the tree walks and the
// destructors never run out of stack.
constexpr unsigned kMaxSequenceDepth = 1000;

namespace quillon {

class ReaderObserver;
struct PixelDescription;

class DicomReader {
public:
    // Reads `source` (not null). `pixel` is filled when the reader meets the
    // pixel data, whose frames it sizes by it; `problems` receives where and
    // why a parse stops; `observer` hears what is read.
    DicomReader(std::shared_ptr<quillon::FileBytes> source, PixelDescription& pixel, quillon::LoadProblems& problems,
                ReaderObserver& observer);
    DicomReader(const DicomReader&) = delete;
    DicomReader& operator=(const DicomReader&) = delete;
    ~DicomReader();

    // --- the cursor ---
    uint64_t FileSize() const { return m_fileSize; }
    uint64_t Position() const { return m_position; }
    void SeekTo(uint64_t position) { m_position = position; }
    // Copies `n` bytes at `offset` into dst. Bytes the window holds are
    // copied here; the rest goes through CopyAtSlow.
    bool CopyAt(uint64_t offset, void* dst, std::size_t n) const {
        if (offset >= m_windowStart && n <= m_windowEnd - m_windowStart &&
            offset - m_windowStart <= m_windowEnd - m_windowStart - n) {
            std::memcpy(dst, m_window.get() + (offset - m_windowStart), n);
            return true;
        }
        return CopyAtSlow(offset, dst, n);
    }
    // Whether the four bytes at the cursor make a plausible first tag in
    // little-endian or in big-endian order.
    bool LittleEndianTagTest() const;
    bool BigEndianTagTest() const;

    // --- the encoding the data set is read in ---
    const Encoding& GetEncoding() const { return m_encoding; }
    void SetEncoding(const Encoding& encoding) { m_encoding = encoding; }

    // --- reading ---
    // The file meta information at the cursor, up to the first tag of
    // another group; the encoding becomes implicit VR.
    bool ReadMetaInformation();
    // The encoding named by the first (0002,0010) read.
    void ApplyTransferSyntax();
    // Whether that transfer syntax deflates the data set (ApplyTransferSyntax).
    bool DataSetDeflated() const { return m_deflated; }
    // The source's bytes changed from the cursor on (inflated bytes were
    // attached there): its size is taken again and the window dropped.
    void SourceChanged();
    // The data set at the cursor, to the end of the file or the pixel data.
    bool ReadDataSet();
    // Records where and why the parse stops (the first stop counts); false.
    bool Stop(uint64_t offset, uint16_t group, uint16_t element, std::string text);
    // Whether the parse stopped at bytes that are no data set at all (a tag
    // no element has), rather than at one it could not read to its end.
    bool StoppedOutsideDataSet() const { return m_outsideDataSet; }

    // --- the tree ---
    const DataSet& Tree() const { return m_tree; }
    // Back to no elements, to read again from the start.
    void ClearTree() { m_tree.Clear(); }
    // After the parse: the tree read, and what the settling of its item
    // lengths needs; the reader keeps neither.
    DataSet TakeTree() { return std::move(m_tree); }
    UnsettledLengths TakeUnsettledLengths() { return std::move(m_unsettled); }

private:
    bool ReadSequence(CDicomTag* sequence);
    bool ReadItem(CDicomTag* item);
    bool ReadElementHeader(CDicomTag* element);
    bool ReadValue(CDicomTag* element);
    bool ReadEncapsulatedPixelData(CDicomTag* pixelData);
    bool ReadFragments(CDicomTag* pixelData);
    enum class ItemStep { Failed, Read, FileEnded };
    ItemStep ReadItemElement(CDicomTag* item);
    bool ReadNativeFrames(CDicomTag7FE0* pixelData);
    bool ReadFragmentItem(CDicomTag* pixelData, uint16_t group, uint16_t element, uint64_t* sum);
    // Tells the observer about a value that may break a rule of its VR.
    void ReportValue(const CDicomTag* element, const uint8_t* bytes, uint32_t length);
    // Tells the observer where the top-level pixel data ends.
    // Tells the observer where the pixel data ends and what follows; true
    // when trailing padding follows, which is then read.
    bool ReportPixelDataEnd();
    // The frames the pixel description gives, and the bytes of each.
    uint64_t NativeFrameSize() const;
    uint64_t NativeFrameCount() const;

    // Byte source.
    bool CanRead(uint64_t n) const { return n <= m_fileSize && m_position <= m_fileSize - n; }
    bool PeekBytes(void* dst, std::size_t n) const { return CopyAt(m_position, dst, n); }
    bool ReadBytes(void* dst, std::size_t n);
    bool ReadTag(uint16_t& group, uint16_t& element);
    bool Read16(uint16_t& value);
    bool Read32(uint32_t& value);
    bool PeekDelimiter(uint16_t element) const;
    bool SkipDelimiter();
    // The `n` bytes at `offset` inside the window (moved there if need be),
    // or null when they do not fit in it or cannot be read.
    const uint8_t* WindowBytes(uint64_t offset, uint64_t n) const;
    // Makes the window start at `offset` and hold at least `n` bytes.
    bool MoveWindow(uint64_t offset, uint64_t n) const;
    bool CopyAtSlow(uint64_t offset, void* dst, std::size_t n) const;

    std::shared_ptr<quillon::FileBytes> m_source;  // the file, read where it lies
    uint64_t m_fileSize = 0;
    uint64_t m_position = 0;
    // Bytes [m_windowStart, m_windowEnd) of the file, read ahead from the
    // source so that small reads cost no call to it.
    mutable HeapPtr<uint8_t> m_window;
    mutable uint64_t m_windowStart = 0;
    mutable uint64_t m_windowEnd = 0;

    PixelDescription& m_pixel;
    quillon::LoadProblems& m_problems;
    ReaderObserver& m_observer;
    Encoding m_encoding;
    DataSet m_tree;

    unsigned m_depth = 0;
    // While a data set is parsed: for each defined-length sequence nested
    // more than kRememberedDepth deep, the sum of its items' extents as
    // measured when it was read, and the encoding it was measured in.
    // Measuring an item measures everything below it, so without this a
    // chain of nested defined-length sequences would be measured again at
    // every level above it: time growing with depth x size.
    RememberedExtents m_itemsExtents;
    bool m_parsing = false;
    // The undefined-length nodes read, for SettleItemLengths.
    UnsettledLengths m_unsettled;
    bool m_switchedToImplicit = false;
    bool m_deflated = false;
    bool m_outsideDataSet = false;
    void NoteLength(CDicomTag* node) {
        if (m_parsing && node->GetLength() == kUndefinedLength) m_unsettled.nodes.push_back(node);
    }
    // The parser's measure of an item just read: settles its length and those
    // of the items below it in the current encoding.
    uint64_t SettleItem(CDicomTag* item) {
        return quillon::SettleItem(item, m_encoding.explicitVR, m_parsing ? &m_itemsExtents : nullptr);
    }
};

}  // namespace quillon
