#pragma once
// The bytes of one loaded file, read where they lie: positioned reads of the
// open file through a small cache of pages, never a copy of the whole file.
// The loader parses through it, and the document, the hex view and the value
// texts read from it for as long as the file is shown. A file that shrinks or
// is rewritten while it is open yields failed reads, never a crash, and
// Changed() tells so.
//
// A file in the deflated transfer syntax is shown as its file meta
// information followed by its inflated data set (AttachInflated): offsets
// from InflatedFrom() on are positions in the inflated bytes, which are held
// in memory, and everyone who reads the source sees that layout.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "dicom/HeapBlock.h"
#include "dicom/InflatedDataSet.h"

namespace quillon {

class FileBytes {
public:
    // Pages of the cache and their count: 16 x 64 KiB = 1 MiB at most.
    static constexpr std::size_t kPageSize = 64 * 1024;
    static constexpr std::size_t kPageCount = 16;
    static constexpr std::size_t kCacheBytes = kPageSize * kPageCount;

    // Takes the open descriptor of a regular file (closed with the object);
    // null when its size cannot be taken.
    static std::shared_ptr<FileBytes> FromDescriptor(int fd);
    // A copy of bytes already in memory (tools and tests).
    static std::shared_ptr<FileBytes> FromMemory(const uint8_t* data, std::size_t size);

    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();

    // The bytes shown: the size of the file when it was opened (or last
    // Refresh); with inflated bytes attached, InflatedFrom() plus their size.
    uint64_t Size() const { return m_size; }
    // The size of the file itself, as Size() without inflated bytes.
    uint64_t DiskSize() const { return m_diskSize; }

    // From `from` on (at most the file's size), the bytes shown are
    // `inflated` instead of the file's: Size() becomes from plus their size.
    // Called once, by the loader, before anyone else reads the source.
    void AttachInflated(uint64_t from, std::shared_ptr<const InflatedBytes> inflated);
    // Where the inflated bytes begin; UINT64_MAX when none are attached.
    uint64_t InflatedFrom() const { return m_inflated ? m_inflatedFrom : UINT64_MAX; }
    bool HasInflated() const { return m_inflated != nullptr; }
    const InflatedBytes* Inflated() const { return m_inflated.get(); }

    // Copies n bytes at offset into dst. False when they lie outside Size()
    // or the file no longer holds them (it shrank): then Changed() is true.
    // Safe from several threads at once.
    bool Read(uint64_t offset, void* dst, std::size_t n) const;

    // True once the file on disk no longer matches what was opened: a read
    // came back short, or its size or modification time differ.
    bool Changed() const;

    // Takes the file as it is now: its current size and time become the
    // ones compared against. False when the file cannot be examined.
    bool Refresh();

    // The path the file was opened by, for Replaced(); none by default.
    void WatchPath(std::filesystem::path path) { m_path = std::move(path); }
    // True when the watched path no longer names the open file: it was
    // deleted, or another file took its place (written anew and renamed over
    // it, as editors do). The open file itself may be unchanged.
    bool Replaced() const;

    // Gives the cache its block of kCacheBytes (otherwise allocated on first
    // use). False for a null block.
    bool UseCache(quillon::HeapPtr<uint8_t> block);

private:
    FileBytes() = default;
    bool Stat(uint64_t* size, int64_t* mtimeNs) const;
    bool ReadFile(uint64_t offset, uint8_t* dst, std::size_t n) const;
    bool ReadDisk(uint64_t offset, uint8_t* out, std::size_t n) const;

    int m_fd = -1;
    uint64_t m_size = 0;
    uint64_t m_diskSize = 0;
    uint64_t m_inflatedFrom = 0;
    std::shared_ptr<const InflatedBytes> m_inflated;
    int64_t m_mtimeNs = 0;
    quillon::HeapPtr<uint8_t> m_memory;  // the bytes themselves, for FromMemory
    std::filesystem::path m_path;        // see WatchPath
    mutable std::atomic<bool> m_shortRead{false};

    struct Page {
        uint64_t index = UINT64_MAX;  // page number in the file; UINT64_MAX: empty
        uint64_t used = 0;            // last use, for eviction
        std::size_t bytes = 0;        // bytes valid (the last page may be short)
    };
    mutable std::mutex m_cacheLock;
    mutable quillon::HeapPtr<uint8_t> m_cache;
    mutable Page m_pages[kPageCount];
    mutable uint64_t m_clock = 0;
};

}  // namespace quillon
