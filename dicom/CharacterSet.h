#pragma once
// Specific Character Set decoding: defined terms to code pages, and the
// conversion of value bytes to UTF-16.
#include <string>
#include <string_view>

// Code page for a (0008,0005) term; 0 (the ANSI code page, Windows-1252 here) when nothing matches.
unsigned CodePageForTerm(std::u16string_view term);
// Decodes the NUL-terminated bytes with one code page; with an ISO 2022 term
// (or the Korean set) escape sequences switch the code page and are left out.
std::u16string DecodeSingleGroup(const char* bytes, std::u16string_view term);
// Decodes a value, splitting person-name style values at "=" into up to three groups.
std::u16string DecodeText(const char* bytes, std::u16string_view term);
// The platform conversion: bytes in code page `codePage` to UTF-16. Bytes the
// code page leaves undefined become U+FFFD; false (and empty text) when the
// code page is unknown or the conversion fails.
bool ConvertCodePage(unsigned codePage, std::string_view bytes, std::u16string& out);
