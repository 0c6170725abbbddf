#include "tools/DumpFile.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"

namespace quillon {
namespace {

using Json = nlohmann::ordered_json;

template <class Number>
void AppendNumber(std::string& out, Number value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
}

std::string TagText(uint16_t group, uint16_t element) {
    char text[10];
    std::snprintf(text, sizeof text, "%04X,%04X", group, element);
    return text;
}

// A JSON object as one line; text that is no UTF-8 has U+FFFD in its place.
void AppendJsonLine(std::string& out, const Json& object) {
    out += object.dump(-1, ' ', false, Json::error_handler_t::replace);
    out += '\n';
}

Json NewObject(const DumpOptions& options) {
    Json object = Json::object();
    if (!options.file.empty()) object["file"] = options.file;
    return object;
}

// Gathers a file's lines and hands them to the sink in blocks of about
// 64 KiB, each line after the file's prefix when there is one.
class LineWriter {
public:
    LineWriter(const DumpOptions& options, const DumpSink& sink)
        : m_prefix(options.json || options.file.empty() ? std::string() : options.file + '\t'), m_sink(sink) {
        m_out.reserve(80 * 1024);
    }
    // The text the next line is built in, after the prefix; the caller ends
    // it with a line end, then calls End().
    std::string& Line() {
        m_out += m_prefix;
        return m_out;
    }
    void End() {
        if (m_out.size() >= 64 * 1024) Flush(false);
    }
    bool Flush(bool flush) {
        if (m_ok) m_ok = m_sink(m_out, flush);
        m_out.clear();
        return m_ok;
    }
    bool Ok() const { return m_ok; }

private:
    std::string m_prefix;
    const DumpSink& m_sink;
    std::string m_out;
    bool m_ok = true;
};

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

void PrintPixelModule(const CDicomFile& file, const DumpOptions& options, LineWriter& writer) {
    const PixelDescription& p = file.Pixel();
    const auto* pixelData = file.PixelData();
    const std::size_t nativeFrames = pixelData ? pixelData->FrameCount() : 0;
    // The size of the frames actually recorded, or the computed size when there are none.
    const unsigned long long frameSize = nativeFrames ? pixelData->FrameSize() : p.NativeFrameSize();
    const std::string_view compression = CompressionName(p.compression);
    if (options.json) {
        Json o = NewObject(options);
        o["rows"] = p.rows;
        o["columns"] = p.columns;
        o["frames"] = p.numberOfFrames;
        o["bits_allocated"] = p.bitsAllocated;
        o["bits_stored"] = p.bitsStored;
        o["samples"] = p.samplesPerPixel;
        o["pixel_representation"] = p.pixelRepresentation;
        o["planar"] = p.planarConfiguration;
        o["compression"] = std::string(compression);
        o["uncompressed"] = file.IsUncompressed() ? 1 : 0;
        o["photometric"] = PhotometricName(file);
        o["native_frames"] = nativeFrames;
        o["frame_size"] = frameSize;
        o["has_window"] = p.hasWindow ? 1 : 0;
        o["window_center"] = p.windowCenter;
        o["window_width"] = p.windowWidth;
        o["has_rescale"] = p.hasRescale ? 1 : 0;
        o["rescale_intercept"] = p.rescaleIntercept;
        o["rescale_slope"] = p.rescaleSlope;
        o["lut_entries"] = {p.red.entries, p.green.entries, p.blue.entries};
        o["lut_bits"] = {p.red.bits, p.green.bits, p.blue.bits};
        o["lut_sizes"] = {p.red.data.size(), p.green.data.size(), p.blue.data.size()};
        AppendJsonLine(writer.Line(), o);
        writer.End();
        return;
    }
    char line[1024];
    std::snprintf(
        line, sizeof line,
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
    writer.Line() += line;
    writer.End();
}

void PrintProblem(const SLoadProblem& problem, const DumpOptions& options, LineWriter& writer) {
    if (options.json) {
        Json o = NewObject(options);
        o["offset"] = problem.offset;
        o["tag"] = TagText(problem.group, problem.element);
        o["code"] = ProblemCodeName(problem.code);
        o["sentence"] = problem.text;
        AppendJsonLine(writer.Line(), o);
    } else {
        std::string& line = writer.Line();
        line += ProblemLine(problem);
        line += '\n';
    }
    writer.End();
}

// Problems [from, end).
void PrintProblems(const DocumentProblems& problems, std::size_t from, const DumpOptions& options,
                   LineWriter& writer) {
    for (std::size_t i = from; i < problems.Size(); ++i) PrintProblem(problems[i].problem, options, writer);
}

void PrintTree(const QuillonDocument& doc, const DumpOptions& options, LineWriter& writer) {
    const CDicomFile& file = *doc.File();
    const FrameStarts& frameStarts = doc.FrameStarts();
    VisitTreeRecords(file, doc.ThumbnailCount(), [&](const TreeItemRecord& record, CDicomTag* e,
                                                         const std::u16string& label) {
        if (!writer.Ok()) return;
        const auto [first, last] = doc.ShownRange(file.ElementRange(e));
        const uint32_t length = e->GetLength();
        const std::u16string description = e->IsItem() ? frameStarts.ItemDescription(e) : e->GetDescription();
        if (options.json) {
            Json o = NewObject(options);
            o["depth"] = record.depth;
            o["tag"] = TagText(e->m_group, e->m_element);
            std::string vr;
            for (char16_t c : e->m_vr.GetVR()) vr.push_back(c < 0x80 ? char(c) : '?');
            o["vr"] = vr;
            o["tag_offset"] = file.TagOffset(e);
            o["data_offset"] = e->m_dataOffset;
            o["length"] = length;
            o["first"] = first;
            o["last"] = last;
            o["description"] = ToUtf8(description);
            o["value"] = e->HasValue() ? ToUtf8(e->GetValueText(record.charset)) : std::string();
            o["label"] = ToUtf8(label);
            AppendJsonLine(writer.Line(), o);
            writer.End();
            return;
        }
        std::string& out = writer.Line();
        AppendNumber(out, record.depth);
        out += '\t';
        out += TagText(e->m_group, e->m_element);
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
        AppendEscaped(out, description);
        out += '\t';
        if (e->HasValue()) AppendEscaped(out, e->GetValueText(record.charset));
        out += '\t';
        AppendEscaped(out, label);
        out += '\n';
        writer.End();
    });
}

const char* ReasonName(Reason reason) {
    switch (reason) {
        case Reason::None: return "None";
        case Reason::NotFound: return "NotFound";
        case Reason::Directory: return "Directory";
        case Reason::NotRegularFile: return "NotRegularFile";
        case Reason::PermissionDenied: return "PermissionDenied";
        case Reason::CannotRead: return "CannotRead";
        case Reason::Empty: return "Empty";
        case Reason::NotDicom: return "NotDicom";
        case Reason::NoMemory: return "NoMemory";
        case Reason::NoDecoder: return "NoDecoder";
        case Reason::NoBytes: return "NoBytes";
        case Reason::CodecRefused: return "CodecRefused";
        case Reason::StreamEndsEarly: return "StreamEndsEarly";
        case Reason::DimensionsDiffer: return "DimensionsDiffer";
        case Reason::OverBudget: return "OverBudget";
    }
    return "Unknown";
}

// Why an open gave no whole document, as a code: the loader's reason, else
// what the open ended in (memory running out around the load, a file that
// changed meanwhile).
std::string RefusalCode(const OpenResult& opened) {
    if (opened.reason.Code() != Reason::None) return ReasonName(opened.reason.Code());
    switch (opened.status) {
        case OpenStatus::NotFound: return "NotFound";
        case OpenStatus::NoMemory: return "NoMemory";
        case OpenStatus::NoData: return "NoData";
        case OpenStatus::Invalid: return "Invalid";
        case OpenStatus::Opened: return opened.partial ? "NotDicom" : "Opened";
        case OpenStatus::EmptyPath: return "EmptyPath";
    }
    return "Unknown";
}

}  // namespace

void AppendEscaped(std::string& out, std::u16string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::size_t run = 0;  // start of the characters not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x20 && c != 0x7F) continue;
        AppendUtf8(out, text.substr(run, i - run));
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
    AppendUtf8(out, text.substr(run));
}

std::string MessageLine(std::u16string_view message) {
    while (!message.empty() && message.back() == u' ') message.remove_suffix(1);
    return ToUtf8(message);
}

std::string OpenFailureText(const OpenResult& opened) {
    std::string text = MessageLine(opened.message);
    if (ReasonTellsMore(opened.reason.Code())) text += '\n' + opened.reason.Text();
    return text;
}

DumpOutcome DumpFile(const std::filesystem::path& path, const DumpOptions& options, const DumpSink& sink) {
    DumpOutcome outcome;
    LineWriter writer(options, sink);
    // Through the viewer's open path, making only what is printed: no
    // thumbnails, and no tree records (the tree is written as it is walked).
    QuillonDocument doc;
    OpenOptions openOptions;
    openOptions.thumbnails = false;
    openOptions.treeRecords = false;
    const OpenResult opened = doc.OpenPath(path, openOptions);
    if (!opened.Opened() || opened.partial) {
        outcome.refused = true;
        outcome.refusal = RefusalCode(opened);
        outcome.exit = 1;
    }
    if (!opened.Opened() || (opened.partial && options.mode != DumpMode::Tree)) {
        if (options.mode == DumpMode::Problems && opened.partial) {
            // In the loader's order, where the stop comes last.
            for (const SLoadProblem& p : doc.File()->Problems().All()) PrintProblem(p, options, writer);
            writer.Flush(true);
        } else if (options.mode == DumpMode::Problems) {
            PrintProblems(doc.Problems(), 0, options, writer);
            writer.Flush(true);
        }
        outcome.errors = OpenFailureText(opened) + '\n';
        return outcome;
    }
    switch (options.mode) {
        case DumpMode::PixelModule:
            outcome.problems = !doc.Problems().Empty();
            PrintPixelModule(*doc.File(), options, writer);
            break;
        case DumpMode::Problems: {
            // The load's problems first, as soon as they are known; then
            // every frame is decoded and those that cannot be are listed.
            const DocumentProblems& problems = doc.Problems();
            const std::size_t loaded = problems.Size();
            PrintProblems(problems, 0, options, writer);
            if (!writer.Flush(true)) {
                outcome.exit = 1;
                return outcome;
            }
            doc.CheckFrames();
            PrintProblems(problems, loaded, options, writer);
            outcome.problems = !problems.Empty();
            break;
        }
        case DumpMode::Tree:
            outcome.problems = !doc.Problems().Empty();
            PrintTree(doc, options, writer);
            break;
    }
    if (!writer.Flush(true)) outcome.exit = 1;
    if (opened.partial) {
        outcome.errors = MessageLine(opened.message) + '\n' + ToUtf8(opened.detail) + '\n';
        outcome.exit = 1;
    }
    return outcome;
}

}  // namespace quillon
