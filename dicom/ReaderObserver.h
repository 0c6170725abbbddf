#pragma once
// What the reader tells while it reads a file (DicomReader.h). An observer
// looks at what was just read and must not change the tree. Events that could
// come once per element come only when a cheap test in the reader says there
// may be something to see: each says when it is reported.
#include <cstdint>

#include "dicom/DataSet.h"
#include "dicom/Tags.h"

namespace quillon {

// Where an element was read.
enum class ReadScope { MetaInformation, TopLevel, Item };

// An element header just read; its value is not read yet.
struct HeaderEvent {
    // Tag, VR (the file's when explicit), length, data offset and parent.
    const CDicomTag& element;
    uint64_t tagOffset;
    // Explicit VR: the two bytes read where the VR belongs, and the 16-bit
    // length field. Null and 0 for implicit VR.
    const char16_t* fileVR;
    uint16_t shortLength;
    // Explicit VR: the bytes differ from the dictionary's VR, or are no VR code.
    bool vrDiffers;
    // The top-level elements read so far.
    const DataSet& dataSet;
};

class ReaderObserver {
public:
    virtual ~ReaderObserver();

    // --- file meta information ---
    // Its first element's tag was read (group 0002).
    virtual void MetaInformationStarts(uint64_t /*tagOffset*/, Tag /*first*/) {}
    // The tag at `dataSetOffset` is of another group: the data set starts
    // there. `meta` holds the file meta elements.
    virtual void MetaInformationEnded(uint64_t /*dataSetOffset*/, uint16_t /*nextGroup*/, const DataSet& /*meta*/) {}

    // --- the data set ---
    // The reader starts reading a data set (again, after a failed attempt).
    virtual void DataSetStarts() {}
    // Top level: the elements of `group` end at `end`, where an element of
    // another group starts. Reported when the group changes.
    virtual void GroupEnded(uint16_t /*group*/, uint64_t /*end*/) {}
    // Top level: the reader takes the tag at `tagOffset` for an element.
    virtual void TopLevelTagRead(uint64_t /*tagOffset*/, Tag /*tag*/) {}
    // In an item: the tag at `tagOffset` is not above the tag of the item's
    // element before it. Reported only then.
    virtual void ItemTagNotAscending(uint64_t /*tagOffset*/, Tag /*tag*/, bool /*repeated*/) {}
    // An element header. Reported when the explicit VR differs from the
    // dictionary's, when the reserved bytes of a long-length VR are read as
    // a length, for an element of an odd group and for an odd length.
    virtual void HeaderRead(const HeaderEvent& /*header*/) {}
    // The `length` bytes of a value as read (in machine byte order). Reported
    // for the values that may break a rule of their VR: dates, times,
    // numbers and UIDs, values over 16 bytes or ending in a NUL, AS values.
    virtual void ValueRead(const CDicomTag& /*element*/, const uint8_t* /*bytes*/, uint32_t /*length*/) {}
    // An element of the file meta information or the top level, not a
    // sequence, read to the end of its value at `end`.
    virtual void TopLevelValueRead(const CDicomTag& /*element*/, uint64_t /*end*/) {}
    // The value of `length` bytes of the element at `tagOffset` runs past the
    // end of the file, where `left` bytes remain. The parse stops.
    virtual void ValueCutOff(ReadScope /*scope*/, uint64_t /*tagOffset*/, Tag /*tag*/, uint32_t /*length*/,
                             uint64_t /*left*/) {}

    // --- sequences and items ---
    // An undefined-length UN element is read as a sequence of implicit VR items.
    virtual void UNSequenceStarts(const CDicomTag& /*sequence*/, uint64_t /*tagOffset*/) {}
    // A defined-length sequence whose items ended `itemsExtent` bytes after
    // its value starts, past its length. Reported only then.
    virtual void SequenceOverrun(const CDicomTag& /*sequence*/, uint64_t /*tagOffset*/, uint64_t /*itemsExtent*/) {}
    // A defined-length item whose last element ended at `end`, past the item's
    // length. Reported only then.
    virtual void ItemOverrun(const CDicomTag& /*item*/, uint64_t /*end*/) {}
    // The file ended inside a defined-length item, after a whole element.
    virtual void FileEndedInItem(const CDicomTag& /*item*/) {}

    // --- pixel data ---
    // Top-level native pixel data whose value is about to be read; the pixel
    // description's frames take `framesSize` bytes together (0: no frames).
    virtual void NativePixelData(const CDicomTag& /*pixelData*/, uint64_t /*tagOffset*/, uint64_t /*framesSize*/) {}
    // Top-level encapsulated pixel data read with its fragments, in a data set
    // of explicit VR or not; `frames` as the data set gives them.
    virtual void EncapsulatedPixelData(const CDicomTag& /*pixelData*/, uint64_t /*tagOffset*/, bool /*explicitVR*/,
                                       uint64_t /*frames*/) {}
    // The top-level pixel data ends at `end`, the last element the reader
    // reads. `following`: the tag of the next four bytes when there are some
    // (in the data set's byte order), else null.
    virtual void PixelDataEnded(uint64_t /*end*/, uint64_t /*fileSize*/, const Tag* /*following*/) {}

    // The data set was read to its end at `end`.
    virtual void DataSetEnded(uint64_t /*end*/) {}
};

}  // namespace quillon
