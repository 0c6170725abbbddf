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

// The compression of the (0002,0010) the pixel module takes the compression
// name from: the first top-level one before the elements past group 0028.
quillon::Compression TransferSyntaxCompression(const CDicomFile& file) {
    for (const auto& element : file.Tags()) {
        if (!element) continue;
        if (element->m_group > 0x0028) break;
        if (element->Is(0x0002, 0x0010)) return quillon::CompressionForUID(element->GetValueText(u""));
    }
    return quillon::Compression::None;
}

std::vector<uint8_t> Lut8(quillon::HeapPtr<uint8_t> lut, int32_t entries) {
    if (!lut || entries <= 0) return {};
    return std::vector<uint8_t>(lut.get(), lut.get() + entries);
}

}  // namespace

FrameDescription DescribeFrames(const CDicomFile& file) {
    FrameDescription d;
    d.numberOfFrames = file.m_numberOfFrames;
    d.rows = file.m_rows;
    d.columns = file.m_columns;
    d.bitsAllocated = file.m_bitsAllocated;
    d.bitsStored = file.m_bitsStored;
    d.samplesPerPixel = file.m_samplesPerPixel;
    d.compressionName = file.m_compressionName;
    d.compression = TransferSyntaxCompression(file);
    d.planarConfiguration = file.m_planarConfiguration;
    d.pixelRepresentation = file.m_pixelRepresentation;

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

    d.hasWindow = file.m_hasWindow;
    d.windowCenter = file.m_windowCenter;
    d.windowWidth = file.m_windowWidth;
    d.hasRescale = file.m_hasRescale;
    d.rescaleIntercept = file.m_rescaleIntercept;
    d.rescaleSlope = file.m_rescaleSlope;

    d.pixelPaddingValue = PixelValue(file.Find(0x0028, 0x0120), OtherShort::ZeroExtend);
    const CDicomTag* smallest = file.Find(0x0028, 0x0106);
    if (!smallest) smallest = file.Find(0x0028, 0x0104);
    d.smallestPixelValue = PixelValue(smallest, OtherShort::SignExtend);
    const CDicomTag* largest = file.Find(0x0028, 0x0107);
    if (!largest) largest = file.Find(0x0028, 0x0105);
    d.largestPixelValue = PixelValue(largest, OtherShort::ZeroExtend);

    d.redLutEntries = file.m_redLutEntries;
    d.redLut8 = Lut8(file.GetRedLut8(), file.m_redLutEntries);
    d.greenLut8 = Lut8(file.GetGreenLut8(), file.m_greenLutEntries);
    d.blueLut8 = Lut8(file.GetBlueLut8(), file.m_blueLutEntries);
    file.BuildDisplayPalette(d.displayPalette.data());
    return d;
}

ByteSpan NativeFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage) {
    const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(file.Find(0x7FE0, 0x0010));
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
    if (const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(file.Find(0x7FE0, 0x0010)))
        available = std::max(pixelData->FrameCount(), pixelData->m_children.size());
    return std::min<std::size_t>(file.m_numberOfFrames, available);
}
