#include "tools/ManyFiles.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace quillon {

std::vector<std::string> ExpandPaths(const std::vector<std::string>& arguments, std::FILE* input) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            std::string line;
            int c;
            while ((c = std::fgetc(input)) != EOF) {
                if (c != '\n') {
                    line += char(c);
                    continue;
                }
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty()) paths.push_back(line);
                line.clear();
            }
            if (!line.empty()) paths.push_back(line);
            continue;
        }
        std::error_code ec;
        if (!fs::is_directory(argument, ec)) {
            paths.push_back(argument);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(argument, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            paths.push_back(argument);
            continue;
        }
        for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) break;
            std::error_code typeError;
            if (it->is_regular_file(typeError)) found.push_back(it->path().string());
        }
        std::sort(found.begin(), found.end());
        paths.insert(paths.end(), found.begin(), found.end());
    }
    return paths;
}

namespace {

struct FileResult {
    std::string output;
    DumpOutcome outcome;
};

// Puts the path and a TAB before each line of `text`.
std::string Prefixed(const std::string& path, const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        out += path;
        out += '\t';
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

}  // namespace

int DumpManyFiles(const std::vector<std::string>& paths, DumpOptions options,
                  const std::function<bool(std::string_view)>& write, std::FILE* errors, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<std::size_t>(threads, std::max<std::size_t>(paths.size(), 1)));
    // Files are taken in order; a file is started only while fewer than
    // `window` outputs wait to be written, so that memory holds a few
    // files' outputs however many files there are.
    const std::size_t window = std::size_t(threads) * 2;
    std::mutex lock;
    std::condition_variable changed;
    std::size_t next = 0;     // the next file to start
    std::size_t written = 0;  // files written so far
    bool stop = false;        // the output cannot be written: start no more
    std::map<std::size_t, FileResult> done;

    auto work = [&] {
        for (;;) {
            std::size_t index;
            {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] { return stop || next >= paths.size() || next < written + window; });
                if (stop || next >= paths.size()) return;
                index = next++;
            }
            FileResult result;
            DumpOptions fileOptions = options;
            fileOptions.file = paths[index];
            try {
                result.outcome = DumpFile(paths[index], fileOptions, [&](std::string_view text, bool) {
                    result.output += text;
                    return true;
                });
            } catch (const std::bad_alloc&) {
                // Its output so far would be a part; the file counts as refused.
                result = FileResult();
                result.outcome.exit = 1;
                result.outcome.refused = true;
                result.outcome.refusal = "NoMemory";
                result.outcome.errors = "Memory allocation error\n";
            }
            std::lock_guard guard(lock);
            done.emplace(index, std::move(result));
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < threads; ++i) pool.emplace_back(work);

    std::size_t read = 0, withProblems = 0, refused = 0;
    std::map<std::string, std::size_t> refusals;
    bool writeFailed = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        FileResult result;
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return done.count(i) != 0; });
            result = std::move(done[i]);
            done.erase(i);
        }
        if (!writeFailed && !write(result.output)) {
            writeFailed = true;
            std::lock_guard guard(lock);
            stop = true;
        }
        if (!result.outcome.errors.empty()) {
            std::fputs(Prefixed(paths[i], result.outcome.errors).c_str(), errors);
            std::fflush(errors);
        }
        if (result.outcome.refused) {
            ++refused;
            ++refusals[result.outcome.refusal];
        } else {
            ++read;
        }
        if (result.outcome.problems) ++withProblems;
        {
            std::lock_guard guard(lock);
            ++written;
        }
        changed.notify_all();
        if (writeFailed) break;
    }
    for (std::thread& t : pool) t.join();

    std::string summary = "quillon-dump: " + std::to_string(paths.size()) + (paths.size() == 1 ? " file, " : " files, ") +
                          std::to_string(read) + " read, " + std::to_string(withProblems) + " with problems, " +
                          std::to_string(refused) + " refused";
    if (!refusals.empty()) {
        summary += " (";
        bool first = true;
        for (const auto& [code, count] : refusals) {
            if (!first) summary += ", ";
            first = false;
            summary += code + ' ' + std::to_string(count);
        }
        summary += ')';
    }
    std::fprintf(errors, "%s\n", summary.c_str());
    return writeFailed || withProblems || refused ? 1 : 0;
}

}  // namespace quillon
