// Load time of CDicomFile::Load against the floor of reading the same file
// into a freshly allocated buffer, for every file named on the command line.
//
//   loader_bench [benchmark flags] FILE...
//       Google Benchmark runs "read/FILE" and "load/FILE"; load reports the
//       number of elements (tree nodes other than items) and nodes, and the
//       elements per second.
//   loader_bench --once read|load FILE
//       One read or one load and nothing else, so that the peak memory of the
//       process (/usr/bin/time -v, or the "max RSS" line printed here) belongs
//       to that operation alone.
//
// bench/bench_loader.sh runs both, with dcmdump, gdcmdump and quillon-dump.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/HeapBlock.h"

namespace {

// The floor: open, size, allocate, read everything, free.
bool ReadWhole(const char* path, uint64_t* bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    bool ok = fseeko(f, 0, SEEK_END) == 0;
    const off_t size = ok ? ftello(f) : -1;
    ok = ok && size >= 0 && fseeko(f, 0, SEEK_SET) == 0;
    if (ok) {
        quillon::HeapPtr<uint8_t> buffer(static_cast<uint8_t*>(quillon::AllocBlock(uint64_t(size))));
        ok = buffer && std::fread(buffer.get(), 1, uint64_t(size), f) == uint64_t(size);
        if (ok) benchmark::DoNotOptimize(buffer.get()[size ? size - 1 : 0]);
    }
    std::fclose(f);
    *bytes = ok ? uint64_t(size) : 0;
    return ok;
}

struct Counts {
    uint64_t nodes = 0;
    uint64_t elements = 0;
};

Counts CountNodes(const CDicomFile& file) {
    Counts c;
    std::vector<const CDicomTag*> stack;
    for (const auto& t : file.Elements()) stack.push_back(t.get());
    while (!stack.empty()) {
        const CDicomTag* n = stack.back();
        stack.pop_back();
        ++c.nodes;
        if (!n->IsItem()) ++c.elements;
        // Children without children are counted where they are, so that
        // children held compactly (fragments) need no node that stays.
        std::unique_ptr<CDicomTag> scratch;
        for (std::size_t i = 0; i < n->ChildCount(); ++i) {
            const CDicomTag* child = n->PeekChild(i, scratch);
            if (!child) continue;
            if (child->ChildCount() != 0) {
                stack.push_back(n->Child(i));
                continue;
            }
            ++c.nodes;
            if (!child->IsItem()) ++c.elements;
        }
    }
    return c;
}

void BM_Read(benchmark::State& state, std::string path) {
    uint64_t bytes = 0;
    for (auto _ : state) {
        if (!ReadWhole(path.c_str(), &bytes)) {
            state.SkipWithError("cannot read the file");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(bytes) * int64_t(state.iterations()));
}

void BM_Load(benchmark::State& state, std::string path) {
    Counts counts;
    uint64_t bytes = 0;
    for (auto _ : state) {
        auto file = std::make_unique<CDicomFile>();
        if (!file->Load(path)) {
            state.SkipWithError("Load failed");
            return;
        }
        state.PauseTiming();
        counts = CountNodes(*file);
        file.reset();
        state.ResumeTiming();
    }
    ReadWhole(path.c_str(), &bytes);
    state.SetBytesProcessed(int64_t(bytes) * int64_t(state.iterations()));
    state.SetItemsProcessed(int64_t(counts.elements) * int64_t(state.iterations()));
    state.counters["elements"] = double(counts.elements);
    state.counters["nodes"] = double(counts.nodes);
}

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// In a fresh process: the time of the operation alone (the freeing of a
// loaded file is timed apart), and the peak memory of the process.
int Once(const char* what, const char* path) {
    uint64_t bytes = 0;
    Counts counts;
    double seconds = 0, freeing = 0;
    if (std::strcmp(what, "read") == 0) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!ReadWhole(path, &bytes)) return 1;
        seconds = Since(t0);
    } else if (std::strcmp(what, "load") == 0) {
        auto file = std::make_unique<CDicomFile>();
        const auto t0 = std::chrono::steady_clock::now();
        if (!file->Load(path)) return 1;
        seconds = Since(t0);
        counts = CountNodes(*file);
        const auto t1 = std::chrono::steady_clock::now();
        file.reset();
        freeing = Since(t1);
    } else {
        std::fprintf(stderr, "--once takes read or load\n");
        return 2;
    }
    std::printf("%s %s: %.4f s (freeing %.4f s), max RSS %ld KiB, %llu elements, %llu nodes\n", what, path, seconds,
                freeing, MaxRssKiB(), (unsigned long long)counts.elements, (unsigned long long)counts.nodes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--once") == 0) return Once(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] FILE...\n       %s --once read|load FILE\n", argv[0],
                     argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        benchmark::RegisterBenchmark(("read/" + path).c_str(), BM_Read, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("load/" + path).c_str(), BM_Load, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
