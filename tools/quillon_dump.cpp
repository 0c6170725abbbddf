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
//
// --json prints the same records as JSON Lines; several PATHs (folders, "-"
// for paths on stdin) are read on all cores, each line after its file's path
// (tools/DumpFile.*, tools/ManyFiles.*). --extract writes an element's or a
// frame's stored bytes (tools/ExtractValue.*); --diff compares two files
// element by element (document/DataSetDiff.*, printed by tools/DiffMode.*).
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "image/FrameDecoder.h"
#include "tools/DiffMode.h"
#include "tools/DumpFile.h"
#include "tools/ExtractValue.h"
#include "tools/ManyFiles.h"
#include "tools/PngWriter.h"

namespace {

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

// Writes DIR/thumb-NNNN.png for every frame that got a thumbnail.
int WriteThumbnails(quillon::QuillonDocument& doc, const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::fprintf(stderr, "Not a directory: %s\n", dir.c_str());
        return 1;
    }
    // The open's workers make them in frame order; each is written as soon
    // as it is final, while the workers go on with the next ones.
    for (std::size_t i = 0; i < doc.ThumbnailFrames(); ++i) {
        doc.WaitForThumbnail(i);
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
    doc.WaitForThumbnails();
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

const char kUsage[] =
    "usage: quillon-dump [--json] [--pixel-module | --problems] PATH...\n"
    "       quillon-dump --thumbnails DIR FILE | --frame-samples K FILE\n"
    "       quillon-dump --extract GGGG,EEEE[/N] FILE | --extract frame:K FILE\n"
    "       quillon-dump --diff A B\n"
    "       quillon-dump --help | --version\n";

const char kHelp[] =
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
    "  --json             print the same records as JSON Lines, one object a line\n"
    "                     (offsets and lengths as numbers, tag as \"GGGG,EEEE\")\n"
    "  --thumbnails DIR   write DIR/thumb-NNNN.png, the 128 x 128 thumbnail of every\n"
    "                     frame that has one (NNNN: the frame index from 0)\n"
    "  --frame-samples K  write frame K's stored samples, as the decoder hands them\n"
    "                     to the display conversion, to standard output\n"
    "  --extract GGGG,EEEE[/N]\n"
    "                     write the value bytes, as stored, of the Nth element (from 1)\n"
    "                     with that tag in tree order to standard output\n"
    "  --extract frame:K  write frame K's stored bytes (from 0): a native frame's\n"
    "                     bytes, or an encapsulated frame's fragments joined\n"
    "  --diff A B         compare two files element by element, aligned by tag path:\n"
    "                     one line per element added, removed or changed, and one\n"
    "                     where the offsets start to shift\n"
    "  --help             print this text and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Many files: the tree, --pixel-module and --problems take several PATHs; a PATH\n"
    "may be a folder (its files at any depth, sorted) or - (paths on standard input,\n"
    "one a line). The files are read on all cores and written whole in the order\n"
    "given, each line after the file's path and a TAB (JSON: a \"file\" field); a\n"
    "summary goes to standard error.\n"
    "\n"
    "Exit status: 0 on success, 1 when the file cannot be loaded, 2 on a usage error.\n"
    "Many files: 0 when every file was read without problems, 1 otherwise.\n"
    "--extract: 1 also when there is no such element or frame. --diff: 0 when the\n"
    "data sets are equal, 1 when they differ, 2 when a file cannot be read.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "quillon-dump: %s\n%s", problem, kUsage);
    return 2;
}

// Standard output as a sink of the dump: each flush is seen at once.
bool WriteDumpOutput(std::string_view text, bool flush) {
    WriteOut(text.data(), text.size());
    if (flush && !g_outputError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        g_outputError = errno ? errno : EIO;
    return g_outputError == 0;
}

int Extract(const char* path, const quillon::ExtractTarget& target) {
    std::string error;
    const int result = quillon::ExtractBytes(
        path, target,
        [](const uint8_t* data, std::size_t size) {
            WriteOut(reinterpret_cast<const char*>(data), size);
            return g_outputError == 0;
        },
        error);
    const int written = FinishOutput();
    if (!error.empty()) std::fprintf(stderr, "quillon-dump: %s\n", error.c_str());
    return result ? result : written;
}

int Diff(const char* pathA, const char* pathB) {
    std::string error;
    const std::optional<quillon::DataSetDiff> diff = quillon::DiffFiles(pathA, pathB, error);
    if (!diff) {
        std::fprintf(stderr, "quillon-dump: %s\n", error.c_str());
        return 2;
    }
    WriteOut(quillon::DiffText(*diff));
    if (FinishOutput() != 0) return 2;
    return diff->Equal() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    enum class Mode { Tree, PixelModule, Problems, Thumbnails, FrameSamples, Extract, Diff } mode = Mode::Tree;
    std::string modeArgument;
    std::vector<std::string> paths;
    bool json = false;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--help") {
            std::printf("%s%s", kUsage, kHelp);
            return FinishOutput();
        } else if (options && arg == "--version") {
            std::printf("quillon-dump %s\n", QUILLON_VERSION);
            return FinishOutput();
        } else if (options && arg == "--json") {
            json = true;
        } else if (options && mode != Mode::Tree &&
                   (arg == "--pixel-module" || arg == "--problems" || arg == "--thumbnails" ||
                    arg == "--frame-samples" || arg == "--extract" || arg == "--diff")) {
            return Usage(
                "only one of --pixel-module, --problems, --thumbnails, --frame-samples, --extract and --diff can be "
                "given");
        } else if (options && arg == "--pixel-module") {
            mode = Mode::PixelModule;
        } else if (options && arg == "--problems") {
            mode = Mode::Problems;
        } else if (options && arg == "--diff") {
            mode = Mode::Diff;
        } else if (options && (arg == "--thumbnails" || arg == "--frame-samples" || arg == "--extract")) {
            if (i + 1 >= argc) return Usage((arg + " needs a value").c_str());
            mode = arg == "--thumbnails" ? Mode::Thumbnails : arg == "--extract" ? Mode::Extract : Mode::FrameSamples;
            modeArgument = argv[++i];
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else {
            paths.push_back(arg);
        }
    }
    if (json && mode != Mode::Tree && mode != Mode::PixelModule && mode != Mode::Problems)
        return Usage("--json goes with the tree, --pixel-module and --problems");
    if (mode == Mode::Diff) {
        if (paths.size() != 2) return Usage("--diff needs two files");
        return Diff(paths[0].c_str(), paths[1].c_str());
    }
    if (paths.empty()) return Usage("no FILE given");
    const bool many = mode == Mode::Tree || mode == Mode::PixelModule || mode == Mode::Problems;
    std::error_code ec;
    if (many && (paths.size() > 1 || paths[0] == "-" || std::filesystem::is_directory(paths[0], ec))) {
        quillon::DumpOptions dumpOptions;
        dumpOptions.mode = mode == Mode::PixelModule ? quillon::DumpMode::PixelModule
                           : mode == Mode::Problems  ? quillon::DumpMode::Problems
                                                     : quillon::DumpMode::Tree;
        dumpOptions.json = json;
        const int result = quillon::DumpManyFiles(
            quillon::ExpandPaths(paths, stdin), dumpOptions,
            [](std::string_view text) { return WriteDumpOutput(text, false); }, stderr);
        return FinishOutput() ? 1 : result;
    }
    if (paths.size() > 1) return Usage("only one FILE can be dumped");
    const char* fileArg = paths[0].c_str();
    if (mode == Mode::Extract) {
        const std::optional<quillon::ExtractTarget> target = quillon::ParseExtractTarget(modeArgument);
        if (!target) return Usage("--extract takes GGGG,EEEE, GGGG,EEEE/N or frame:K");
        return Extract(fileArg, *target);
    }
    if (many) {
        quillon::DumpOptions dumpOptions;
        dumpOptions.mode = mode == Mode::PixelModule ? quillon::DumpMode::PixelModule
                           : mode == Mode::Problems  ? quillon::DumpMode::Problems
                                                     : quillon::DumpMode::Tree;
        dumpOptions.json = json;
        const quillon::DumpOutcome outcome = quillon::DumpFile(fileArg, dumpOptions, WriteDumpOutput);
        const int written = FinishOutput();
        std::fputs(outcome.errors.c_str(), stderr);
        return outcome.exit ? outcome.exit : written;
    }
    std::size_t frameIndex = 0;
    if (mode == Mode::FrameSamples) {
        const char* first = modeArgument.data();
        const char* last = first + modeArgument.size();
        const auto [ptr, errc] = std::from_chars(first, last, frameIndex);
        if (modeArgument.empty() || errc != std::errc() || ptr != last) return Usage("K must be a frame index");
    }
    // Through the viewer's open path, making the thumbnails only when they are written.
    quillon::QuillonDocument doc;
    quillon::OpenOptions openOptions;
    openOptions.thumbnails = mode == Mode::Thumbnails;
    openOptions.treeRecords = false;
    const quillon::OpenResult opened = doc.OpenPath(fileArg, openOptions);
    if (!opened.Opened() || opened.partial) {
        std::fprintf(stderr, "%s\n", quillon::OpenFailureText(opened).c_str());
        return 1;
    }
    if (mode == Mode::Thumbnails) return WriteThumbnails(doc, modeArgument);
    return WriteFrameSamples(*doc.Frames(), frameIndex);
}
