// quillon-dump: prints the element tree of one DICOM file, one line per tree
// item in pre-order, as TAB-separated fields:
//   depth, tag, VR, tag offset, data offset, length, first byte, last byte,
//   description, value text, tree label
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/doc/DocumentTree.h"
#include "dicom/DicomFile.h"
#include "dicom/TextUtil.h"

namespace {

// Control characters, TAB, CR and LF as escapes so that a line stays a line.
std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02X", c);
                    out += buf;
                } else {
                    out.push_back(char(c));
                }
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon-dump FILE\n");
        return 2;
    }
    const std::filesystem::path path(argv[1]);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::fprintf(stderr, "The file was not found\n");
        return 1;
    }
    CDicomFile file;
    if (!file.Load(path)) {
        std::fprintf(stderr, "Invalid DICOM file\n");
        return 1;
    }
    AddFrameNodes(file);
    const auto records = BuildTreeRecords(file, file.m_numberOfFrames);

    std::string line;
    for (const TreeItemRecord& record : records) {
        CDicomTag* e = record.element;
        const auto [first, last] = file.ElementRange(e);
        const uint32_t length = e->GetLength();
        char numbers[160];
        char lengthText[16];
        if (length == kUndefinedLength)
            std::snprintf(lengthText, sizeof lengthText, "FFFFFFFF");
        else
            std::snprintf(lengthText, sizeof lengthText, "%u", length);
        std::snprintf(numbers, sizeof numbers, "%d\t%04X,%04X\t%s\t%llu\t%llu\t%s\t%llu\t%llu\t", record.depth,
                      e->m_group, e->m_element, VRToAscii(e->m_vr.GetVR()).c_str(),
                      (unsigned long long)file.TagOffset(e), (unsigned long long)e->m_dataOffset, lengthText,
                      (unsigned long long)first, (unsigned long long)last);
        line = numbers;
        line += Escape(quillon::ToUtf8(e->IsItem() ? std::u16string(u"SQ Item") : e->GetDescription()));
        line += '\t';
        if (e->GetData()) line += Escape(quillon::ToUtf8(e->GetValueText(record.charset)));
        line += '\t';
        line += Escape(quillon::ToUtf8(record.label));
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
