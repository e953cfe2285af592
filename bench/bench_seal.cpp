// Sealed documents beside plain ones: saving and opening the same sections in the same
// iterations, with the key derived once beforehand as the run keeps it; plain_ratio is sealed
// time over plain time. The key derivation itself is measured apart, with the editor's parameters.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/DocumentFile.h"
#include "util.h"

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

constexpr const char* kPassphrase = "a typed passphrase";

// A document in the sections, with the run's key in use and both files on disk.
struct Fixture {
    explicit Fixture(std::size_t size) : folder(TempFolder()) {
        ResetState();
        p.buffer.AssignText(MakeDocument(size));
        SplitSections(p.session);
        p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, kPassphrase}; };
        p.session.st.SealKeyInUse = SealKey::Derive(kPassphrase, kSealParams);
        Save(plain);
        Save(sealed);
        bytes = static_cast<int64_t>(std::filesystem::file_size(plain));
    }
    void Save(const std::string& path) {
        p.session.st.FileName = path;
        p.session.st.Sealed = false;  // each save is taken as it comes, without the question
        SaveDocument(p.session);
    }
    std::string folder;
    std::string plain = folder + "/doc.vlp";
    std::string sealed = folder + "/doc.vls";
    PlainSession p;
    int64_t bytes = 0;  // of the plain file
};

void Report(benchmark::State& st, double op, double floor) {
    st.counters["plain_ratio"] = op / floor;
    st.counters["plain_ms"] = floor * 1000 / static_cast<double>(st.iterations());
}

void BM_SealedSave(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        f.Save(f.plain);
        floor += Seconds(t0);

        t0 = Clock::now();
        f.Save(f.sealed);
        const double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * f.bytes);
    Report(st, op, floor);
}

void BM_SealedOpen(benchmark::State& st) {
    Fixture f(static_cast<std::size_t>(st.range(0)) * kMiB);
    Session& s = f.p.session;
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        ReadDocument(f.plain, s.buffer);
        SplitSections(s);
        floor += Seconds(t0);

        s.buffer.Clear();
        t0 = Clock::now();
        ReadSealedDocument(s, f.sealed);
        SplitSections(s);
        const double t = Seconds(t0);
        op += t;
        st.SetIterationTime(t);
        s.buffer.Clear();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * f.bytes);
    Report(st, op, floor);
}

// The cipher alone, memory to memory, on the same bytes: what sealing adds to a plain save or
// open can be no less.
void BM_SecretstreamInMemory(benchmark::State& st) {
    const std::string text = MakeDocument(static_cast<std::size_t>(st.range(0)) * kMiB);
    const auto key = SealKey::Derive(kPassphrase, kQuickestSealParams);
    double sealing = 0;
    double opening = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        const std::string sealed = SealBytes(*key, text);
        sealing += Seconds(t0);
        t0 = Clock::now();
        benchmark::DoNotOptimize(UnsealBytes(sealed, *key, "doc.vls").data());
        opening += Seconds(t0);
    }
    const auto n = static_cast<double>(st.iterations());
    st.counters["seal_ms"] = sealing * 1000 / n;
    st.counters["open_ms"] = opening * 1000 / n;
    st.counters["MB/s"] = static_cast<double>(text.size()) * n / 1e6 / (sealing + opening) * 2;
}

// What a new passphrase costs at a save, and every opening in a new run.
void BM_DeriveKey(benchmark::State& st) {
    for (auto _ : st) {
        benchmark::DoNotOptimize(SealKey::Derive(kPassphrase, kSealParams));
    }
    st.counters["opslimit"] = kSealParams.opsLimit;
    st.counters["memlimit_MiB"] = static_cast<double>(kSealParams.memLimit >> 20);
}

BENCHMARK(BM_SealedSave)
    ->ArgName("MiB")
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SealedOpen)
    ->ArgName("MiB")
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecretstreamInMemory)
    ->ArgName("MiB")
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeriveKey)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
