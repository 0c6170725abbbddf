#include "dicom/InflatedDataSet.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dicom/FileBytes.h"

namespace quillon {

bool InflatedBytes::Read(uint64_t offset, void* dst, std::size_t n) const {
    if (n > m_size || offset > m_size - n) return false;
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
        const std::size_t block = std::size_t(offset / kBlockSize);
        const std::size_t within = std::size_t(offset % kBlockSize);
        const std::size_t take = std::min(n, kBlockSize - within);
        if (const uint8_t* held = m_blocks[block].get())
            std::memcpy(out, held + within, take);
        else
            std::memset(out, 0, take);
        out += take;
        offset += take;
        n -= take;
    }
    return true;
}

uint64_t InflatedBytes::HeldBytes() const {
    uint64_t held = 0;
    for (std::size_t k = 0; k < m_blocks.size(); ++k)
        if (m_blocks[k]) held += std::min<uint64_t>(kBlockSize, m_size - k * uint64_t(kBlockSize));
    return held;
}

namespace {

// The compressed bytes are read from the file in pieces this large (straight
// from the file, past the byte source's page cache).
constexpr std::size_t kInputPiece = 256 * 1024;

// Whether two bytes open a zlib stream: deflate with a window of at most
// 32 KiB, no preset dictionary, and the header check. A raw deflate stream
// as writers of this syntax make it never starts so: its first block would
// have to be a stored one with non-zero padding bits.
bool IsZlibHeader(uint8_t cmf, uint8_t flg) {
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && ((cmf << 8) | flg) % 31 == 0;
}

bool AllZero(const uint8_t* bytes, std::size_t n) {
    return n == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, n - 1) == 0);
}

}  // namespace

// The state of one inflation; a friend of InflatedBytes, whose blocks it fills.
struct InflateRun {
    const FileBytes& file;
    uint64_t from;
    uint64_t limit;
    const std::function<void(uint64_t, uint64_t)>& progress;
    std::shared_ptr<InflatedBytes> bytes = std::make_shared<InflatedBytes>();
    InflateOutcome outcome;

    InflateResult Run();

private:
    bool Attempt(bool zlibWrapped, HeapPtr<uint8_t>& input);
};

bool InflateRun::Attempt(bool zlibWrapped, HeapPtr<uint8_t>& input) {
    bytes->m_blocks.clear();
    bytes->m_size = 0;
    outcome = {};
    outcome.zlibWrapped = zlibWrapped;
    z_stream zs{};
    if (inflateInit2(&zs, zlibWrapped ? 15 : -15) != Z_OK) {
        outcome.end = InflateEnd::NoMemory;
        outcome.fileOffset = from;
        return true;
    }
    const uint64_t fileSize = file.Size();
    const uint64_t total = fileSize - from;
    uint64_t next = from;  // the next file byte to read into the input
    const auto stop = [&](InflateEnd end, uint64_t at) {
        outcome.end = end;
        outcome.fileOffset = at;
    };
    // The block being filled: block k holds bytes from k x kBlockSize, and
    // every block but the last is full. A full block of zeros is kept as
    // none, and its memory filled again.
    HeapPtr<uint8_t> filling;
    const auto keep = [&](std::size_t used) {
        if (AllZero(filling.get(), used)) {
            bytes->m_blocks.emplace_back();
            return;
        }
        bytes->m_blocks.push_back(std::move(filling));
    };
    for (;;) {
        if (zs.avail_in == 0 && next < fileSize) {
            const std::size_t n = std::size_t(std::min<uint64_t>(kInputPiece, fileSize - next));
            // A file that no longer holds what it did ends here.
            if (!file.Read(next, input.get(), n)) {
                stop(InflateEnd::CutOff, next);
                break;
            }
            zs.next_in = input.get();
            zs.avail_in = uInt(n);
            next += n;
        }
        if (zs.avail_out == 0) {
            // A block the limit cut short is the last one, kept below.
            if (zs.total_out - bytes->m_blocks.size() * uint64_t(InflatedBytes::kBlockSize) ==
                InflatedBytes::kBlockSize)
                keep(InflatedBytes::kBlockSize);
            if (uint64_t(zs.total_out) >= limit) {
                stop(InflateEnd::OverLimit, from + zs.total_in);
                break;
            }
            if (!filling) filling.reset(static_cast<uint8_t*>(AllocBlock(InflatedBytes::kBlockSize)));
            if (!filling) {
                stop(InflateEnd::NoMemory, from + zs.total_in);
                break;
            }
            zs.next_out = filling.get();
            zs.avail_out = uInt(std::min<uint64_t>(InflatedBytes::kBlockSize, limit - zs.total_out));
            if (progress) progress(zs.total_in, total);
        }
        const int ret = inflate(&zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) {
            stop(InflateEnd::Complete, from + zs.total_in);
            break;
        }
        if (ret == Z_OK || (ret == Z_BUF_ERROR && zs.avail_out == 0)) continue;
        if (ret == Z_BUF_ERROR && zs.avail_in == 0 && next >= fileSize) {
            stop(InflateEnd::CutOff, fileSize);
            break;
        }
        if (ret == Z_MEM_ERROR) {
            stop(InflateEnd::NoMemory, from + zs.total_in);
            break;
        }
        // zlib gives back the whole bytes it did not use: the last byte it
        // took holds the bits it found wrong.
        stop(InflateEnd::Corrupt, from + (zs.total_in ? zs.total_in - 1 : 0));
        outcome.message = zs.msg ? zs.msg : ret == Z_NEED_DICT ? "a preset dictionary is needed" : "invalid data";
        break;
    }
    bytes->m_size = zs.total_out;
    inflateEnd(&zs);
    // The last block, filled in part (a full one is kept already), with its
    // unused part given back.
    const std::size_t lastUsed =
        std::size_t(bytes->m_size - bytes->m_blocks.size() * uint64_t(InflatedBytes::kBlockSize));
    if (lastUsed > 0 && filling) {
        if (!AllZero(filling.get(), lastUsed) && lastUsed < InflatedBytes::kBlockSize) {
            if (void* smaller = std::realloc(filling.get(), lastUsed)) {
                (void)filling.release();
                filling.reset(static_cast<uint8_t*>(smaller));
            }
        }
        keep(lastUsed);
    }
    if (progress) progress(total, total);
    // A zlib header that was no header after all: the stream fails at once,
    // having given nothing. It is tried again as raw deflate.
    return !(zlibWrapped && outcome.end == InflateEnd::Corrupt && bytes->m_size == 0);
}

