#include "dicom/OpenFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quillon {

namespace {

std::string SystemText(int error) { return std::generic_category().message(error); }

// A path that stat or open refused, by errno.
Status PathFailure(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return Status::Fail(Reason::NotFound, "There is no file at this path.");
        case ELOOP:
        case ENAMETOOLONG:
            return Status::Fail(Reason::NotFound, "No file can be reached at this path: " + SystemText(error) + ".");
        case EACCES:
        case EPERM:
            return Status::Fail(Reason::PermissionDenied,
                                "The system does not let the file be opened for reading: " + SystemText(error) + ".");
        default: return CannotReadFile(error);
    }
}

// What the path names when it is no regular file.
Status NotARegularFile(mode_t mode) {
    if (S_ISDIR(mode)) return Status::Fail(Reason::Directory, "The path names a folder, not a file.");
    const char* kind = S_ISFIFO(mode)   ? "a named pipe"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a special file";
    return Status::Fail(Reason::NotRegularFile, std::string("The path names ") + kind + ", not a regular file.");
}

}  // namespace

Status OpenForReading(const std::filesystem::path& path, int* fd) {
    *fd = -1;
    // Looked at before it is opened: opening a device can have effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathFailure(errno);
    if (!S_ISREG(st.st_mode)) return NotARegularFile(st.st_mode);
    // Opened without blocking, because opening a named pipe for reading would
    // otherwise wait for a writer; a regular file reads the same either way.
    const int opened = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) return PathFailure(errno);
    // The path may name something else by now: what was opened counts.
    if (::fstat(opened, &st) != 0) {
        const int error = errno;
        ::close(opened);
        return CannotReadFile(error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(opened);
        return NotARegularFile(st.st_mode);
    }
    *fd = opened;
    return {};
}

Status CannotReadFile(int error) {
    return Status::Fail(Reason::CannotRead, "The file cannot be read: " + SystemText(error) + ".");
}

Status RefusedBytes(uint64_t size, const SLoadProblem& stop) {
    if (size == 0) return Status::Fail(Reason::Empty, "The file is empty.");
    return Status::Fail(Reason::NotDicom, StopSentence(stop));
}

Status OutOfMemory() { return Status::Fail(Reason::NoMemory, "There is not enough memory to load the file."); }

std::string StopSentence(const SLoadProblem& stop) {
    char head[80];
    int n =
        std::snprintf(head, sizeof head, "Reading stopped at byte %llu", static_cast<unsigned long long>(stop.offset));
    if (stop.group != 0 || stop.element != 0)
        n += std::snprintf(head + n, sizeof head - std::size_t(n), ", element (%04X,%04X)", stop.group, stop.element);
    return std::string(head, std::size_t(n)) + ": " + stop.text + ".";
}

}  // namespace quillon
