#pragma once
// The loader's tolerances of odd and broken input, each named once with the
// reason for it. The reader (DicomReader.cpp), the file recognition
// (DicomFile.cpp), the byte ranges and the document's frame nodes use these
// and no bare numbers of their own.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dicom/DicomTag.h"

namespace quillon::rules {

// Group 0000 (command elements) belongs to the start of a data set; met
// after this many top-level elements it means the parse has lost its way.
constexpr std::size_t kGroup0000AllowedWithin = 50;
inline bool IsStrayGroup0000(std::size_t topLevelElements, uint16_t group) {
    return topLevelElements > kGroup0000AllowedWithin && group == 0x0000;
}

// A top-level tag of group 8000 is never a real element: the bytes read as
// tags are not a data set, and the file is refused.
constexpr uint16_t kRefusedGroup = 0x8000;

// Fewer top-level elements than this (the file meta information counts) is
// not taken for a DICOM file.
constexpr std::size_t kMinimumElements = 6;

// A parse that stops part way keeps what it read, and the file is shown as
// far as it was read, when it is taken for DICOM: a file with "DICM" once an
// element was read; a bare data set only when it read as many elements as a
// whole file must have, not all of group 0000 (zeros read as tags), and did
// not stop at bytes that are no data set (DicomFile.cpp, Stopped).
inline bool KeepsPartialParse(bool part10, std::size_t topLevelElements, bool onlyGroup0000, bool outsideDataSet) {
    if (topLevelElements == 0) return false;
    return part10 || (topLevelElements >= kMinimumElements && !onlyGroup0000 && !outsideDataSet);
}

// Files that start with this signature are not Part 10 files or bare data
// sets, though their bytes might parse as one: they are refused.
constexpr char kRefusedSignature[] = "PAPYRUS";
inline bool HasRefusedSignature(const uint8_t* head) {
    return std::memcmp(head, kRefusedSignature, sizeof kRefusedSignature - 1) == 0;
}

// A file shorter than preamble and "DICM" is a bare data set read as implicit
// VR, without the retry below.
constexpr uint64_t kPreambleAndMagic = 132;

// The first tag of a data set (or of the meta group) has a group and an
// element of at most this: how the byte order of a bare data set is told.
constexpr uint16_t kFirstTagLimit = 0x0028;
inline bool IsPlausibleFirstTag(uint16_t group, uint16_t element) {
    return group <= kFirstTagLimit && element <= kFirstTagLimit;
}

// A bare data set whose bytes 4 and 5 name a VR is read as explicit VR; if
// that parse fails, it is read again from the start as implicit VR, and only
// the second parse counts (DicomFile.cpp, RecogniseAndParse).
constexpr bool kRetryBareDataSetAsImplicit = true;

// The inflated data set of a deflated file is held in memory (it has no
// place in the file): at most this many bytes of it. A stream that inflates
// to more (a deflate bomb: a few KiB can stand for gigabytes) is inflated
// this far, and the file is shown as far as that, with a stop that says so.
// As much as the frame decode budget, so that a small file never takes more
// than a few hundred MiB.
constexpr uint64_t kInflatedDataSetLimit = uint64_t(256) * 1024 * 1024;

// Whether a VR is the two letters a and b (cheaper than comparing strings,
// for the loops that measure every node).
inline bool IsVR(const std::u16string& vr, char a, char b) {
    return vr.size() == 2 && vr[0] == char16_t(a) && vr[1] == char16_t(b);
}

// What is read as a sequence of items: an SQ element, an undefined-length
// element of implicit VR (its VR cannot be told from the file), and an
// undefined-length UN element (whose items are then implicit VR).
inline bool IsSequence(const CDicomTag* node, bool explicitVR) {
    const std::u16string& vr = node->m_vr.GetVR();
    if (node->GetLength() == kUndefinedLength) return !explicitVR || IsVR(vr, 'S', 'Q') || IsVR(vr, 'U', 'N');
    return IsVR(vr, 'S', 'Q');
}
// The frame nodes that the document adds under the top-level Pixel Data
// element carry the tag (0000,n), n the frame number from 1; no element read
// from a file sits there with group 0000.
constexpr uint16_t kFrameNodeGroup = 0x0000;

}  // namespace quillon::rules
