#include "dicom/CharacterSet.h"

#include <cstring>

// Placeholder: Latin-1 only until the code page tables land.
unsigned CodePageForTerm(std::u16string_view) { return 0; }

bool ConvertCodePage(unsigned, std::string_view bytes, std::u16string& out) {
    out.clear();
    for (unsigned char c : bytes) out.push_back(char16_t(c));
    return true;
}

std::u16string DecodeSingleGroup(const char* bytes, std::u16string_view term) {
    std::u16string out;
    if (!bytes) return out;
    ConvertCodePage(CodePageForTerm(term), std::string_view(bytes, std::strlen(bytes)), out);
    return out;
}

std::u16string DecodeText(const char* bytes, std::u16string_view term) { return DecodeSingleGroup(bytes, term); }
