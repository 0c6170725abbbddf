#include "tools/ExtractValue.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/ElementSelector.h"
#include "document/QuillonDocument.h"
#include "document/SavedBytes.h"
#include "tools/DumpFile.h"

namespace quillon {

std::optional<ExtractTarget> ParseExtractTarget(const std::string& text) {
    static constexpr std::string_view kFrame = "frame:";
    ExtractTarget target;
    if (text.compare(0, kFrame.size(), kFrame) == 0) {
        const char* first = text.data() + kFrame.size();
        const char* last = text.data() + text.size();
        uint64_t frame = 0;
        const auto [ptr, errc] = std::from_chars(first, last, frame);
        if (first == last || errc != std::errc() || ptr != last) return std::nullopt;
        target.frame = frame;
        return target;
    }
    if (!ParseElementSelector(text)) return std::nullopt;
    target.element = text;
    return target;
}

int ExtractBytes(const std::filesystem::path& path, const ExtractTarget& target,
                 const std::function<bool(const uint8_t*, std::size_t)>& write, std::string& error) {
    QuillonDocument doc;
    OpenOptions openOptions;
    openOptions.thumbnails = false;
    openOptions.treeRecords = !target.frame.has_value();
    const OpenResult opened = doc.OpenPath(path, openOptions);
    if (!opened.Opened()) {
        error = OpenFailureText(opened);
        return 1;
    }
    // A partial document's elements are extracted as far as they were read.
    if (target.frame) return WriteFrameBytes(doc, *target.frame, write, error) ? 0 : 1;

    const ElementSelector selector = *ParseElementSelector(target.element);
    const std::optional<std::size_t> record = FindSelectedRecord(doc.Records(), selector);
    if (!record) {
        char text[64];
        std::snprintf(text, sizeof text, "no element (%04X,%04X) number %u", selector.group, selector.element,
                      selector.nth);
        error = text;
        return 1;
    }
    return WriteValueBytes(doc, *record, write, error) ? 0 : 1;
}

}  // namespace quillon
