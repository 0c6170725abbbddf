#include "image/PixelModule.h"

#include "dicom/DicomTag.h"

CPixelModule::~CPixelModule() = default;

void CPixelModule::ClearPixelModule() {
    m_numberOfFrames = m_rows = m_columns = 0;
    m_bitsAllocated = m_bitsStored = m_samplesPerPixel = 0;
    m_compressionName.clear();
    m_planarConfiguration = m_pixelRepresentation = 0;
    m_redLutEntries = m_greenLutEntries = m_blueLutEntries = 0;
    m_redLutBits = m_greenLutBits = m_blueLutBits = 0;
    m_redLut.reset();
    m_greenLut.reset();
    m_blueLut.reset();
    m_redLutSize = m_greenLutSize = m_blueLutSize = 0;
    m_hasWindow = false;
    m_windowCenter = m_windowWidth = 0;
    m_hasRescale = false;
    m_rescaleIntercept = 0.0;
    m_rescaleSlope = 0.0;
}

// Placeholder: no pixel description until the pixel module lands.
void CPixelModule::LoadPixelModule(const TagList&) {}
void CPixelModule::ReadPixelModuleElement(CDicomTag*) {}
bool CPixelModule::LoadPaletteLuts(const TagList&) { return true; }
quillon::HeapPtr<uint8_t> CPixelModule::GetRedLut8() const { return nullptr; }
quillon::HeapPtr<uint8_t> CPixelModule::GetGreenLut8() const { return nullptr; }
quillon::HeapPtr<uint8_t> CPixelModule::GetBlueLut8() const { return nullptr; }
void CPixelModule::BuildDisplayPalette(uint8_t palette[256 * 4]) const {
    for (int i = 0; i < 256 * 4; ++i) palette[i] = 0;
}

uint64_t CPixelModule::NativeFrameSize(bool ybrFull422) const {
    uint64_t samples = m_samplesPerPixel == 0 ? 1 : uint64_t(uint16_t(m_samplesPerPixel));
    uint64_t bits = uint64_t(uint16_t(m_bitsAllocated));
    // At most 2^32 * 2^32 * 2^16 * 2^16 / 8 would overflow 64 bits; compute as
    // (Rows x Columns) x (Bits x Samples) / 8 with a saturating multiply.
    unsigned __int128 size = (unsigned __int128)m_rows * m_columns * bits * samples / 8;
    if (ybrFull422) size = 2 * size / 3;
    return size > UINT64_MAX ? UINT64_MAX : uint64_t(size);
}
