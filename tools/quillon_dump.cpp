// quillon-dump: prints the element tree of one DICOM file, one line per tree
// item in pre-order, as TAB-separated fields:
//   depth, tag, VR, tag offset, data offset, length, first byte, last byte,
//   description, value text, tree label
//
// quillon-dump --pixel-module FILE prints the pixel description instead, as
// one line of TAB-separated key=value pairs (rows, columns, frames, ...,
// compression, photometric, native_frames, frame_size).
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/doc/DocumentTree.h"
#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"

namespace {

// Control characters, TAB, CR and LF as escapes so that a line stays a line.
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02X", c);
                    out += buf;
                } else {
                    out.push_back(char(c));
                }
        }
    }
    return out;
}

// The photometric predicate that holds first, in the order they are tested.
const char* PhotometricName(const CDicomFile& file) {
    if (file.IsMonochrome1()) return "MONOCHROME1";
    if (file.IsMonochrome2()) return "MONOCHROME2";
    if (file.IsPaletteColor()) return "PALETTE COLOR";
    if (file.IsRGB()) return "RGB";
    if (file.IsARGB()) return "ARGB";
    if (file.IsCMYK()) return "CMYK";
    if (file.IsYBRFull()) return "YBR_FULL";
    if (file.IsYBRFull422()) return "YBR_FULL_422";
    if (file.IsYBRPartial422()) return "YBR_PARTIAL_422";
    if (file.IsYBRICT()) return "YBR_ICT";
    return "";
}

int PrintPixelModule(const CDicomFile& file) {
    const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(file.Find(0x7FE0, 0x0010));
    const size_t nativeFrames = pixelData ? pixelData->m_frames.size() : 0;
    // The size of the blocks actually cut, or the computed size when there are none.
    const unsigned long long frameSize =
        nativeFrames ? pixelData->m_frameSizes.front() : file.NativeFrameSize(file.IsYBRFull422());
    std::printf(
        "rows=%u\tcolumns=%u\tframes=%u\tbits_allocated=%d\tbits_stored=%d\tsamples=%d\t"
        "pixel_representation=%d\tplanar=%d\tcompression=%s\tuncompressed=%d\tphotometric=%s\t"
        "native_frames=%zu\tframe_size=%llu\thas_window=%d\twindow_center=%d\twindow_width=%d\t"
        "has_rescale=%d\trescale_intercept=%.17g\trescale_slope=%.17g\tlut_entries=%d/%d/%d\t"
        "lut_bits=%d/%d/%d\tlut_sizes=%u/%u/%u\n",
        file.m_rows, file.m_columns, file.m_numberOfFrames, file.m_bitsAllocated, file.m_bitsStored,
        file.m_samplesPerPixel, file.m_pixelRepresentation, file.m_planarConfiguration,
        file.m_compressionName.c_str(), file.IsUncompressed() ? 1 : 0, PhotometricName(file), nativeFrames,
        frameSize, file.m_hasWindow ? 1 : 0, file.m_windowCenter, file.m_windowWidth, file.m_hasRescale ? 1 : 0,
        file.m_rescaleIntercept, file.m_rescaleSlope, file.m_redLutEntries, file.m_greenLutEntries,
        file.m_blueLutEntries, file.m_redLutBits, file.m_greenLutBits, file.m_blueLutBits, file.m_redLutSize,
        file.m_greenLutSize, file.m_blueLutSize);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool pixelModule = argc == 3 && std::string(argv[1]) == "--pixel-module";
    if (pixelModule) {
        --argc;
        ++argv;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon-dump FILE\n");
        return 2;
    }
    const std::filesystem::path path(argv[1]);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::fprintf(stderr, "The file was not found\n");
        return 1;
    }
    CDicomFile file;
    if (!file.Load(path)) {
        std::fprintf(stderr, "Invalid DICOM file\n");
        return 1;
    }
    if (pixelModule) return PrintPixelModule(file);
    AddFrameNodes(file);
    const auto records = BuildTreeRecords(file, file.m_numberOfFrames);

    std::string line;
    for (const TreeItemRecord& record : records) {
        CDicomTag* e = record.element;
        const auto [first, last] = file.ElementRange(e);
        const uint32_t length = e->GetLength();
        char numbers[160];
        char lengthText[16];
        if (length == kUndefinedLength)
            std::snprintf(lengthText, sizeof lengthText, "FFFFFFFF");
        else
            std::snprintf(lengthText, sizeof lengthText, "%u", length);
        std::snprintf(numbers, sizeof numbers, "%d\t%04X,%04X\t%s\t%llu\t%llu\t%s\t%llu\t%llu\t", record.depth,
                      e->m_group, e->m_element, VRToAscii(e->m_vr.GetVR()).c_str(),
                      (unsigned long long)file.TagOffset(e), (unsigned long long)e->m_dataOffset, lengthText,
                      (unsigned long long)first, (unsigned long long)last);
        line = numbers;
        line += Escape(quillon::ToUtf8(e->IsItem() ? std::u16string(u"SQ Item") : e->GetDescription()));
        line += '\t';
        if (e->GetData()) line += Escape(quillon::ToUtf8(e->GetValueText(record.charset)));
        line += '\t';
        line += Escape(quillon::ToUtf8(record.label));
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
