#pragma once
// Small DICOM files for the main window's tests (document logic and dialog),
// written into a temporary directory that is removed with the object.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/DicomWriter.h"

namespace doctest_files {

using testdicom::Bytes;
using testdicom::Pad;
using testdicom::Writer;

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-doc-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) m_path = made;
    }
    ~TempDir() {
        std::error_code ec;
        // Directories made read-only by a test still have to go.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    std::filesystem::path Write(const std::string& name, const Bytes& bytes) const {
        const auto file = m_path / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return file;
    }

private:
    std::filesystem::path m_path;
};

// Explicit VR little endian with a Specific Character Set at the top, an
// undefined-length sequence of two undefined-length items (the first with its
// own (0008,0005)), a defined-length sequence of one item, and a zero-length
// element. Tag offsets and (inclusive) ranges:
//   132 (0002,0001) OB 2        146 (0002,0002) UI 26      180 (0002,0010) UI 20
//   208 (0008,0005) CS "ISO_IR 100"  208..225               226 (0008,0060) CS "OT"
//   236 (0008,1115) SQ undefined, 236..331:
//       item 248..293 {(0008,0005)@256 "ISO_IR 192", (0010,0010)@274 PN "Doe ", delimiter@286}
//       item 294..323 {(0008,1150)@302 UI "1.2.3", delimiter@316}, sequence delimiter@324
//   332 (0008,1140) SQ 20, 332..363: item 344..363 {(0008,1155)@352 UI "1.2"}
//   364 (0010,0010) PN "Roe^Ann "   380 (0010,0020) LO "12345 "
//   394 (0010,0030) DA empty, 394..401   402 (0020,0013) IS "7 ", 402..411 (end of file)
inline Bytes SequenceFile() {
    Writer w = testdicom::Part10(testdicom::kExplicitLE);
    w.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    w.text(0x0008, 0x0060, "CS", "OT");
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF);
    w.item(0xFFFFFFFF);
    w.text(0x0008, 0x0005, "CS", "ISO_IR 192");
    w.text(0x0010, 0x0010, "PN", Pad("Doe"));
    w.itemEnd();
    w.item(0xFFFFFFFF);
    w.text(0x0008, 0x1150, "UI", Pad("1.2.3", '\0'));
    w.itemEnd();
    w.seqEnd();
    w.header(0x0008, 0x1140, "SQ", 20);
    w.item(12);
    w.text(0x0008, 0x1155, "UI", Pad("1.2", '\0'));
    w.text(0x0010, 0x0010, "PN", Pad("Roe^Ann"));
    w.text(0x0010, 0x0020, "LO", Pad("12345"));
    w.header(0x0010, 0x0030, "DA", 0);
    w.text(0x0020, 0x0013, "IS", Pad("7"));
    return w.bytes();
}

// The study elements and the image description of `frames` frames of 2 x 2
// 8-bit grey samples.
inline void GreyImageOf2x2(Writer& w, int frames) {
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames)));
    w.us(0x0028, 0x0010, 2);
    w.us(0x0028, 0x0011, 2);
    w.us(0x0028, 0x0100, 8);
}

// Native pixel data of `frames` frames of 2 x 2 8-bit samples (4 bytes each,
// frame k filled with k + 1), VR OB, explicit VR little endian.
inline Bytes NativeFramesFile(int frames) {
    Writer w = testdicom::Part10(testdicom::kExplicitLE);
    GreyImageOf2x2(w, frames);
    w.us(0x0028, 0x0101, 8);
    w.us(0x0028, 0x0102, 7);
    w.us(0x0028, 0x0103, 0);
    Bytes pixels;
    for (int k = 0; k < frames; ++k) pixels.insert(pixels.end(), 4, uint8_t(k + 1));
    w.element(0x7FE0, 0x0010, "OB", pixels);
    return w.bytes();
}

