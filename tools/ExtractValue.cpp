#include "tools/ExtractValue.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/ElementSelector.h"
#include "document/QuillonDocument.h"
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

namespace {

// A block of the bytes shown at a time, so that a frame or value of any
// size passes through a small buffer.
constexpr std::size_t kBlock = 1 << 20;

// Copies bytes [offset, offset + size) of the document's bytes to `write`.
bool CopyBytes(const QuillonDocument& doc, uint64_t offset, uint64_t size,
               const std::function<bool(const uint8_t*, std::size_t)>& write, std::string& error) {
    std::vector<uint8_t> buffer(std::size_t(std::min<uint64_t>(size, kBlock)));
    while (size > 0) {
        const std::size_t n = std::size_t(std::min<uint64_t>(size, kBlock));
        if (!doc.ReadData(offset, buffer.data(), n)) {
            error = "cannot read bytes " + std::to_string(offset) + " to " + std::to_string(offset + n - 1) +
                    " of the file";
            return false;
        }
        if (!write(buffer.data(), n)) return false;
        offset += n;
        size -= n;
    }
    return true;
}

int ExtractFrame(const QuillonDocument& doc, uint64_t frame,
                 const std::function<bool(const uint8_t*, std::size_t)>& write, std::string& error) {
    const CDicomFile& file = *doc.File();
    const CDicomTag7FE0* pixelData = file.PixelData();
    const std::string name = "frame " + std::to_string(frame);
    if (!pixelData) {
        error = "no frame " + std::to_string(frame) + ": the file has no pixel data";
        return 1;
    }
    if (pixelData->FragmentCount() > 0) {
        // Encapsulated: the values of the frame's fragments, joined.
        const FrameFragments& fragments = file.Fragments();
        if (frame >= fragments.FrameCount()) {
            error = "no " + name + ": the pixel data has " + std::to_string(fragments.FrameCount()) +
                    " frames with fragments";
            return 1;
        }
        const FragmentRange range = fragments.Range(std::size_t(frame));
        for (std::size_t k = range.first; k < range.last; ++k)
            if (!CopyBytes(doc, pixelData->FragmentDataOffset(k), pixelData->FragmentLength(k), write, error))
                return 1;
        return 0;
    }
    if (frame >= pixelData->FrameCount()) {
        error = "no " + name + ": the pixel data has " + std::to_string(pixelData->FrameCount()) + " frames";
        return 1;
    }
    return CopyBytes(doc, pixelData->FrameOffset(std::size_t(frame)), pixelData->FrameBytes(std::size_t(frame)),
                     write, error)
               ? 0
               : 1;
}

}  // namespace

int ExtractBytes(const std::filesystem::path& path, const ExtractTarget& target,
                 const std::function<bool(const uint8_t*, std::size_t)>& write, std::string& error) {
    QuillonDocument doc;
    OpenOptions openOptions;
    openOptions.thumbnails = false;
    openOptions.treeRecords = !target.frame.has_value();
    const OpenResult opened = doc.OpenPath(path, openOptions);
    if (!opened.Opened()) {
        error = MessageLine(opened.message);
        if (ReasonTellsMore(opened.reason.Code())) error += '\n' + opened.reason.Text();
        return 1;
    }
    // A partial document's elements are extracted as far as they were read.
    if (target.frame) return ExtractFrame(doc, *target.frame, write, error);

    const ElementSelector selector = *ParseElementSelector(target.element);
    const std::optional<std::size_t> record = FindSelectedRecord(doc.Records(), selector);
    if (!record) {
        char text[64];
        std::snprintf(text, sizeof text, "no element (%04X,%04X) number %u", selector.group, selector.element,
                      selector.nth);
        error = text;
        return 1;
    }
    std::unique_ptr<CDicomTag> scratch;
    const CDicomTag* element = doc.Records()[*record].PeekElement(scratch);
    if (!element) {
        error = "the element cannot be read";
        return 1;
    }
    // The value as stored: its length's bytes from the data offset; for an
    // undefined length, everything up to the element's end (its items and
    // the delimitation item); never past what the document holds of it.
    const auto [first, last] = doc.ShownRange(doc.File()->ElementRange(element));
    (void)first;
    const uint64_t start = element->m_dataOffset;
    uint64_t size = last + 1 > start ? last + 1 - start : 0;
    if (element->GetLength() != kUndefinedLength) size = std::min<uint64_t>(size, element->GetLength());
    return CopyBytes(doc, start, size, write, error) ? 0 : 1;
}

}  // namespace quillon