namespace {

uint32_t LittleEndian32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// The bytes after a complete stream that are neither one zero byte of
// padding nor a gzip trailer of the inflated bytes.
uint64_t TrailingBytes(const FileBytes& file, uint64_t streamEnd, const InflatedBytes& inflated) {
    const uint64_t size = file.Size();
    if (streamEnd >= size) return 0;
    const uint64_t left = size - streamEnd;
    uint8_t tail[8];
    if (left == 1 && file.Read(streamEnd, tail, 1) && tail[0] == 0) return 0;
    if ((left == 8 || left == 9) && file.Read(streamEnd, tail, 8)) {
        uint8_t pad = 0;
        const bool padded = left == 8 || (file.Read(streamEnd + 8, &pad, 1) && pad == 0);
        if (padded && LittleEndian32(tail + 4) == uint32_t(inflated.Size())) {
            uLong crc = crc32(0, nullptr, 0);
            HeapPtr<uint8_t> piece(static_cast<uint8_t*>(AllocBlock(InflatedBytes::kBlockSize)));
            for (uint64_t at = 0; piece && at < inflated.Size(); at += InflatedBytes::kBlockSize) {
                const std::size_t n = std::size_t(std::min<uint64_t>(InflatedBytes::kBlockSize, inflated.Size() - at));
                inflated.Read(at, piece.get(), n);
                crc = crc32(crc, piece.get(), uInt(n));
            }
            if (piece && uint32_t(crc) == LittleEndian32(tail)) return 0;
        }
    }
    return left;
}

}  // namespace

InflateResult InflateRun::Run() {
    HeapPtr<uint8_t> input(static_cast<uint8_t*>(AllocBlock(kInputPiece)));
    if (!input) {
        outcome.end = InflateEnd::NoMemory;
        outcome.fileOffset = from;
        return {bytes, outcome};
    }
    uint8_t head[2] = {0, 0};
    const bool wrapped = from <= file.Size() && file.Size() - from >= 2 && file.Read(from, head, 2) &&
                         IsZlibHeader(head[0], head[1]);
    try {
        if (!Attempt(wrapped, input)) Attempt(false, input);
        if (outcome.end == InflateEnd::Complete) outcome.trailing = TrailingBytes(file, outcome.fileOffset, *bytes);
    } catch (...) {
        outcome.end = InflateEnd::NoMemory;
    }
    return {bytes, outcome};
}

InflateResult InflateDataSet(const FileBytes& file, uint64_t from, uint64_t limit,
                             const std::function<void(uint64_t, uint64_t)>& progress) {
    if (from > file.Size()) from = file.Size();
    InflateRun run{file, from, limit, progress, std::make_shared<InflatedBytes>(), InflateOutcome{}};
    return run.Run();
}

namespace {

std::string Mebibytes(uint64_t bytes) {
    if (bytes % (1024 * 1024) == 0) return std::to_string(bytes / (1024 * 1024)) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string InflateFailureSentence(const InflateOutcome& outcome, uint64_t inflatedEnd, uint64_t limit) {
    const std::string at = std::to_string(outcome.fileOffset);
    const std::string end = std::to_string(inflatedEnd);
    switch (outcome.end) {
        case InflateEnd::Complete: return {};
        case InflateEnd::Corrupt:
            return "the deflated data set is corrupt at byte " + at + " of the file (" + outcome.message +
                   "): its inflated bytes end at byte " + end;
        case InflateEnd::CutOff:
            return "the deflated data set is cut off by the end of the file at byte " + at +
                   ": its inflated bytes end at byte " + end;
        case InflateEnd::OverLimit:
            return "the inflated data set reaches the limit of " + Mebibytes(limit) + " at byte " + end +
                   " (byte " + at + " of the file) and is not inflated further";
        case InflateEnd::NoMemory:
            return "memory ran out inflating the deflated data set at byte " + at +
                   " of the file: its inflated bytes end at byte " + end;
    }
    return {};
}

}  // namespace quillon
