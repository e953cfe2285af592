// Reading, splitting, joining and writing whole documents, each beside the floor of moving the
// same bytes with the fewest system calls, measured in the same iterations. The sections go
// into the compact store the document window keeps them in until their editors are shown.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "core/document/SectionStore.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
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

// The floor of a read: the file's bytes into fresh memory of their size, nothing more.
std::size_t ReadFloor(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat info {};
    ::fstat(fd, &info);
    const auto size = static_cast<std::size_t>(info.st_size);
    std::unique_ptr<char[]> bytes(new char[size]);
    std::size_t got = 0;
    for (ssize_t n; got < size && (n = ::read(fd, bytes.get() + got, size - got)) > 0;) {
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(bytes.get());
    return got;
}

// A session whose sections go into the store, as in the program.
struct StoreSession {
    SectionStore store;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), store, list, buffer, dialogs};
};

void BM_ReadAndSplit(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(ReadFloor(f.path));
        floor += Seconds(t0);

        ResetState();
        auto p = std::make_unique<StoreSession>();
        t0 = Clock::now();
        ReadDocument(f.path, p->buffer);
        SplitSections(p->session);
        double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
    }
    Report(st, f.text.size(), op, floor);
}

void BM_JoinAndWrite(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    ResetState();
    StoreSession p;
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
