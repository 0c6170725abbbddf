#pragma once
// Files in the deflated transfer syntax for tests: a meta group naming it,
// then a deflate stream (raw, or zlib-wrapped) of a data set, made here with
// zlib so that a test knows which stream byte ends which inflated byte.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/DicomWriter.h"
#include "tests/support/DocTestFiles.h"

namespace deflated_files {

using testdicom::Bytes;

inline const char* kDeflatedLE = "1.2.840.10008.1.2.1.99";

// The meta group of a deflated file: 222 bytes (preamble, DICM, the group
// length and the three elements of testdicom::Part10), so the inflated data
// set starts at byte 222 of what is shown.
inline Bytes Meta() { return testdicom::Part10(kDeflatedLE, true).bytes(); }
constexpr uint64_t kInflatedFrom = 222;

// The data set of doctest_files::SequenceFile (its bytes from 208 on): in a
// deflated file each of its tag offsets lies 14 bytes further on, its meta
// group being a group length and two characters longer.
inline Bytes SequenceDataSet() {
    const Bytes file = doctest_files::SequenceFile();
    return Bytes(file.begin() + 208, file.end());
}

struct Stream {
    Bytes bytes;
    // With a split: the stream's first `flushed` bytes inflate to exactly the
    // data's first `split` bytes (a full flush ends them on a byte boundary).
    std::size_t flushed = 0;
};

// The deflate stream of `data`, raw unless `zlibWrapped`, at `level`; with
// `split` inside the data (or at its end), its first `split` bytes are flushed first.
inline Stream Deflate(const Bytes& data, std::size_t split = SIZE_MAX, bool zlibWrapped = false, int level = 6) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, zlibWrapped ? 15 : -15, 8, Z_DEFAULT_STRATEGY);
    Stream out;
    out.bytes.resize(deflateBound(&zs, uLong(data.size())) + 64);
    zs.next_out = out.bytes.data();
    zs.avail_out = uInt(out.bytes.size());
    zs.next_in = const_cast<uint8_t*>(data.data());
    if (split <= data.size()) {
        zs.avail_in = uInt(split);
        deflate(&zs, Z_FULL_FLUSH);
        out.flushed = zs.total_out;
    }
    zs.avail_in = uInt(data.size() - (split <= data.size() ? split : 0));
    deflate(&zs, Z_FINISH);
    out.bytes.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// A deflated file: Meta() and then the stream.
inline Bytes File(const Bytes& stream) {
    Bytes file = Meta();
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

}  // namespace deflated_files
