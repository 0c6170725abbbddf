#pragma once
// The image pixel description of a loaded file: matrix, samples, frames,
// compression name, window, rescale and the palette colour tables.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/HeapBlock.h"

class CDicomTag;
using TagList = std::vector<std::unique_ptr<CDicomTag>>;

class CPixelModule {
public:
    CPixelModule() = default;
    CPixelModule(const CPixelModule&) = delete;
    CPixelModule& operator=(const CPixelModule&) = delete;
    virtual ~CPixelModule();

    // Fills the fields from the top-level elements (stops at the first group above
    // 0028); only the first element with a tag counts.
    void LoadPixelModule(const TagList& elements);
    // Applies one top-level element.
    void ReadPixelModuleElement(CDicomTag* element);
    // Reads the palette descriptors and LUT data; false when they are unusable.
    bool LoadPaletteLuts(const TagList& elements);
    // One byte per entry of that colour's LUT (caller owns), or null without LUT data.
    quillon::HeapPtr<uint8_t> GetRedLut8() const;
    quillon::HeapPtr<uint8_t> GetGreenLut8() const;
    quillon::HeapPtr<uint8_t> GetBlueLut8() const;
    // 256 entries of 4 bytes (red, green, blue, 0).
    void BuildDisplayPalette(uint8_t palette[256 * 4]) const;
    void ClearPixelModule();

    // Bytes of one native frame: Rows x Columns x Bits Allocated x Samples / 8
    // (2/3 of that for YBR_FULL_422), computed in 64 bits.
    uint64_t NativeFrameSize(bool ybrFull422) const;

    uint32_t m_numberOfFrames = 0;
    uint32_t m_rows = 0;
    uint32_t m_columns = 0;
    int16_t m_bitsAllocated = 0;
    int16_t m_bitsStored = 0;
    int16_t m_samplesPerPixel = 0;
    std::string m_compressionName;
    int8_t m_planarConfiguration = 0;
    int8_t m_pixelRepresentation = 0;
    int32_t m_redLutEntries = 0, m_greenLutEntries = 0, m_blueLutEntries = 0;
    int16_t m_redLutBits = 0, m_greenLutBits = 0, m_blueLutBits = 0;
    quillon::HeapPtr<uint8_t> m_redLut, m_greenLut, m_blueLut;
    uint32_t m_redLutSize = 0, m_greenLutSize = 0, m_blueLutSize = 0;
    bool m_hasWindow = false;
    int32_t m_windowCenter = 0;
    int32_t m_windowWidth = 0;
    bool m_hasRescale = false;
    double m_rescaleIntercept = 0.0;
    double m_rescaleSlope = 0.0;

private:
    // (0028,0104)..(0028,0111): "SS" for a signed image, "US" for an unsigned one.
    void CorrectPixelValueVR(CDicomTag* element) const;
};
