// quillon-dump: prints the element tree of one DICOM file, one line per tree
// item in pre-order, as TAB-separated fields:
//   depth, tag, VR, tag offset, data offset, length, first byte, last byte,
//   description, value text, tree label
//
// quillon-dump --pixel-module FILE prints the pixel description instead, as
// one line of TAB-separated key=value pairs (rows, columns, frames, ...,
// compression, photometric, native_frames, frame_size).
//
// quillon-dump --thumbnails DIR FILE writes DIR/thumb-NNNN.png, the 128 x 128
// thumbnail of every frame that has one (NNNN the frame index from 0).
// quillon-dump --frame-samples K FILE writes frame K's stored samples as the
// decoder hands them to the display conversion (a native frame's bytes); a
// frame without samples exits with 1, the reason on the second line of stderr.
// quillon-dump --problems FILE prints what the loader found wrong, one line
// per problem: offset, tag, code, sentence (TAB-separated); for a refused
// file the problems found before the stop, its last line where it stopped.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"
#include "document/DocumentTree.h"
#include "document/FrameStarts.h"
#include "image/FrameDecoder.h"
#include "tools/PngWriter.h"

namespace {

// Appends the text as UTF-8, with control characters, TAB, CR and LF as
// escapes so that a line stays a line (unpaired surrogates become U+FFFD).
// Bytes are gathered in a small block and appended a block at a time.
void AppendEscaped(std::string& out, std::u16string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    char block[256];
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (n > sizeof block - 4) {
            out.append(block, n);
            n = 0;
        }
        uint32_t c = text[i];
        if (c < 0x80) {
            if (c >= 0x20 && c != 0x7F) {
                block[n++] = char(c);
            } else {
                block[n++] = '\\';
                if (c == '\t') {
                    block[n++] = 't';
                } else if (c == '\r') {
                    block[n++] = 'r';
                } else if (c == '\n') {
                    block[n++] = 'n';
                } else {
                    block[n++] = 'x';
                    block[n++] = kHex[c >> 4];
                    block[n++] = kHex[c & 15];
                }
            }
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            block[n++] = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            block[n++] = char(0xE0 | (c >> 12));
            block[n++] = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            block[n++] = char(0xF0 | (c >> 18));
            block[n++] = char(0x80 | ((c >> 12) & 0x3F));
            block[n++] = char(0x80 | ((c >> 6) & 0x3F));
        }
        block[n++] = char(0x80 | (c & 0x3F));
    }
    out.append(block, n);
}

template <class Number>
void AppendNumber(std::string& out, Number value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
}

