#include "tools/DiffMode.h"

#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "tools/DumpFile.h"

namespace quillon {

std::optional<DataSetDiff> DiffFiles(const std::filesystem::path& a, const std::filesystem::path& b,
                                     std::string& error) {
    QuillonDocument docA, docB;
    OpenOptions options;
    options.thumbnails = false;
    options.treeRecords = false;
    for (auto [doc, path] : {std::pair{&docA, &a}, std::pair{&docB, &b}}) {
        const OpenResult opened = doc->OpenPath(*path, options);
        if (!opened.Opened() || opened.partial) {
            error = path->string() + ": " + MessageLine(opened.message);
            if (!opened.detail.empty()) error += "\n" + ToUtf8(opened.detail);
            return std::nullopt;
        }
    }
    return DiffDataSets(*docA.File(), *docB.File());
}

namespace {

std::string SideText(const std::optional<DiffSide>& side) {
    if (!side) return "-";
    std::string text = side->vr.empty() ? std::string("-") : side->vr;
    text += ' ';
    text += side->length == kUndefinedLength ? std::string("FFFFFFFF") : std::to_string(side->length);
    if (!side->value.empty()) {
        text += ' ';
        AppendEscaped(text, side->value);
    }
    return text;
}

}  // namespace

std::string DiffText(const DataSetDiff& diff) {
    std::string out;
    for (const DiffEntry& e : diff.entries) {
        static const char* const kKinds[] = {"added", "removed", "changed", "shift"};
        out += kKinds[int(e.kind)];
        out += '\t';
        out += TagPathText(e.path);
        out += '\t';
        out += e.a ? std::to_string(e.a->tagOffset) : std::string("-");
        out += '\t';
        out += e.b ? std::to_string(e.b->tagOffset) : std::string("-");
        out += '\t';
        if (e.kind == DiffKind::Shift) {
            out += (e.shift > 0 ? "+" : "") + std::to_string(e.shift);
            out += '\n';
            continue;
        }
        std::string what;
        if (e.what & kDiffValue) what += "value";
        if (e.what & kDiffVR) what += what.empty() ? "VR" : ",VR";
        if (e.what & kDiffLength) what += what.empty() ? "length" : ",length";
        out += what;
        out += '\t';
        out += SideText(e.a);
        out += '\t';
        out += SideText(e.b);
        out += '\n';
    }
    return out;
}

}  // namespace quillon
