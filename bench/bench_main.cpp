#include <benchmark/benchmark.h>

#ifdef VELLORAN_BENCH_QT
#include <QApplication>
#include <cstdlib>

namespace velloran::bench {
bool RunMemoryProbe(int argc, char** argv);
#ifdef VELLORAN_PROGRAM
bool RunReadSplitProbe(int argc, char** argv);
#endif
void ReleaseWindows();
void ReleaseEncodingWindows();
}  // namespace velloran::bench
#endif

int main(int argc, char** argv) {
#ifdef VELLORAN_BENCH_QT
    // The window benchmarks measure real widgets without needing a display.
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication app(argc, argv);
    if (velloran::bench::RunMemoryProbe(argc, argv)) {
        return 0;
    }
#ifdef VELLORAN_PROGRAM
    if (velloran::bench::RunReadSplitProbe(argc, argv)) {
        return 0;
    }
#endif
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef VELLORAN_BENCH_QT
    velloran::bench::ReleaseWindows();
    velloran::bench::ReleaseEncodingWindows();
#endif
    return 0;
}
