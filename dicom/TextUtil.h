#pragma once
// Conversions between the UTF-16 text of the core and UTF-8.
#include <string>
#include <string_view>

namespace quillon {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// The same, appended to `out`.
void AppendUtf8(std::string& out, std::u16string_view text);
// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view text);
// Formats like printf into UTF-16 (ASCII formats only).
std::u16string Format16(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text without the white space (space, tab, CR, LF, VT, FF) around it.
std::u16string_view TrimSpace(std::u16string_view text);

}  // namespace quillon
