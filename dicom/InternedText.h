#pragma once
// Short texts of which a file holds few distinct values (VRs, element
// names), kept once for the whole program: a holder is one pointer. Every
// node of the element tree holds three of them, and a file may hold
// millions of nodes (fragment items).
#include <string>
#include <string_view>

namespace quillon {

// The empty text every holder starts with (constant-initialised: no guard).
inline const std::u16string kEmptyInternedText{};

class InternedText {
public:
    InternedText() = default;
    InternedText(std::u16string_view text) { *this = text; }  // NOLINT: a text converts implicitly
    InternedText& operator=(std::u16string_view text);

    bool empty() const { return m_text->empty(); }
    std::size_t size() const { return m_text->size(); }
    void clear() { m_text = &kEmptyInternedText; }
    const std::u16string& str() const { return *m_text; }
    operator const std::u16string&() const { return *m_text; }  // NOLINT
    operator std::u16string_view() const { return *m_text; }    // NOLINT

    friend bool operator==(const InternedText& a, std::u16string_view b) { return a.str() == b; }
    friend bool operator==(const InternedText& a, const InternedText& b) { return a.m_text == b.m_text; }

private:
    // Never null; the pool never lets a text go, so the pointer stays valid.
    const std::u16string* m_text = &kEmptyInternedText;
};

}  // namespace quillon
