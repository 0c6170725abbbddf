// libFuzzer target: CDicomFile::LoadMemory on arbitrary bytes, then what the
// window does with a loaded file: the byte range, tag offset, VR and value
// text of every node, with the Specific Character Set in force for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomFile.h"

namespace {

// The character set of an item's own (0008,0005), else the one inherited.
const std::u16string& CharsetOf(const CDicomTag* node, const std::u16string& inherited, std::u16string& own) {
    for (const auto& child : node->m_children) {
        if (child && child->Is(0x0008, 0x0005)) {
            own = child->GetValueText(u"");
            return own;
        }
    }
    return inherited;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDicomFile file;
    if (!file.LoadMemory(data, size)) {
        Check(file.m_tags.empty());
        return 0;
    }
    Check(file.m_tags.size() >= 6);

    struct Visit {
        CDicomTag* node;
        std::u16string charset;
    };
    std::vector<Visit> stack;
    const std::u16string top = file.GetSpecificCharacterSet();
    for (auto it = file.m_tags.rbegin(); it != file.m_tags.rend(); ++it) stack.push_back({it->get(), top});
    while (!stack.empty()) {
        Visit v = std::move(stack.back());
        stack.pop_back();
        CDicomTag* node = v.node;
        const uint64_t tagOffset = file.TagOffset(node);
        const auto [first, last] = file.ElementRange(node);
        Check(tagOffset <= node->m_dataOffset);
        Check(first == tagOffset);
        (void)file.HeaderSize(node);
        (void)node->GetDisplayVR();
        (void)node->GetDescription();
        (void)node->GetValueText(v.charset);
        (void)node->GetIntValue();
        if (auto value = node->GetValueString()) (void)value.get()[0];
        std::u16string own;
        const std::u16string& childCharset = CharsetOf(node, v.charset, own);
        for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it)
            stack.push_back({it->get(), childCharset});
    }
    // The vocabulary the window asks for after a load.
    (void)file.IsUncompressed();
    (void)file.IsPaletteColor();
    (void)file.IsMonochrome();
    return 0;
}
