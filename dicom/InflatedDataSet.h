#pragma once
// The data set of a file in the deflated transfer syntax, inflated: the bytes
// the deflate stream after the file meta information stands for. They have
// no place in the file, so they are held here, once, in blocks, and the byte
// source (FileBytes) shows them as if they followed the meta information.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dicom/HeapBlock.h"

namespace quillon {

class FileBytes;

// Inflated bytes in blocks of kBlockSize, filled in order, read-only once
// made. A block of zeros only is held as no block at all: runs of zeros are
// what a data set inflates to in bulk (blank pixel data, padding, a stream
// made to inflate to the most it may), and they then cost no memory.
class InflatedBytes {
public:
    static constexpr std::size_t kBlockSize = 1024 * 1024;

    uint64_t Size() const { return m_size; }
    // The memory the blocks take (blocks of zeros take none).
    uint64_t HeldBytes() const;
    // Copies n bytes at offset (from the start of the inflated bytes); false
    // outside them.
    bool Read(uint64_t offset, void* dst, std::size_t n) const;

private:
    friend struct InflateRun;
    std::vector<HeapPtr<uint8_t>> m_blocks;
    uint64_t m_size = 0;
};

// How an inflation ended.
enum class InflateEnd {
    Complete,   // the stream ended where it says it does
    Corrupt,    // zlib refused the stream (a bad block, a bad code, a wrong check value)
    CutOff,     // the file ends before the stream does
    OverLimit,  // the inflated bytes reached the limit they may take
    NoMemory,   // a block could not be had
};

struct InflateOutcome {
    InflateEnd end = InflateEnd::Complete;
    // Whether the stream carried the zlib wrapper (header and Adler-32)
    // instead of being raw deflate.
    bool zlibWrapped = false;
    // The byte of the file where inflation stopped. Corrupt: the byte whose
    // bits zlib found wrong (the last one it took: it gives back the whole
    // bytes it read ahead). CutOff: the file's size. OverLimit, NoMemory: the
    // first byte not taken. Complete: the byte after the stream.
    uint64_t fileOffset = 0;
    // zlib's own words for a Corrupt stream ("invalid block type").
    std::string message;
    // After a Complete stream: the file's bytes after it, other than one zero
    // byte of padding or a gzip trailer (the CRC-32 and the size of the
    // inflated bytes, which some writers leave after a raw stream). They are
    // not shown.
    uint64_t trailing = 0;
};

// Inflates the deflate stream of `file` from byte `from` to the end of the
// file, raw deflate or (when its first two bytes are a zlib header)
// zlib-wrapped, into at most `limit` bytes. `progress`, when set, hears the
// compressed bytes taken so far and their total, about once per block made.
// Never throws; whatever inflated before a failure is kept.
struct InflateResult {
    std::shared_ptr<const InflatedBytes> bytes;  // never null
    InflateOutcome outcome;
};
InflateResult InflateDataSet(const FileBytes& file, uint64_t from, uint64_t limit,
                             const std::function<void(uint64_t done, uint64_t total)>& progress = {});

// The sentence of a stop caused by an inflation that did not complete, with
// `inflatedEnd` the shown offset where the inflated bytes end (see
// FileBytes::InflatedFrom) and `limit` the limit it ran with.
std::string InflateFailureSentence(const InflateOutcome& outcome, uint64_t inflatedEnd, uint64_t limit);

}  // namespace quillon
