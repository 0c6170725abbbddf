// Finding a byte pattern over a whole large file, as the find bar does: the
// file read where it lies in blocks and scanned with memmem. The target is
// under a second for bench/data/multiframe.dcm (500 MiB, make_bench_files.py)
// with the file in the page cache. The pattern is one that is not there, so
// that every byte is read and scanned.
//   byte_find_bench [FILE] [benchmark options]
#include <benchmark/benchmark.h>

#include <fcntl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dicom/FileBytes.h"
#include "document/ByteSearch.h"

namespace {

std::string g_path = "bench/data/multiframe.dcm";

void BM_FindAbsentPattern(benchmark::State& state) {
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto bytes = fd >= 0 ? quillon::FileBytes::FromDescriptor(fd) : nullptr;
    if (!bytes) {
        state.SkipWithError(("cannot open " + g_path).c_str());
        return;
    }
    const std::vector<uint8_t> pattern{0xFE, 0xFF, 0x0D, 0xE0, 0x5A, 0xA5};
    for (auto _ : state) {
        const quillon::ByteFindResult r = quillon::FindBytes(*bytes, bytes->Size(), 0, pattern);
        benchmark::DoNotOptimize(r.offset);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes->Size()));
}
BENCHMARK(BM_FindAbsentPattern)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) g_path = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
