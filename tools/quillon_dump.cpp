// quillon-dump: prints the element tree of one DICOM file, one line per tree
// item in pre-order, as TAB-separated fields:
//   depth, tag, VR, tag offset, data offset, length, first byte, last byte,
//   description, value text, tree label
// (offsets of a deflated file past its meta information are positions in the
// inflated data set, as the viewer shows them)
//
// quillon-dump --pixel-module FILE prints the pixel description instead, as
// one line of TAB-separated key=value pairs (rows, columns, frames, ...,
// compression, photometric, native_frames, frame_size).
//
// quillon-dump --thumbnails DIR FILE writes DIR/thumb-NNNN.png, the 128 x 128
// thumbnail of every frame that has one (NNNN the frame index from 0).
// quillon-dump --frame-samples K FILE writes frame K's stored samples as the
// decoder hands them to the display conversion (a native frame's bytes, a
// 1-bit frame's own bits from bit 0); a
// frame without samples exits with 1, the reason on the second line of stderr.
// quillon-dump --problems FILE prints what the loader found wrong, one line
// per problem: offset, tag, code, sentence (TAB-separated); for a refused
// file the problems found before the stop, its last line where it stopped.
//
// A file whose parse stopped part way is refused (exit 1, the message on
// stderr), but quillon-dump FILE first prints the elements read before the
// stop, their ranges ending before it, and the message says where it stopped.
//
// The load's problems are printed first; then every frame is decoded and each
// that cannot be is a frame-decode line at its first fragment (or frame).
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "image/FrameDecoder.h"
#include "tools/PngWriter.h"