// JPEG baseline, 2 x 2 8-bit grey, `frames` frames: the fragment items hold
// `fragments`, the offset table item the little-endian entries of `table`.
// With `extended` entries, an Extended Offset Table (7FE0,0001) of them and
// its lengths (7FE0,0002), all 0, come before the pixel data.
inline Bytes FragmentsFile(int frames, const std::vector<uint32_t>& table, const std::vector<Bytes>& fragments,
                           const std::vector<uint64_t>& extended = {}) {
    Writer w = testdicom::Part10("1.2.840.10008.1.2.4.50", true);
    GreyImageOf2x2(w, frames);
    if (!extended.empty()) {
        w.header(0x7FE0, 0x0001, "OV", uint32_t(8 * extended.size()));
        for (uint64_t entry : extended) w.le32(uint32_t(entry)).le32(uint32_t(entry >> 32));
        w.header(0x7FE0, 0x0002, "OV", uint32_t(8 * extended.size()));
        for (std::size_t i = 0; i < extended.size(); ++i) w.le32(0).le32(0);
    }
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    w.item(uint32_t(4 * table.size()));
    for (uint32_t entry : table) w.le32(entry);
    for (const Bytes& fragment : fragments) w.item(uint32_t(fragment.size())).raw(fragment);
    w.seqEnd();
    return w.bytes();
}

// JPEG baseline transfer syntax, `frames` frames (one by default), pixel data
// as an empty offset table item and three fragments (sizes 4, 6, 2).
inline Bytes EncapsulatedFile(int frames = 1) {
    return FragmentsFile(frames, {}, {{0xFF, 0xD8, 0xFF, 0xD9}, {1, 2, 3, 4, 5, 6}, {7, 8}});
}

// A file that loads with four problems, one of each way a problem finds its
// tree item:
//   260 odd-length on (0010,1000) (the loader names the node),
//   365 tag-order on (0040,0009), inside the item of (0040,0275) (no node: the
//       innermost element at its offset),
//   417 offset-table, the second entry of the offset table (the table item),
//   441 trailing-bytes after the pixel data, which ends at 440 (no element
//       there: the root).
inline Bytes ProblemsFile() {
    Writer w = testdicom::Part10(testdicom::kExplicitLE, true);
    testdicom::StudyElements(w);
    w.text(0x0010, 0x1000, "LO", "abcde");
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.us(0x0028, 0x0010, 2);
    w.us(0x0028, 0x0011, 2);
    w.us(0x0028, 0x0100, 8);
    w.header(0x0040, 0x0275, "SQ", 0xFFFFFFFF);
    w.item(0xFFFFFFFF);
    w.text(0x0040, 0x1001, "SH", "RP1 ");
    w.text(0x0040, 0x0009, "SH", "SP1 ");
    w.itemEnd();
    w.seqEnd();
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    w.item(8).le32(0).le32(6);
    w.item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    w.seqEnd();
    w.raw(std::string("trailing"));
    return w.bytes();
}

// A top-level group 0000 element and no pixel data: never a frame.
inline Bytes GroupZeroFile() {
    Writer w(testdicom::Syntax::ImplicitLittle);
    w.tag(0x0000, 0x0002).le32(4).le32(0);
    w.text(0x0008, 0x0016, "UI", Pad("1.2.840.10008.5.1.4.1.1.7", '\0'));
    testdicom::StudyElements(w);
    w.text(0x0020, 0x000D, "UI", Pad("1.2.3", '\0'));
    w.text(0x0020, 0x0010, "SH", Pad("S1"));
    return w.bytes();
}

// An explicit-VR file whose element (0028,3006) US holds `numbers`: its
// value text is "n \\n \\..." (each number, a blank, a backslash between).
inline Bytes NumberListFile(const std::vector<uint16_t>& numbers) {
    Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    Bytes value;
    for (uint16_t n : numbers) {
        value.push_back(uint8_t(n & 0xFF));
        value.push_back(uint8_t(n >> 8));
    }
    w.element(0x0028, 0x3006, "US", value);
    return w.bytes();
}

// Length of the value text of NumberListFile(numbers).
inline std::size_t NumberListTextLength(const std::vector<uint16_t>& numbers) {
    std::size_t n = 0;
    for (uint16_t v : numbers) n += std::to_string(v).size() + 1;
    return numbers.empty() ? 0 : n + numbers.size() - 1;
}

}  // namespace doctest_files
