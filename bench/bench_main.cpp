#include <benchmark/benchmark.h>

#ifdef VELLORAN_BENCH_QT
#include <QApplication>
#include <cstdlib>
#endif

int main(int argc, char** argv) {
#ifdef VELLORAN_BENCH_QT
    // The window benchmarks measure real widgets without needing a display.
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
