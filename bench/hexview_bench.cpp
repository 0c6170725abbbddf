// Repaint cost of the hex view over a 1 KiB and a 1 GiB buffer: only the
// visible rows are formatted and drawn, so both should cost the same. The
// 1 GiB buffer is an anonymous MAP_NORESERVE mapping: only the page under the
// view is ever written, the rest is never backed by memory.
//
// After the runs the ratios of the two repaint times (best of the
// repetitions, wall clock and CPU) are printed; use --benchmark_repetitions.
#include "hexview/MCWndHexEditor.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr int kRows = 40;

class Mapping {
public:
    explicit Mapping(quint64 size) : m_size(size) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    }
    ~Mapping() {
        if (m_data) munmap(m_data, m_size);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    std::uint8_t* data() const { return m_data; }

private:
    std::uint8_t* m_data = nullptr;
    quint64 m_size;
};

// One repaint of the whole widget (header, client area, scroll bar) into an
// image, with a highlight over the whole buffer and the same bytes in view:
// the 1 KiB view at its top, the 1 GiB view in the middle.
void BM_Repaint(benchmark::State& state, quint64 size) {
    Mapping buffer(size);
    if (!buffer.data()) {
        state.SkipWithError("mmap failed");
        return;
    }
    MCWndHexEditor view;
    view.resize(640, view.GetLineHeight() + 3 + kRows * view.GetLineHeight());
    view.SetData(buffer.data(), size);
    view.show();

    const quint64 top = size > 1024 ? (size / 2) & ~quint64(15) : 0;
    for (quint64 i = 0; i < 16 * kRows && top + i < size; ++i)
        buffer.data()[top + i] = static_cast<std::uint8_t>(i * 37 + 11);
    view.SetHighlight(0, size - 1);
    view.VerticalScrollBar()->setValue(static_cast<int>(top / 16));
    if (view.GetFirstLine() != top / 16) {
        state.SkipWithError("scroll position not reached");
        return;
    }

    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["rows"] = view.GetVisibleLines();
}

BENCHMARK_CAPTURE(BM_Repaint, 1KiB, quint64(1) << 10)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Repaint, 1GiB, quint64(1) << 30)->Unit(benchmark::kMicrosecond);

// Console output plus the best time per repaint of each benchmark over its
// repetitions, wall clock and CPU, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double real = 0;
        double cpu = 0;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs; with --benchmark_report_aggregates_only the medians.
            const bool single = run.run_type == Run::RT_Iteration;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((!single && !median) || run.error_occurred) continue;
            const Times t{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            auto [it, added] = times.try_emplace(run.run_name.str(), t);
            if (!added) {
                it->second.real = std::min(it->second.real, t.real);
                it->second.cpu = std::min(it->second.cpu, t.cpu);
            }
        }
    }
    std::map<std::string, Times> times;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto small = reporter.times.find("BM_Repaint/1KiB");
    const auto large = reporter.times.find("BM_Repaint/1GiB");
    if (small != reporter.times.end() && large != reporter.times.end() && small->second.real > 0 &&
        small->second.cpu > 0) {
        std::printf("repaint time ratio, 1 GiB / 1 KiB: %.3f wall clock, %.3f CPU\n",
                    large->second.real / small->second.real, large->second.cpu / small->second.cpu);
    }
    return 0;
}
