#include "image/FrameDescription.h"

#include <algorithm>
#include <cstring>

#include "dicom/DicomFile.h"

namespace {

// First 16-bit word and 32-bit value of an element's value bytes, held
// little endian after the parse.
uint16_t Word(const CDicomTag* e) {
    uint16_t w;
    std::memcpy(&w, e->GetData(), 2);
    return w;
}
int32_t Long(const CDicomTag* e) {
    int32_t v;
    std::memcpy(&v, e->GetData(), 4);
    return v;
}

enum class OtherShort { ZeroExtend, SignExtend };

// A pixel value element read by its VR: "US" zero-extends, "SS" sign-extends,
// another VR takes a 2-byte value as `shortRule` says and a 4-byte value as it is.
std::optional<int32_t> PixelValue(const CDicomTag* e, OtherShort shortRule) {
    if (!e || !e->GetData()) return std::nullopt;
    const uint32_t length = e->GetLength();
    const std::u16string vr = e->m_vr.GetVR();
    if (vr == u"US" || vr == u"SS") {
        if (length < 2) return std::nullopt;
        return vr == u"US" ? int32_t(Word(e)) : int32_t(int16_t(Word(e)));
    }
    if (length == 2) return shortRule == OtherShort::ZeroExtend ? int32_t(Word(e)) : int32_t(int16_t(Word(e)));
    if (length == 4) return Long(e);
    return std::nullopt;
}

}  // namespace

FrameDescription DescribeFrames(const CDicomFile& file) {
    FrameDescription d;
    d.pixel = file.Pixel();
    if (const CDicomTag* pixelData = file.PixelData()) {
        d.wordsSwapped = !file.Encoding().littleEndian && pixelData->m_vr.GetVR() == u"OW";
        d.floatSamples = !pixelData->Is(quillon::tags::kPixelData);
    }

    d.pixelPaddingValue = PixelValue(file.Find(quillon::tags::kPixelPaddingValue), OtherShort::ZeroExtend);
    const CDicomTag* smallest = file.Find(quillon::tags::kSmallestImagePixelValue);
    if (!smallest) smallest = file.Find(quillon::tags::kSmallestValidPixelValue);
    d.smallestPixelValue = PixelValue(smallest, OtherShort::SignExtend);
    const CDicomTag* largest = file.Find(quillon::tags::kLargestImagePixelValue);
    if (!largest) largest = file.Find(quillon::tags::kLargestValidPixelValue);
    d.largestPixelValue = PixelValue(largest, OtherShort::ZeroExtend);

    d.redLut8 = d.pixel.red.Lut8();
    d.greenLut8 = d.pixel.green.Lut8();
    d.blueLut8 = d.pixel.blue.Lut8();
    d.pixel.BuildDisplayPalette(d.displayPalette.data());
    return d;
}

ByteSpan NativeFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage) {
    const auto* pixelData = file.PixelData();
    // A frame that starts past the end of the value has no samples at all.
    if (!pixelData || frame >= pixelData->FrameCount() || pixelData->FrameBytes(frame) == 0) return {};
    const uint64_t size = pixelData->FrameSize();
    if (size > SIZE_MAX) return {};
    storage.reset(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(size))));
    if (!storage || !pixelData->ReadFrame(frame, storage.get())) {
        storage.reset();
        return {};
    }
    return {storage.get(), size};
}

std::size_t FramesWithBytes(const CDicomFile& file) {
    std::size_t available = 0;
    if (const auto* pixelData = file.PixelData())
        available = std::max(pixelData->FrameCount(), pixelData->ChildCount());
    return std::min<std::size_t>(file.Pixel().numberOfFrames, available);
}
