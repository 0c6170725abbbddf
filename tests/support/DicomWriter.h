#pragma once
// Builds small DICOM byte streams for tests.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace testdicom {

using Bytes = std::vector<uint8_t>;

enum class Syntax { ExplicitLittle, ImplicitLittle, ExplicitBig };

class Writer {
public:
    explicit Writer(Syntax syntax = Syntax::ExplicitLittle) : m_syntax(syntax) {}

    const Bytes& bytes() const { return m_out; }
    size_t size() const { return m_out.size(); }
    Syntax syntax() const { return m_syntax; }
    void setSyntax(Syntax s) { m_syntax = s; }

    Writer& raw(const Bytes& b) {
        m_out.insert(m_out.end(), b.begin(), b.end());
        return *this;
    }
    Writer& raw(const std::string& s) {
        m_out.insert(m_out.end(), s.begin(), s.end());
        return *this;
    }
    Writer& u16(uint16_t v) {
        if (big()) {
            m_out.push_back(uint8_t(v >> 8));
            m_out.push_back(uint8_t(v));
        } else {
            m_out.push_back(uint8_t(v));
            m_out.push_back(uint8_t(v >> 8));
        }
        return *this;
    }
    Writer& u32(uint32_t v) {
        if (big()) {
            for (int s = 24; s >= 0; s -= 8) m_out.push_back(uint8_t(v >> s));
        } else {
            for (int s = 0; s <= 24; s += 8) m_out.push_back(uint8_t(v >> s));
        }
        return *this;
    }
    // Little-endian 32-bit whatever the syntax (implicit VR lengths).
    Writer& le32(uint32_t v) {
        for (int s = 0; s <= 24; s += 8) m_out.push_back(uint8_t(v >> s));
        return *this;
    }
    Writer& tag(uint16_t g, uint16_t e) { return u16(g).u16(e); }

    // An element header; `vr` is ignored in implicit VR.
    Writer& header(uint16_t g, uint16_t e, const char* vr, uint32_t length) {
        tag(g, e);
        if (m_syntax == Syntax::ImplicitLittle) return le32(length);
        m_out.push_back(uint8_t(vr[0]));
        m_out.push_back(uint8_t(vr[1]));
        const std::string v(vr, 2);
        static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                            "SV", "UC", "UN", "UR", "UT", "UV"};
        for (const char* l : kLong)
            if (v == l) return u16(0).u32(length);
        return u16(uint16_t(length));
    }
    Writer& element(uint16_t g, uint16_t e, const char* vr, const Bytes& value) {
        header(g, e, vr, uint32_t(value.size()));
        return raw(value);
    }
    Writer& text(uint16_t g, uint16_t e, const char* vr, const std::string& value) {
        return element(g, e, vr, Bytes(value.begin(), value.end()));
    }
    Writer& us(uint16_t g, uint16_t e, uint16_t v) {
        header(g, e, "US", 2);
        return u16(v);
    }
    Writer& item(uint32_t length) { return tag(0xFFFE, 0xE000).u32(length); }
    Writer& itemEnd() { return tag(0xFFFE, 0xE00D).u32(0); }
    Writer& seqEnd() { return tag(0xFFFE, 0xE0DD).u32(0); }

private:
    bool big() const { return m_syntax == Syntax::ExplicitBig; }
    Syntax m_syntax;
    Bytes m_out;
};

inline std::string Pad(std::string s, char pad = ' ') {
    if (s.size() % 2) s.push_back(pad);
    return s;
}

// A preamble, "DICM" and an explicit VR little endian meta group with the
// given transfer syntax (padded with NUL); the writer then switches to the
// matching syntax for the data set. The meta group's length (0002,0000) is
// written only when asked for: most fixtures, and the offsets their tests
// name, go without it.
inline Writer Part10(const std::string& transferSyntax, bool withGroupLength = false) {
    Writer meta(Syntax::ExplicitLittle);
    meta.element(0x0002, 0x0001, "OB", {0x00, 0x01});
    meta.text(0x0002, 0x0002, "UI", Pad("1.2.840.10008.5.1.4.1.1.7", '\0'));
    meta.text(0x0002, 0x0010, "UI", Pad(transferSyntax, '\0'));
    Writer w(Syntax::ExplicitLittle);
    w.raw(Bytes(128, 0)).raw(std::string("DICM"));
    if (withGroupLength) {
        const uint32_t n = uint32_t(meta.size());
        w.element(0x0002, 0x0000, "UL", {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    }
    w.raw(meta.bytes());
    if (transferSyntax == "1.2.840.10008.1.2")
        w.setSyntax(Syntax::ImplicitLittle);
    else if (transferSyntax == "1.2.840.10008.1.2.2")
        w.setSyntax(Syntax::ExplicitBig);
    return w;
}

inline const char* kExplicitLE = "1.2.840.10008.1.2.1";
inline const char* kImplicitLE = "1.2.840.10008.1.2";
inline const char* kExplicitBE = "1.2.840.10008.1.2.2";

// Three ordinary top-level elements, enough with the meta group to make six.
inline Writer& StudyElements(Writer& w) {
    w.text(0x0008, 0x0060, "CS", "OT");
    w.text(0x0010, 0x0010, "PN", Pad("Doe^John"));
    w.text(0x0010, 0x0020, "LO", Pad("12345"));
    return w;
}

}  // namespace testdicom
