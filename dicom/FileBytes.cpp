#include "dicom/FileBytes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::shared_ptr<quillon::FileBytes> quillon::FileBytes::FromDescriptor(int fd) {
    std::shared_ptr<quillon::FileBytes> bytes(new quillon::FileBytes);
    bytes->m_fd = fd;
    if (!bytes->Refresh()) return nullptr;
    return bytes;
}

std::shared_ptr<quillon::FileBytes> quillon::FileBytes::FromMemory(const uint8_t* data, std::size_t size) {
    std::shared_ptr<quillon::FileBytes> bytes(new quillon::FileBytes);
    bytes->m_memory.reset(static_cast<uint8_t*>(quillon::AllocBlock(size)));
    if (!bytes->m_memory) return nullptr;
    if (size) std::memcpy(bytes->m_memory.get(), data, size);
    bytes->m_size = bytes->m_diskSize = size;
    return bytes;
}

quillon::FileBytes::~FileBytes() {
    if (m_fd >= 0) ::close(m_fd);
}

bool quillon::FileBytes::Stat(uint64_t* size, int64_t* mtimeNs) const {
    struct stat st {};
    if (m_fd < 0 || fstat(m_fd, &st) != 0 || st.st_size < 0) return false;
    *size = uint64_t(st.st_size);
    *mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool quillon::FileBytes::Refresh() {
    if (m_memory) return true;
    uint64_t size = 0;
    int64_t mtime = 0;
    if (!Stat(&size, &mtime)) return false;
    {
        std::lock_guard<std::mutex> lock(m_cacheLock);
        for (Page& page : m_pages) page = Page{};
    }
    m_diskSize = size;
    m_size = m_inflated ? m_inflatedFrom + m_inflated->Size() : size;
    m_mtimeNs = mtime;
    m_shortRead = false;
    return true;
}

bool quillon::FileBytes::Changed() const {
    if (m_memory) return false;
    if (m_shortRead) return true;
    uint64_t size = 0;
    int64_t mtime = 0;
    if (!Stat(&size, &mtime)) return true;
    return size != m_diskSize || mtime != m_mtimeNs;
}

bool quillon::FileBytes::Replaced() const {
    if (m_memory || m_path.empty()) return false;
    struct stat open {};
    struct stat named {};
    if (m_fd < 0 || fstat(m_fd, &open) != 0) return true;
    if (::stat(m_path.c_str(), &named) != 0) return true;
    return open.st_dev != named.st_dev || open.st_ino != named.st_ino;
}

bool quillon::FileBytes::UseCache(quillon::HeapPtr<uint8_t> block) {
    if (!block) return false;
    std::lock_guard<std::mutex> lock(m_cacheLock);
    m_cache = std::move(block);
    for (Page& page : m_pages) page = Page{};
    return true;
}

bool quillon::FileBytes::ReadFile(uint64_t offset, uint8_t* dst, std::size_t n) const {
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, dst, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // The file ends before the size it had: it shrank.
            if (got == 0) m_shortRead = true;
            return false;
        }
        dst += got;
        offset += uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

void quillon::FileBytes::AttachInflated(uint64_t from, std::shared_ptr<const InflatedBytes> inflated) {
    if (!inflated) return;
    m_inflatedFrom = std::min(from, m_diskSize);
    m_inflated = std::move(inflated);
    m_size = m_inflatedFrom + m_inflated->Size();
}

bool quillon::FileBytes::Read(uint64_t offset, void* dst, std::size_t n) const {
    if (n > m_size || offset > m_size - n) return false;
    if (n == 0) return true;
    auto* out = static_cast<uint8_t*>(dst);
    if (m_inflated && offset + n > m_inflatedFrom) {
        // The file's bytes before the inflated ones, then those.
        const std::size_t head = offset < m_inflatedFrom ? std::size_t(m_inflatedFrom - offset) : 0;
        if (head && !ReadDisk(offset, out, head)) return false;
        return m_inflated->Read(offset + head - m_inflatedFrom, out + head, n - head);
    }
    return ReadDisk(offset, out, n);
}

bool quillon::FileBytes::ReadDisk(uint64_t offset, uint8_t* out, std::size_t n) const {
    if (m_memory) {
        std::memcpy(out, m_memory.get() + offset, n);
        return true;
    }
    // Large reads go straight to their target; the cache serves small ones
    // (the hex view's rows, value texts), which come back to the same pages.
    if (n >= kPageSize) return ReadFile(offset, out, n);

    std::lock_guard<std::mutex> lock(m_cacheLock);
    if (!m_cache) {
        m_cache.reset(static_cast<uint8_t*>(quillon::AllocBlock(kCacheBytes)));
        if (!m_cache) return ReadFile(offset, out, n);
    }
    while (n > 0) {
        const uint64_t index = offset / kPageSize;
        Page* page = nullptr;
        for (Page& p : m_pages)
            if (p.index == index) page = &p;
        if (!page) {
            page = &m_pages[0];
            for (Page& p : m_pages)
                if (p.used < page->used) page = &p;
            const std::size_t slot = std::size_t(page - m_pages);
            const uint64_t start = index * kPageSize;
            const std::size_t bytes = std::size_t(std::min<uint64_t>(kPageSize, m_diskSize - start));
            page->index = UINT64_MAX;
            // A page the file no longer holds whole (it shrank): the bytes
            // asked for may still be there.
            if (!ReadFile(start, m_cache.get() + slot * kPageSize, bytes)) return ReadFile(offset, out, n);
            page->index = index;
            page->bytes = bytes;
        }
        page->used = ++m_clock;
        const std::size_t slot = std::size_t(page - m_pages);
        const std::size_t within = std::size_t(offset - index * kPageSize);
        const std::size_t take = std::min(n, page->bytes - within);
        std::memcpy(out, m_cache.get() + slot * kPageSize + within, take);
        out += take;
        offset += take;
        n -= take;
    }
    return true;
}
