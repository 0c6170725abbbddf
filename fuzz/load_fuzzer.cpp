// libFuzzer target: CDicomFile::LoadMemory on arbitrary bytes, then what the
// window does with a loaded file, or one kept as far as it was read: its frame nodes and tree records, and the
// byte range, tag offset, VR and value text of every node, with the Specific
// Character Set the document library finds in force for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "dicom/DicomFile.h"
#include "document/DocumentTree.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDicomFile file;
    // A deflated data set inflates to at most 16 MiB here, so that a run
    // stays fast; the limit itself is the unit tests' to check.
    file.SetInflateLimit(16 << 20);
    const bool loaded = bool(file.LoadMemory(data, size));
    if (!loaded && !file.Partial()) {
        Check(file.Elements().empty());
        return 0;
    }
    // The bytes shown: the input, or its meta group and inflated data set.
    const uint64_t shown = file.Source() ? file.Source()->Size() : size;
    Check(file.Deflated() || shown == size);
    Check(loaded ? file.Elements().size() >= 6 : !file.Elements().empty() && file.StopOffset() <= shown);

    // The tree as the window builds it: frame nodes, then the pre-order
    // records with the character set each value is decoded with.
    AddFrameNodes(file);
    for (const TreeItemRecord& record : BuildTreeRecords(file, file.Pixel().numberOfFrames)) {
        const CDicomTag* node = record.element;
        const uint64_t tagOffset = file.TagOffset(node);
        const auto [first, last] = file.ElementRange(node);
        Check(tagOffset <= node->m_dataOffset);
        Check(first == tagOffset);
        // What was kept of a partial load was read before the stop.
        Check(loaded || tagOffset < file.StopOffset());
        (void)last;
        (void)file.HeaderSize(node);
        (void)record.element->GetDisplayVR();
        (void)node->GetDescription();
        (void)node->GetValueText(record.charset);
        (void)node->GetIntValue();
        if (auto value = node->GetValueString()) (void)value.get()[0];
    }
    // The vocabulary the window asks for after a load.
    (void)file.IsUncompressed();
    (void)file.IsPaletteColor();
    (void)file.IsMonochrome();
    return 0;
}
