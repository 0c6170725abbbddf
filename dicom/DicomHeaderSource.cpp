// The bytes of the file being parsed: read from the open file into one
// buffer as the parse advances, or copied from memory; the cursor over them.
#include "dicom/DicomHeader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using quillon::AllocBlock;

namespace {

// Reads n bytes at offset from the file; false when they cannot all be read.
bool ReadFileAt(std::FILE* file, uint64_t offset, void* dst, std::size_t n) {
    if (!file) return false;
    const int fd = fileno(file);
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

// Faults in the whole pages of [dst, dst + n) in one call before a large
// read writes them: far cheaper than one page fault per page. A hint only;
// kernels without MADV_POPULATE_WRITE refuse it and the read faults as usual.
void PrefaultForWrite(void* dst, std::size_t n) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(dst) + page - 1) & ~(page - 1);
    const uintptr_t last = (uintptr_t(dst) + n) & ~(page - 1);
    if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)dst;
    (void)n;
#endif
}

// The buffer is filled in steps of at least this many bytes.
constexpr uint64_t kReadAhead = 256 * 1024;
// Reads of at least this many bytes past the filled part of the buffer (the
// frames of native pixel data) go straight from the file to their target.
constexpr std::size_t kDirectRead = 64 * 1024;

}  // namespace

bool CDicomHeader::FillToSlow(uint64_t end) const {
    if (!m_buffer || end > m_fileSize) return false;
    const uint64_t target = std::max(end, std::min(m_fileSize, m_filled + kReadAhead));
    if (!ReadFileAt(m_file, m_filled, m_buffer.get() + m_filled, std::size_t(target - m_filled))) return false;
    m_filled = target;
    return true;
}

bool CDicomHeader::CopyAtSlow(uint64_t offset, void* dst, std::size_t n) const {
    if (n > m_fileSize || offset > m_fileSize - n) return false;
    if (n == 0) return true;
    if (!m_buffer) return ReadFileAt(m_file, offset, dst, n);
    const uint64_t end = offset + n;
    if (end > m_filled && n >= kDirectRead) {
        // A large read: what the buffer already holds, the rest from the file.
        const std::size_t buffered = offset < m_filled ? std::size_t(m_filled - offset) : 0;
        if (buffered) std::memcpy(dst, m_buffer.get() + offset, buffered);
        PrefaultForWrite(static_cast<uint8_t*>(dst) + buffered, n - buffered);
        return ReadFileAt(m_file, offset + buffered, static_cast<uint8_t*>(dst) + buffered, n - buffered);
    }
    if (!FillTo(end)) return false;
    std::memcpy(dst, m_buffer.get() + offset, n);
    return true;
}

bool CDicomHeader::AttachFile(std::FILE* file) {
    m_file = file;
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(file);
    if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
    m_fileSize = uint64_t(end);
    // The buffer is filled from the open file as the parse advances (FillTo);
    // without a buffer the parser reads from the file itself. A file that
    // yields fewer bytes than its size fails the parse either way.
    m_buffer.reset(static_cast<uint8_t*>(AllocBlock(m_fileSize)));
    m_filled = 0;
    return true;
}

bool CDicomHeader::AttachMemory(const uint8_t* data, std::size_t size) {
    m_fileSize = size;
    m_buffer.reset(static_cast<uint8_t*>(AllocBlock(size)));
    if (!m_buffer) return false;
    if (size) std::memcpy(m_buffer.get(), data, size);
    m_filled = size;
    return true;
}

void CDicomHeader::ReleaseSource() {
    m_buffer.reset();
    m_filled = 0;
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}
