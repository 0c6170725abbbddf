#include "document/ByteSearch.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "dicom/DicomTag.h"
#include "dicom/FileBytes.h"
#include "document/ElementSearch.h"

namespace quillon {

namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The first start of `pattern` in [lo, hi) of the bytes, scanning blocks
// that overlap by the pattern's length less one so that no match is split.
ByteFindResult Scan(const FileBytes& bytes, uint64_t lo, uint64_t hi, const std::vector<uint8_t>& pattern,
                    const std::atomic<bool>* cancel, std::vector<uint8_t>& block) {
    ByteFindResult result;
    const uint64_t n = pattern.size();
    // Starts lie in [lo, hi); the bytes read reach hi - 1 + n - 1.
    uint64_t start = lo;
    while (start < hi) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            return result;
        }
        const uint64_t starts = std::min<uint64_t>(hi - start, kFindBlockBytes);
        const std::size_t want = static_cast<std::size_t>(starts + n - 1);
        if (!bytes.Read(start, block.data(), want)) {
            result.readFailed = true;
            return result;
        }
        if (const void* hit = ::memmem(block.data(), want, pattern.data(), n)) {
            result.offset = start + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - block.data());
            return result;
        }
        start += starts;
    }
    return result;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseHexPattern(std::u16string_view text) {
    std::vector<uint8_t> out;
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    while (i < text.size()) {
        if (i + 1 >= text.size()) return std::nullopt;
        const int hi = HexDigit(text[i]);
        const int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        i += 2;
        const std::size_t before = i;
        while (i < text.size() && IsBlank(text[i])) ++i;
        // Groups are separated by blanks: "FEFF" is one group of four digits.
        if (i < text.size() && i == before) return std::nullopt;
    }
    if (out.size() < 2) return std::nullopt;
    return out;
}

ByteFindResult FindBytes(const FileBytes& bytes, uint64_t size, uint64_t from, const std::vector<uint8_t>& pattern,
                         const std::atomic<bool>* cancel) {
    ByteFindResult none;
    size = std::min(size, bytes.Size());
    if (pattern.empty() || pattern.size() > size) return none;
    const uint64_t lastStart = size - pattern.size();  // inclusive
    from = std::min(from, lastStart + 1);
    std::vector<uint8_t> block(kFindBlockBytes + pattern.size() - 1);

    ByteFindResult ahead = Scan(bytes, from, lastStart + 1, pattern, cancel, block);
    if (ahead.offset || ahead.cancelled || ahead.readFailed || from == 0) return ahead;
    ByteFindResult round = Scan(bytes, 0, from, pattern, cancel, block);
    round.wrapped = round.offset.has_value();
    return round;
}

std::optional<std::size_t> InnermostRecordAt(QuillonDocument& document, uint64_t offset) {
    std::optional<std::size_t> current = document.RecordAtOffset(offset);
    const auto& records = document.Records();
    while (current) {
        // In pre-order the first record of the subtree that holds the byte is
        // the outermost element inside the current one.
        std::optional<std::size_t> inner;
        const std::size_t end = std::min(records[*current].end, records.size());
        for (std::size_t i = *current + 1; i < end && !inner; ++i) {
            const auto [f, l] = document.Range(i);
            if (f <= offset && offset <= l) inner = i;
        }
        if (!inner) break;
        current = inner;
    }
    return current;
}

std::u16string CaretStatusText(QuillonDocument& document, uint64_t caret, uint64_t rangeLength) {
    if (caret == UINT64_MAX || caret >= document.DataSize()) return {};
    char head[96];
    std::snprintf(head, sizeof head, "Offset %llu (0x%llX)", static_cast<unsigned long long>(caret),
                  static_cast<unsigned long long>(caret));
    std::string text = head;
    uint8_t b = 0;
    if (document.ReadData(caret, &b, 1)) {
        std::snprintf(head, sizeof head, " | Byte 0x%02X", b);
        text += head;
    }
    if (rangeLength > 0) {
        std::snprintf(head, sizeof head, " | Range %llu byte%s", static_cast<unsigned long long>(rangeLength),
                      rangeLength == 1 ? "" : "s");
        text += head;
    }
    std::u16string out(text.begin(), text.end());
    const std::optional<std::size_t> record = InnermostRecordAt(document, caret);
    out += record ? u" | in " + document.Label(*record) : std::u16string(u" | in the root");
    return out;
}

std::u16string ValueTipText(const QuillonDocument& document, std::size_t index) {
    const auto& records = document.Records();
    if (index >= records.size()) return {};
    std::unique_ptr<CDicomTag> scratch;
    const CDicomTag* e = records[index].PeekElement(scratch);
    if (!e) return {};
    // The other-byte VRs (and unknown ones) are shown by their bytes, whatever
    // their text would be ("0" for OB).
    const std::u16string& vr = e->m_vr.GetVR();
    const bool binary =
        vr == u"OB" || vr == u"OW" || vr == u"OF" || vr == u"OD" || vr == u"OL" || vr == u"OV" || vr == u"UN";
    if (vr == u"AT") {
        // Every tag of a multi-valued AT (the cell shows the first), 8 to a line.
        const SValueBytes value = e->ValueBytes(4 * kValueTipTags);
        std::string out;
        for (uint64_t k = 0; value && 4 * k + 4 <= value.size; ++k) {
            uint32_t v = 0;
            std::memcpy(&v, value.data + 4 * k, sizeof v);
            char tag[16];
            std::snprintf(tag, sizeof tag, "(%04X,%04X)", v & 0xFFFFu, v >> 16);
            if (k) out += k % 8 ? " " : "\n";
            out += tag;
        }
        if (e->GetLength() > 4 * kValueTipTags) out += " ...";
        return std::u16string(out.begin(), out.end());
    }
    if (!binary) {
        if (const std::optional<std::u16string> text = FullValueText(document, index)) {
            if (text->size() <= kValueTipChars) return *text;
            return text->substr(0, kValueTipChars) + u"...";
        }
    }
    // Binary data: the first bytes in hex, 16 to a line.
    const SValueBytes value = e->ValueBytes(kValueTipBytes);
    if (!value || value.size == 0) return {};
    const HexText hex = BytesHex(value.data, value.size, 0, value.size - 1, kValueTipBytes);
    std::u16string out(hex.text.begin(), hex.text.end());
    const uint64_t total = e->GetNormalizedLength();
    if (total > value.size) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "\n... (%llu bytes)", static_cast<unsigned long long>(total));
        out += std::u16string(tail, tail + std::strlen(tail));
    }
    return out;
}

std::vector<uint8_t> ReadRange(const QuillonDocument& document, uint64_t first, uint64_t last, uint64_t limit) {
    if (first > last || first >= document.DataSize()) return {};
    last = std::min(last, document.DataSize() - 1);
    const uint64_t n = std::min(last - first + 1, limit);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(n));
    if (!document.ReadData(first, bytes.data(), bytes.size())) return {};
    return bytes;
}

}  // namespace quillon
