#pragma once
// quillon-dump over many files: folders recursed, "-" for paths on standard
// input, the files read on a few threads at once and their outputs written
// whole, in the order the paths were given.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/DumpFile.h"

namespace quillon {

// The files the arguments name, in order: a file as it is, a folder's
// regular files at any depth sorted by path, "-" the lines of standard input
// (empty ones left out). A folder that cannot be listed is named as it is,
// so that reading it fails with its reason.
std::vector<std::string> ExpandPaths(const std::vector<std::string>& arguments, std::FILE* input);

// Dumps each file with `options` (its path in the file field) on `threads`
// threads (0: one per core), writing each file's output through `write` as
// one block and its error lines, after the path and a TAB, to `errors`;
// then a summary on `errors`. 0 when every file was read whole without a
// problem, 1 otherwise (also when the output could not be written).
int DumpManyFiles(const std::vector<std::string>& paths, DumpOptions options,
                  const std::function<bool(std::string_view)>& write, std::FILE* errors, unsigned threads = 0);

}  // namespace quillon