namespace {

// Appends the text as UTF-8, with control characters, TAB, CR and LF as
// escapes so that a line stays a line (unpaired surrogates become U+FFFD).
void AppendEscaped(std::string& out, std::u16string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::size_t run = 0;  // start of the characters not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x20 && c != 0x7F) continue;
        quillon::AppendUtf8(out, text.substr(run, i - run));
        run = i + 1;
        out += '\\';
        if (c == '\t') {
            out += 't';
        } else if (c == '\r') {
            out += 'r';
        } else if (c == '\n') {
            out += 'n';
        } else {
            out += 'x';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    quillon::AppendUtf8(out, text.substr(run));
}

// Standard output, written through these two so that a failed write (a full
// disk, a closed pipe) is noticed: the first failure's system text is kept
// and reported once by FinishOutput.
int g_outputError = 0;

void WriteOut(const char* data, std::size_t size) {
    if (size == 0 || g_outputError) return;
    if (std::fwrite(data, 1, size, stdout) != size) g_outputError = errno ? errno : EIO;
}

void WriteOut(const std::string& text) { WriteOut(text.data(), text.size()); }

// Flushes standard output: 0, or 1 after saying on stderr why it failed.
int FinishOutput() {
    if (!g_outputError && (std::fflush(stdout) != 0 || std::ferror(stdout))) g_outputError = errno ? errno : EIO;
    if (!g_outputError) return 0;
    std::fprintf(stderr, "quillon-dump: cannot write standard output: %s\n", std::strerror(g_outputError));
    return 1;
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
    const quillon::PixelDescription& p = file.Pixel();
    const auto* pixelData = file.PixelData();
    const size_t nativeFrames = pixelData ? pixelData->FrameCount() : 0;
    // The size of the frames actually recorded, or the computed size when there are none.
    const unsigned long long frameSize = nativeFrames ? pixelData->FrameSize() : p.NativeFrameSize();
    const std::string_view compression = quillon::CompressionName(p.compression);
    std::printf(
        "rows=%u\tcolumns=%u\tframes=%u\tbits_allocated=%d\tbits_stored=%d\tsamples=%d\t"
        "pixel_representation=%d\tplanar=%d\tcompression=%.*s\tuncompressed=%d\tphotometric=%s\t"
        "native_frames=%zu\tframe_size=%llu\thas_window=%d\twindow_center=%d\twindow_width=%d\t"
        "has_rescale=%d\trescale_intercept=%.17g\trescale_slope=%.17g\tlut_entries=%d/%d/%d\t"
        "lut_bits=%d/%d/%d\tlut_sizes=%zu/%zu/%zu\n",
        p.rows, p.columns, p.numberOfFrames, p.bitsAllocated, p.bitsStored, p.samplesPerPixel, p.pixelRepresentation,
        p.planarConfiguration, int(compression.size()), compression.data(), file.IsUncompressed() ? 1 : 0,
        PhotometricName(file), nativeFrames, frameSize, p.hasWindow ? 1 : 0, p.windowCenter, p.windowWidth,
        p.hasRescale ? 1 : 0, p.rescaleIntercept, p.rescaleSlope, p.red.entries, p.green.entries, p.blue.entries,
        p.red.bits, p.green.bits, p.blue.bits, p.red.data.size(), p.green.data.size(), p.blue.data.size());
    return FinishOutput();
}

// Writes DIR/thumb-NNNN.png for every frame that got a thumbnail.
int WriteThumbnails(const quillon::QuillonDocument& doc, const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::fprintf(stderr, "Not a directory: %s\n", dir.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < doc.ThumbnailsMade(); ++i) {
        const MCImage* t = doc.Thumbnail(i);
        if (!t || !t->GetBits()) continue;
        char name[32];
        std::snprintf(name, sizeof name, "thumb-%04zu.png", i);
        int error = 0;
        if (!WriteRgbPng(dir / name, t->GetWidth(), t->GetHeight(), t->GetBits(), &error)) {
            if (error)
                std::fprintf(stderr, "Cannot write %s: %s\n", (dir / name).c_str(), std::strerror(error));
            else
                std::fprintf(stderr, "Cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}

// Writes frame K's stored samples, as the conversions receive them, to stdout.
int WriteFrameSamples(const quillon::FrameDecoder& frames, std::size_t frame) {
    std::vector<uint8_t> samples;
    if (const quillon::Status status = frames.GetFrameSamples(frame, samples); !status) {
        std::fprintf(stderr, "Frame %zu has no samples\n%s\n", frame, status.Text().c_str());
        return 1;
    }
    WriteOut(reinterpret_cast<const char*>(samples.data()), samples.size());
    return FinishOutput();
}

// Prints problems [from, end).
int PrintProblems(const quillon::DocumentProblems& problems, std::size_t from = 0) {
    std::string out;
    for (std::size_t i = from; i < problems.Size(); ++i) {
        out += problems.Line(i);
        out += '\n';
    }
    WriteOut(out);
    return FinishOutput();
}

const char kUsage[] =
    "usage: quillon-dump [--pixel-module | --problems | --thumbnails DIR | --frame-samples K] FILE\n"
    "       quillon-dump --help | --version\n";

// The message box's first line, without the blanks that pad it in the box.
std::string MessageLine(std::u16string_view message) {
    while (!message.empty() && message.back() == u' ') message.remove_suffix(1);
    return quillon::ToUtf8(message);
}

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
                "Offsets are byte offsets from the start of the file. A deflated file (transfer\n"
                "syntax 1.2.840.10008.1.2.1.99) is shown as the viewer shows it: its file meta\n"
                "information, then its inflated data set as if it followed in the file, so the\n"
                "offsets past the meta information are positions in the inflated data set.\n"
                "\n"
                "  --pixel-module     print the image pixel description instead, as one line of\n"
                "                     TAB-separated key=value pairs\n"
                "  --problems         print what the loader found wrong instead, one line per\n"
                "                     problem: offset, tag, code, sentence; also for a refused file;\n"
                "                     then every frame is decoded, one frame-decode line for each\n"
                "                     frame that cannot be\n"
                "  --thumbnails DIR   write DIR/thumb-NNNN.png, the 128 x 128 thumbnail of every\n"
                "                     frame that has one (NNNN: the frame index from 0)\n"
                "  --frame-samples K  write frame K's stored samples, as the decoder hands them\n"
                "                     to the display conversion, to standard output\n"
                "  --help             print this text and exit\n"
                "  --version          print the version and exit\n"
                "\n"
                "Exit status: 0 on success, 1 when the file cannot be loaded, 2 on a usage error.\n",
                kUsage);
            return FinishOutput();
        } else if (options && arg == "--version") {
            std::printf("quillon-dump %s\n", QUILLON_VERSION);
            return FinishOutput();
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
    // Through the viewer's open path, making only what is printed: the
    // thumbnails when they are written, the tree records when the tree is.
    quillon::QuillonDocument doc;
    quillon::OpenOptions openOptions;
    openOptions.thumbnails = mode == Mode::Thumbnails;
    // The tree is written as it is walked (VisitTreeRecords), not kept.
    openOptions.treeRecords = false;
    const quillon::OpenResult opened = doc.OpenPath(fileArg, openOptions);
    if (!opened.Opened() || (opened.partial && mode != Mode::Tree)) {
        if (mode == Mode::Problems && opened.partial) {
            // In the loader's order, where the stop comes last.
            std::string out;
            for (const SLoadProblem& p : doc.File()->Problems().All()) out += ProblemLine(p) + '\n';
            WriteOut(out);
            FinishOutput();
        } else if (mode == Mode::Problems) {
            PrintProblems(doc.Problems());
        }
        std::fprintf(stderr, "%s\n", MessageLine(opened.message).c_str());
        if (quillon::ReasonTellsMore(opened.reason.Code())) std::fprintf(stderr, "%s\n", opened.reason.Text().c_str());
        return 1;
    }
    const CDicomFile& file = *doc.File();
    switch (mode) {
        case Mode::PixelModule: return PrintPixelModule(file);
        case Mode::Problems: {
            // The load's problems first, as soon as they are known; then
            // every frame is decoded and those that cannot be are listed.
            const quillon::DocumentProblems& problems = doc.Problems();
            const std::size_t loaded = problems.Size();
            if (PrintProblems(problems) != 0) return 1;
            doc.CheckFrames();
            return PrintProblems(problems, loaded);
        }
        case Mode::Thumbnails: return WriteThumbnails(doc, modeArgument);
        case Mode::FrameSamples: return WriteFrameSamples(*doc.Frames(), frameIndex);
        case Mode::Tree: break;
    }
    const quillon::FrameStarts& frameStarts = doc.FrameStarts();

    // Lines are gathered and written in blocks of about 64 KiB.
    std::string out;
    out.reserve(80 * 1024);
    VisitTreeRecords(file, doc.ThumbnailCount(), [&](const TreeItemRecord& record, CDicomTag* e,
                                                         const std::u16string& label) {
        const auto [first, last] = doc.ShownRange(file.ElementRange(e));
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
        AppendEscaped(out, label);
        out += '\n';
        if (out.size() >= 64 * 1024) {
            WriteOut(out);
            out.clear();
        }
    });
    WriteOut(out);
    const int written = FinishOutput();
    if (opened.partial) {
        std::fprintf(stderr, "%s\n%s\n", MessageLine(opened.message).c_str(), quillon::ToUtf8(opened.detail).c_str());
        return 1;
    }
    return written;
}
