// Whole saves, plain and enciphered, with and without both backups, each beside the floor of
// writing the same bytes once with fsync, measured in the same iterations. floor_ratio divides
// the save by the floor times the number of files the save writes, so that the backups' own
// bytes are counted in the floor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "util.h"

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

void BM_SaveDocument(benchmark::State& st) {
    const std::size_t bytes = static_cast<std::size_t>(st.range(0)) * kMiB;
    const bool cipher = st.range(1) != 0;
    const bool backups = st.range(2) != 0;
    const std::string folder = TempFolder();
    const std::string text = MakeDocument(bytes);

    ResetState();
    PlainSession p;
    p.buffer.AssignText(text);
    SplitSections(p.session);
    State& s = state();
    s.FileName = folder + "/doc.vlp";
    s.Enciphered = cipher;
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "a typed key"}; };
    s.BackupCurr = backups;
    SaveDocument(p.session);  // the old file that "-prev" copies

    const std::string floorPath = folder + "/floor.vlp";
    const int files = backups ? 3 : 1;
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        int fd = ::open(floorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, text.data(), text.size()));
        ::fsync(fd);
        ::close(fd);
        floor += Seconds(t0);

        s.BackupPrev = backups;
        t0 = Clock::now();
        SaveDocument(p.session);
        double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
    st.counters["floor_ratio"] = op / (floor * files);
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
}

BENCHMARK(BM_SaveDocument)
    ->ArgNames({"MiB", "cipher", "backups"})
    ->ArgsProduct({{10, 100}, {0, 1}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
