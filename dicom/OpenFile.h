#pragma once
// Why a file gives the loader nothing to parse, decided and worded in one
// place: opening a path for reading (only a regular file is opened), and the
// reason of bytes the parser refused. Whoever shows a failure takes its
// sentence from here.
#include <cstdint>
#include <filesystem>
#include <string>

#include "dicom/LoadProblems.h"
#include "dicom/Status.h"

namespace quillon {

// Opens a regular file for reading, without blocking (a named pipe that took
// the file's place between the look and the open is not waited on). Success:
// *fd is the open descriptor, the caller's to close or hand on. Otherwise *fd
// is -1 and the reason is NotFound, Directory, NotRegularFile,
// PermissionDenied or CannotRead (the last two with the system's own text).
Status OpenForReading(const std::filesystem::path& path, int* fd);

// A regular file whose size or bytes cannot be taken: CannotRead with the
// system's text for errno `error`.
Status CannotReadFile(int error);

// The reason of `size` bytes the parser refused, `stop` being where it
// stopped: Empty when there are no bytes, else NotDicom with StopSentence.
Status RefusedBytes(uint64_t size, const SLoadProblem& stop);

// An allocation failed while loading.
Status OutOfMemory();

// Where and why a parse stopped, as one sentence: "Reading stopped at byte
// 2092, element (300A,012C): the last element is cut off by the end of the
// file." (without the element when none was read).
std::string StopSentence(const SLoadProblem& stop);

}  // namespace quillon
