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

std::vector<uint8_t> Lut8(quillon::HeapPtr<uint8_t> lut, int32_t entries) {
    if (!lut || entries <= 0) return {};
    return std::vector<uint8_t>(lut.get(), lut.get() + entries);
}

}  // namespace

FrameDescription DescribeFrames(const CDicomFile& file) {
    FrameDescription d;
    d.numberOfFrames = file.Pixel().m_numberOfFrames;
    d.rows = file.Pixel().m_rows;
    d.columns = file.Pixel().m_columns;
    d.bitsAllocated = file.Pixel().m_bitsAllocated;
    d.bitsStored = file.Pixel().m_bitsStored;
    d.samplesPerPixel = file.Pixel().m_samplesPerPixel;
    d.compressionName = file.Pixel().m_compressionName;
    d.planarConfiguration = file.Pixel().m_planarConfiguration;
    d.pixelRepresentation = file.Pixel().m_pixelRepresentation;

    d.isJpeg = file.IsJPEG();
    d.isJpegLossless = file.IsJPEGLossless();
    d.isJpeg2000Lossless = file.IsJPEG2000Lossless();
    d.isJpeg2000Lossy = file.IsJPEG2000Lossy();

    d.isMonochrome1 = file.IsMonochrome1();
    d.isMonochrome2 = file.IsMonochrome2();
    d.isPaletteColor = file.IsPaletteColor();
    d.isRGB = file.IsRGB();
    d.isARGB = file.IsARGB();
    d.isCMYK = file.IsCMYK();
    d.isYBRFull = file.IsYBRFull();
    d.isYBRFull422 = file.IsYBRFull422();
    d.isYBRPartial422 = file.IsYBRPartial422();
    d.isYBRICT = file.IsYBRICT();

    d.hasWindow = file.Pixel().m_hasWindow;
    d.windowCenter = file.Pixel().m_windowCenter;
    d.windowWidth = file.Pixel().m_windowWidth;
    d.hasRescale = file.Pixel().m_hasRescale;
    d.rescaleIntercept = file.Pixel().m_rescaleIntercept;
    d.rescaleSlope = file.Pixel().m_rescaleSlope;

    d.pixelPaddingValue = PixelValue(file.Find(0x0028, 0x0120), OtherShort::ZeroExtend);
    const CDicomTag* smallest = file.Find(0x0028, 0x0106);
    if (!smallest) smallest = file.Find(0x0028, 0x0104);
    d.smallestPixelValue = PixelValue(smallest, OtherShort::SignExtend);
    const CDicomTag* largest = file.Find(0x0028, 0x0107);
    if (!largest) largest = file.Find(0x0028, 0x0105);
    d.largestPixelValue = PixelValue(largest, OtherShort::ZeroExtend);

    d.redLutEntries = file.Pixel().m_redLutEntries;
    d.redLut8 = Lut8(file.Pixel().GetRedLut8(), file.Pixel().m_redLutEntries);
    d.greenLut8 = Lut8(file.Pixel().GetGreenLut8(), file.Pixel().m_greenLutEntries);
    d.blueLut8 = Lut8(file.Pixel().GetBlueLut8(), file.Pixel().m_blueLutEntries);
    file.Pixel().BuildDisplayPalette(d.displayPalette.data());
    return d;
}

ByteSpan NativeFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage) {
    const auto* pixelData = file.PixelData();
    if (!pixelData || frame >= pixelData->FrameCount()) return {};
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
        available = std::max(pixelData->FrameCount(), pixelData->m_children.size());
    return std::min<std::size_t>(file.Pixel().m_numberOfFrames, available);
}
