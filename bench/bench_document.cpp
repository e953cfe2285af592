// Reading, splitting, joining and writing whole documents, each beside the floor of moving the
// same bytes with the fewest system calls, measured in the same iterations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "core/Cipher.h"
#include "core/Document.h"
#include "core/FileIO.h"
#include "util.h"

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

struct Fixture {
    explicit Fixture(std::size_t bytes) : folder(TempFolder()) {
        path = folder + "/doc.vlp";
        text = MakeDocument(bytes);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, text.data(), text.size()));
        ::close(fd);
    }
    std::string folder;
    std::string path;
    std::string text;
};

void Report(benchmark::State& st, std::size_t bytes, double op, double floor) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_MiB/s"] = static_cast<double>(st.iterations() * bytes) / kMiB / floor;
}

void BM_ReadAndSplit(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        auto raw = ReadWholeFile(f.path);
        benchmark::DoNotOptimize(raw->data());
        floor += Seconds(t0);
        raw.reset();

        ResetState();
        PlainSession p;
        t0 = Clock::now();
        ReadDocument(f.path, p.buffer);
        SplitSections(p.session);
        double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
    }
    Report(st, f.text.size(), op, floor);
}

void BM_JoinAndWrite(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    ResetState();
    PlainSession p;
    ReadDocument(f.path, p.buffer);
    SplitSections(p.session);
    const std::string out = f.folder + "/out.vlp";
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, f.text.data(), f.text.size()));
        ::fsync(fd);
        ::close(fd);
        floor += Seconds(t0);

        t0 = Clock::now();
        JoinSections(p.session);
        WriteDocument(out, p.buffer);
        double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
    }
    Report(st, f.text.size(), op, floor);
}

void BM_Encipher(benchmark::State& st) {
    std::string text = MakeDocument(static_cast<std::size_t>(st.range(0)) * kMiB);
    const std::string key = "a typed key";
    for (auto _ : st) {
        KeyIndex index;
        EncipherLine(text, key, index);
        benchmark::DoNotOptimize(text.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
}

BENCHMARK(BM_ReadAndSplit)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinAndWrite)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encipher)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
