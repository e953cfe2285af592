// Exports of a novel, each beside the floor of saving the same bytes once (a crash-safe write of
// the document's own text) in the same iterations; the 100 MiB document's exports also as the
// command a writer runs, with the peak memory of that process beside the file's size.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "core/document/Encoding.h"
#include "core/export/Export.h"
#include "core/storage/FileIO.h"
#include "util.h"

#ifdef VELLORAN_BENCH_PRINT
#include <QGuiApplication>

#include "print/PdfExport.h"
#endif

extern char** environ;

namespace velloran::bench {
namespace {

// Every line a paragraph, as a novel written a paragraph a line is.
Manuscript Novel(const std::string& text) {
    ExportChoices choices;
    choices.paragraphs = ParagraphRule::LineBreaks;
    choices.author = "Jane Q. Writer";
    return BuildManuscript(text, DetectEncoding(text), choices);
}

void BM_Export(benchmark::State& st) {
    const auto format = static_cast<ExportFormat>(st.range(0));
    const std::size_t bytes = static_cast<std::size_t>(st.range(1)) * kMiB;
    const std::string folder = TempFolder();
    const std::string text = MakeDocument(bytes, 12);
    const std::string out = folder + "/book." + std::string(ExportExtension(format));
#ifdef VELLORAN_BENCH_PRINT
    const auto application = PrintingApplication();
#endif
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        ReplaceFile(folder + "/floor.vlp", [&](OutputFile& file) { file.Write(text); });
        floor += SecondsSince(t0);
        t0 = Clock::now();
        const Manuscript m = Novel(text);
        if (format == ExportFormat::Pdf) {
#ifdef VELLORAN_BENCH_PRINT
            ExportPdf(m, out);
#else
            st.SkipWithError("built without the toolkit's layout");
            break;
#endif
        } else {
            ExportToFile(m, format, out);
        }
        const double t = SecondsSince(t0);
        op += t;
        st.SetIterationTime(t);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
    const double goal = format == ExportFormat::Pdf ? 3 : bytes > kMiB ? 30 : 1;
    st.counters["goal_s"] = goal;
}

void FormatsOf1MiB(benchmark::internal::Benchmark* b) {
    for (int f = 0; f <= static_cast<int>(ExportFormat::Pdf); ++f) {
        b->Args({f, 1});
    }
    b->Args({static_cast<int>(ExportFormat::Docx), 100});
    b->Args({static_cast<int>(ExportFormat::Epub), 100});
}
BENCHMARK(BM_Export)
    ->ArgNames({"format", "MiB"})
    ->Apply(FormatsOf1MiB)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// velloran-cli export of the 100 MiB document, reading it as well: its peak resident memory
// against the file's size (goal: under 3), beside cat reading the file as the floor.
void BM_CliExportMemory(benchmark::State& st) {
    const auto format = static_cast<ExportFormat>(st.range(0));
    const std::string folder = TempFolder();
    const std::string path = folder + "/book.vlp";
    const std::string text = MakeDocument(100 * kMiB, 12);
    ReplaceFile(path, [&](OutputFile& file) { file.Write(text); });
    const std::string out = folder + "/out." + std::string(ExportExtension(format));
    double peak = 0;
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        floor += RunProcess({"/bin/cat", path});
        std::vector<std::string> argv{
            VELLORAN_CLI,   "export", path, "--to", std::string(ExportExtension(format)),
            "--paragraphs", "line",   "-o", out};
        std::vector<char*> args;
        for (auto& a : argv) {
            args.push_back(a.data());
        }
        args.push_back(nullptr);
        const auto t0 = Clock::now();
        pid_t pid = 0;
        int status = -1;
        struct rusage usage {};
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) {
            ::wait4(pid, &status, 0, &usage);
        }
        const double t = SecondsSince(t0);
        if (status != 0) {
            st.SkipWithError("velloran-cli export failed");
            break;
        }
        op += t;
        peak = std::max(peak, static_cast<double>(usage.ru_maxrss) * 1024);
        st.SetIterationTime(t);
    }
    st.counters["peak_MiB"] = peak / kMiB;
    st.counters["peak_ratio"] = peak / static_cast<double>(text.size());
    st.counters["floor_ratio"] = op / floor;
}
BENCHMARK(BM_CliExportMemory)
    ->ArgName("format")
    ->Arg(static_cast<int>(ExportFormat::Docx))
    ->Arg(static_cast<int>(ExportFormat::Epub))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
