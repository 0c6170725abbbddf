#pragma once
// Tags the code uses by name. The dictionary knows every tag by its keyword;
// these are the few that the loader, the pixel description and the window
// look for themselves.
#include <cstdint>

namespace quillon {

struct Tag {
    uint16_t group;
    uint16_t element;
    constexpr uint32_t Key() const { return uint32_t(group) << 16 | element; }
    friend constexpr bool operator==(Tag a, Tag b) { return a.group == b.group && a.element == b.element; }
};

namespace tags {

inline constexpr Tag kMetaGroupLength{0x0002, 0x0000};
inline constexpr Tag kMetaVersion{0x0002, 0x0001};
inline constexpr Tag kTransferSyntaxUID{0x0002, 0x0010};
inline constexpr Tag kSpecificCharacterSet{0x0008, 0x0005};
inline constexpr Tag kSamplesPerPixel{0x0028, 0x0002};
inline constexpr Tag kPhotometricInterpretation{0x0028, 0x0004};
inline constexpr Tag kPlanarConfiguration{0x0028, 0x0006};
inline constexpr Tag kNumberOfFrames{0x0028, 0x0008};
inline constexpr Tag kRows{0x0028, 0x0010};
inline constexpr Tag kColumns{0x0028, 0x0011};
inline constexpr Tag kBitsAllocated{0x0028, 0x0100};
inline constexpr Tag kBitsStored{0x0028, 0x0101};
inline constexpr Tag kPixelRepresentation{0x0028, 0x0103};
inline constexpr Tag kSmallestValidPixelValue{0x0028, 0x0104};
inline constexpr Tag kLargestValidPixelValue{0x0028, 0x0105};
inline constexpr Tag kSmallestImagePixelValue{0x0028, 0x0106};
inline constexpr Tag kLargestImagePixelValue{0x0028, 0x0107};
inline constexpr Tag kPixelPaddingValue{0x0028, 0x0120};
inline constexpr Tag kExtendedOffsetTable{0x7FE0, 0x0001};
inline constexpr Tag kFloatPixelData{0x7FE0, 0x0008};
inline constexpr Tag kDoubleFloatPixelData{0x7FE0, 0x0009};
inline constexpr Tag kPixelData{0x7FE0, 0x0010};
inline constexpr Tag kDataSetTrailingPadding{0xFFFC, 0xFFFC};
inline constexpr Tag kItem{0xFFFE, 0xE000};
inline constexpr Tag kItemDelimitation{0xFFFE, 0xE00D};
inline constexpr Tag kSequenceDelimitation{0xFFFE, 0xE0DD};

// The three elements that hold an image's pixels: (7FE0,0010) of integer
// samples, native or encapsulated, and the native IEEE float samples of
// (7FE0,0008) and (7FE0,0009). A data set holds one of them.
inline constexpr bool IsPixelDataTag(Tag tag) {
    return tag == kPixelData || tag == kFloatPixelData || tag == kDoubleFloatPixelData;
}

}  // namespace tags
}  // namespace quillon
