// The bytes of the file being parsed: one CFileBytes, shared with whoever
// shows the file afterwards, and the parser's window over it with the cursor.
#include "dicom/DicomHeader.h"

#include <algorithm>
#include <cstring>

using quillon::AllocBlock;

namespace {

// The parser reads the file through a window of this many bytes, moved
// forward as the parse advances.
constexpr std::size_t kWindowBytes = 256 * 1024;
// Reads of at least this many bytes (large values, the frames of native
// pixel data) go straight from the file to their target.
constexpr std::size_t kDirectRead = 64 * 1024;

}  // namespace

bool CDicomHeader::CopyAtSlow(uint64_t offset, void* dst, std::size_t n) const {
    if (!m_source || n > m_fileSize || offset > m_fileSize - n) return false;
    if (n == 0) return true;
    if (n >= kDirectRead) return m_source->Read(offset, dst, n);
    if (!MoveWindow(offset, n)) return false;
    std::memcpy(dst, m_window.get() + (offset - m_windowStart), n);
    return true;
}

bool CDicomHeader::MoveWindow(uint64_t offset, uint64_t n) const {
    if (!m_source || n > kWindowBytes || n > m_fileSize || offset > m_fileSize - n) return false;
    if (!m_window) {
        m_window.reset(static_cast<uint8_t*>(AllocBlock(kWindowBytes)));
        if (!m_window) return false;
    }
    const std::size_t bytes = std::size_t(std::min<uint64_t>(kWindowBytes, m_fileSize - offset));
    m_windowStart = m_windowEnd = 0;
    if (!m_source->Read(offset, m_window.get(), bytes)) return false;
    m_windowStart = offset;
    m_windowEnd = offset + bytes;
    return true;
}

const uint8_t* CDicomHeader::WindowBytes(uint64_t offset, uint64_t n) const {
    if (n > kWindowBytes) return nullptr;
    if (!(offset >= m_windowStart && n <= m_windowEnd - m_windowStart &&
          offset - m_windowStart <= m_windowEnd - m_windowStart - n))
        if (!MoveWindow(offset, n)) return nullptr;
    return m_window.get() + (offset - m_windowStart);
}

bool CDicomHeader::AttachFile(int fd) {
    m_source = CFileBytes::FromDescriptor(fd);
    if (!m_source) return false;
    m_fileSize = m_source->Size();
    m_windowStart = m_windowEnd = 0;
    return true;
}

bool CDicomHeader::AttachMemory(const uint8_t* data, std::size_t size) {
    m_source = CFileBytes::FromMemory(data, size);
    if (!m_source) return false;
    m_fileSize = size;
    m_windowStart = m_windowEnd = 0;
    return true;
}

void CDicomHeader::ReleaseSource() {
    // The window goes; the source stays for whoever shows the file.
    m_window.reset();
    m_windowStart = m_windowEnd = 0;
}

void CDicomHeader::DetachSource() {
    ReleaseSource();
    m_source.reset();
}
