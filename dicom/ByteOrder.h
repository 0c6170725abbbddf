#pragma once
// Byte order of values read from big-endian files.
#include <cstdint>
#include <string>
#include <utility>

namespace quillon {

// Reverses the bytes of each `unit`-byte number in data; a trailing part
// shorter than one unit stays as it is.
inline void SwapUnits(uint8_t* data, uint64_t length, unsigned unit) {
    if (unit < 2) return;
    const uint64_t units = length / unit;
    for (uint64_t i = 0; i < units; ++i) {
        uint8_t* p = data + i * unit;
        for (unsigned a = 0, b = unit - 1; a < b; ++a, --b) std::swap(p[a], p[b]);
    }
}

// The size of the numbers a value of this VR is made of (1: bytes, no swapping).
inline unsigned SwapUnitFor(const std::u16string& vr) {
    if (vr == u"OW" || vr == u"SS" || vr == u"US") return 2;
    if (vr == u"SL" || vr == u"UL" || vr == u"FL") return 4;
    if (vr == u"FD") return 8;
    return 1;
}

}  // namespace quillon
