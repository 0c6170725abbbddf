#include "dicom/TextUtil.h"

#include <cstdarg>
#include <cstdio>

namespace quillon {

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

}  // namespace

std::u16string_view TrimSpace(std::u16string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendUtf8(out, text);
    return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
    // Gathered in a small block and appended a block at a time.
    char block[256];
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (n > sizeof block - 4) {
            out.append(block, n);
            n = 0;
        }
        uint32_t c = text[i];
        if (c < 0x80) {
            block[n++] = char(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            block[n++] = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            block[n++] = char(0xE0 | (c >> 12));
            block[n++] = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            block[n++] = char(0xF0 | (c >> 18));
            block[n++] = char(0x80 | ((c >> 12) & 0x3F));
            block[n++] = char(0x80 | ((c >> 6) & 0x3F));
        }
        block[n++] = char(0x80 | (c & 0x3F));
    }
    out.append(block, n);
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    auto cont = [&](size_t k) { return k < n && (uint8_t(text[k]) & 0xC0) == 0x80; };
    while (i < n) {
        const uint8_t b = uint8_t(text[i]);
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            c = ((b & 0x1F) << 6) | (uint8_t(text[i + 1]) & 0x3F);
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            c = ((b & 0x0F) << 12) | ((uint8_t(text[i + 1]) & 0x3F) << 6) | (uint8_t(text[i + 2]) & 0x3F);
            len = 3;
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            c = ((b & 0x07) << 18) | ((uint8_t(text[i + 1]) & 0x3F) << 12) | ((uint8_t(text[i + 2]) & 0x3F) << 6) |
                (uint8_t(text[i + 3]) & 0x3F);
            len = 4;
            if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
        i += len;
    }
    return out;
}

std::u16string Format16(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0) return {};
    std::u16string out;
    for (int i = 0; i < n && i < int(sizeof buf) - 1; ++i) out.push_back(char16_t(uint8_t(buf[i])));
    return out;
}

}  // namespace quillon