void AppendHex4(std::string& out, uint16_t value) {
    static const char kHex[] = "0123456789ABCDEF";
    const char text[4] = {kHex[value >> 12], kHex[(value >> 8) & 15], kHex[(value >> 4) & 15], kHex[value & 15]};
    out.append(text, 4);
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
    const size_t nativeFrames = pixelData ? pixelData->FrameCount() : 0;
    // The size of the frames actually recorded, or the computed size when there are none.
    const unsigned long long frameSize =
        nativeFrames ? pixelData->FrameSize() : file.NativeFrameSize(file.IsYBRFull422());
    std::printf(
        "rows=%u\tcolumns=%u\tframes=%u\tbits_allocated=%d\tbits_stored=%d\tsamples=%d\t"
        "pixel_representation=%d\tplanar=%d\tcompression=%s\tuncompressed=%d\tphotometric=%s\t"
        "native_frames=%zu\tframe_size=%llu\thas_window=%d\twindow_center=%d\twindow_width=%d\t"
        "has_rescale=%d\trescale_intercept=%.17g\trescale_slope=%.17g\tlut_entries=%d/%d/%d\t"
        "lut_bits=%d/%d/%d\tlut_sizes=%u/%u/%u\n",
        file.m_rows, file.m_columns, file.m_numberOfFrames, file.m_bitsAllocated, file.m_bitsStored,
        file.m_samplesPerPixel, file.m_pixelRepresentation, file.m_planarConfiguration, file.m_compressionName.c_str(),
        file.IsUncompressed() ? 1 : 0, PhotometricName(file), nativeFrames, frameSize, file.m_hasWindow ? 1 : 0,
        file.m_windowCenter, file.m_windowWidth, file.m_hasRescale ? 1 : 0, file.m_rescaleIntercept,
        file.m_rescaleSlope, file.m_redLutEntries, file.m_greenLutEntries, file.m_blueLutEntries, file.m_redLutBits,
        file.m_greenLutBits, file.m_blueLutBits, file.m_redLutSize, file.m_greenLutSize, file.m_blueLutSize);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Writes DIR/thumb-NNNN.png for every frame that gets a thumbnail.
int WriteThumbnails(const CDicomFile& file, const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::fprintf(stderr, "Not a directory: %s\n", dir.c_str());
        return 1;
    }
    CFrameDecoder frames(file);
    const auto thumbnails = frames.MakeThumbnails(FramesWithBytes(file));
    for (std::size_t i = 0; i < thumbnails.size(); ++i) {
        const MCImage* t = thumbnails[i].get();
        if (!t || !t->GetBits()) continue;
        char name[32];
        std::snprintf(name, sizeof name, "thumb-%04zu.png", i);
        if (!WriteRgbPng(dir / name, t->GetWidth(), t->GetHeight(), t->GetBits())) {
            std::fprintf(stderr, "Cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}

// Writes frame K's stored samples, as the conversions receive them, to stdout.
int WriteFrameSamples(const CDicomFile& file, std::size_t frame) {
    CFrameDecoder frames(file);
    std::vector<uint8_t> samples;
    if (const quillon::Status status = frames.GetFrameSamples(frame, samples); !status) {
        std::fprintf(stderr, "Frame %zu has no samples\n%s\n", frame, status.Text().c_str());
        return 1;
    }
    if (!samples.empty() && std::fwrite(samples.data(), 1, samples.size(), stdout) != samples.size()) return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int PrintProblems(const CLoadProblems& problems) {
    std::string out;
    for (const SLoadProblem& p : problems.All()) {
        out += ProblemLine(p);
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const char kUsage[] =
    "usage: quillon-dump [--pixel-module | --problems | --thumbnails DIR | --frame-samples K] FILE\n"
    "       quillon-dump --help | --version\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "quillon-dump: %s\n%s", problem, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    enum class Mode { Tree, PixelModule, Problems, Thumbnails, FrameSamples } mode = Mode::Tree;
    std::string modeArgument;
    const char* fileArg = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--help") {
            std::printf(
                "%s"
                "Prints the element tree of a DICOM file, one line per tree item in pre-order,\n"
                "with TAB-separated fields: depth, tag, VR, tag offset, data offset, length,\n"
                "first byte, last byte, description, value text, tree label.\n"
                "\n"
                "  --pixel-module     print the image pixel description instead, as one line of\n"
                "                     TAB-separated key=value pairs\n"
                "  --problems         print what the loader found wrong instead, one line per\n"
                "                     problem: offset, tag, code, sentence; also for a refused file\n"
                "  --thumbnails DIR   write DIR/thumb-NNNN.png, the 128 x 128 thumbnail of every\n"
                "                     frame that has one (NNNN: the frame index from 0)\n"
                "  --frame-samples K  write frame K's stored samples, as the decoder hands them\n"
                "                     to the display conversion, to standard output\n"
                "  --help             print this text and exit\n"
                "  --version          print the version and exit\n"
                "\n"
                "Exit status: 0 on success, 1 when the file cannot be loaded, 2 on a usage error.\n",
                kUsage);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (options && arg == "--version") {
            std::printf("quillon-dump %s\n", QUILLON_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (options && mode != Mode::Tree &&
                   (arg == "--pixel-module" || arg == "--problems" || arg == "--thumbnails" ||
                    arg == "--frame-samples")) {
            return Usage("only one of --pixel-module, --problems, --thumbnails and --frame-samples can be given");
        } else if (options && arg == "--pixel-module") {
            mode = Mode::PixelModule;
        } else if (options && arg == "--problems") {
            mode = Mode::Problems;
        } else if (options && (arg == "--thumbnails" || arg == "--frame-samples")) {
            if (i + 1 >= argc) return Usage((arg + " needs a value").c_str());
            mode = arg == "--thumbnails" ? Mode::Thumbnails : Mode::FrameSamples;
            modeArgument = argv[++i];
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (fileArg) {
            return Usage("only one FILE can be dumped");
        } else {
            fileArg = argv[i];
        }
    }
    if (!fileArg) return Usage("no FILE given");
    std::size_t frameIndex = 0;
    if (mode == Mode::FrameSamples) {
        const char* first = modeArgument.data();
        const char* last = first + modeArgument.size();
        const auto [ptr, errc] = std::from_chars(first, last, frameIndex);
        if (modeArgument.empty() || errc != std::errc() || ptr != last) return Usage("K must be a frame index");
    }
    const std::filesystem::path path(fileArg);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::fprintf(stderr, "The file was not found\n");
        return 1;
    }
    CDicomFile file;
    if (!file.Load(path)) {
        if (mode == Mode::Problems) PrintProblems(file.Problems());
        std::fprintf(stderr, "Invalid DICOM file\n");
        return 1;
    }
    switch (mode) {
        case Mode::PixelModule: return PrintPixelModule(file);
        case Mode::Problems: return PrintProblems(file.Problems());
        case Mode::Thumbnails: return WriteThumbnails(file, modeArgument);
        case Mode::FrameSamples: return WriteFrameSamples(file, frameIndex);
        case Mode::Tree: break;
    }
    AddFrameNodes(file);
    const auto records = BuildTreeRecords(file, file.m_numberOfFrames);
    const CFrameStarts frameStarts(file);

    // Lines are gathered and written in blocks of about 64 KiB.
    std::string out;
    out.reserve(80 * 1024);
    for (const TreeItemRecord& record : records) {
        CDicomTag* e = record.element;
        const auto [first, last] = file.ElementRange(e);
        const uint32_t length = e->GetLength();
        AppendNumber(out, record.depth);
        out += '\t';
        AppendHex4(out, e->m_group);
        out += ',';
        AppendHex4(out, e->m_element);
        out += '\t';
        for (char16_t c : e->m_vr.GetVR()) out.push_back(c < 0x80 ? char(c) : '?');
        out += '\t';
        AppendNumber(out, file.TagOffset(e));
        out += '\t';
        AppendNumber(out, e->m_dataOffset);
        out += '\t';
        if (length == kUndefinedLength)
            out += "FFFFFFFF";
        else
            AppendNumber(out, length);
        out += '\t';
        AppendNumber(out, first);
        out += '\t';
        AppendNumber(out, last);
        out += '\t';
        if (e->IsItem())
            AppendEscaped(out, frameStarts.ItemDescription(e));
        else
            AppendEscaped(out, e->GetDescription());
        out += '\t';
        if (e->HasValue()) AppendEscaped(out, e->GetValueText(record.charset));
        out += '\t';
        AppendEscaped(out, record.label);
        out += '\n';
        if (out.size() >= 64 * 1024) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
