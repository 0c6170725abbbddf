#pragma once
// quillon-dump --diff: two files opened as the viewer opens them, compared
// (quillon::DiffDataSets), and the differences as lines of text.
#include <filesystem>
#include <optional>
#include <string>

#include "document/DataSetDiff.h"

namespace quillon {

// The differences of two files; none when one cannot be read (why, in `error`).
std::optional<DataSetDiff> DiffFiles(const std::filesystem::path& a, const std::filesystem::path& b,
                                     std::string& error);

// One TAB-separated line per entry: kind (added, removed, changed, shift),
// tag path, A's tag offset, B's tag offset ("-" where the element is not),
// what changed (changed: value, VR, length joined by ","; shift: the shift,
// signed), then A's and B's element as "VR length value".
std::string DiffText(const DataSetDiff& diff);

}  // namespace quillon
