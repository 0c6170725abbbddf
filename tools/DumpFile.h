#pragma once
// What quillon-dump prints for one file (the element tree, the pixel
// description, the problems), as TAB-separated text or as JSON Lines, handed
// to a sink in blocks, so that one file is written as it is walked and many
// files are gathered one output per file.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quillon {

struct OpenResult;

enum class DumpMode { Tree, PixelModule, Problems };

struct DumpOptions {
    DumpMode mode = DumpMode::Tree;
    bool json = false;
    // Printing many files: each line starts with this path and a TAB (JSON:
    // each object has it as its "file" field). Empty for a single file.
    std::string file;
};

// Takes a block of output (whole lines); `flush`: the lines so far are to be
// seen now. False stops the dump (the output cannot be written).
using DumpSink = std::function<bool(std::string_view text, bool flush)>;

struct DumpOutcome {
    // The single-file tool's exit status: 0, or 1 for a refused file or
    // output that could not be written.
    int exit = 0;
    // The file was not read whole (no document, or a partial one), and why,
    // as a short code (a quillon::Reason's name: NotFound, NotDicom, ...).
    bool refused = false;
    std::string refusal;
    // The loader (and for --problems the frame decoding) found something wrong.
    bool problems = false;
    // Lines for standard error, each ending in a line end.
    std::string errors;
};

DumpOutcome DumpFile(const std::filesystem::path& path, const DumpOptions& options, const DumpSink& out);

// Appends the text as UTF-8, with control characters, TAB, CR and LF as
// escapes so that a line stays a line (unpaired surrogates become U+FFFD).
void AppendEscaped(std::string& out, std::u16string_view text);

// The line of the message box that the open failed with, without the blanks
// that pad it in the box.
std::string MessageLine(std::u16string_view message);

// Why an open gave no document, for standard error: the message line, then
// the reason on a line of its own when it tells more (no line end at the end).
std::string OpenFailureText(const OpenResult& opened);

}  // namespace quillon
