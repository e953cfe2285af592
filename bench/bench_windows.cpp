// The search and statistics windows on large documents, where only section 0 was ever shown,
// each beside the floor of reading the document's bytes once, measured in the same run and
// reported as a ratio.
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/SearchWindow.h"
#include "ui/tools/StatisticsWindow.h"
#include "util.h"

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A document split into a shown document window, with the search and statistics windows.
struct Windows {
    explicit Windows(std::size_t mib) : mib(mib), text(MakeDocument(mib * kMiB, 50)) {
        ResetState();
        documentWindow.Memo1.AssignText(text);
        CallbackDialogs dialogs;
        Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
        SplitSections(session);
        documentWindow.Memo1.AssignText("");
        documentWindow.show();
        QApplication::processEvents();
    }

    // Reading every byte of the document once, as any report over the sections must.
    void ReadAll() const { benchmark::DoNotOptimize(std::count(text.begin(), text.end(), '\n')); }

    // The fastest of a few runs of the floor.
    double FloorSeconds() const {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            const auto start = Clock::now();
            ReadAll();
            best = std::min(best, Seconds(start));
        }
        return best;
    }

    std::size_t mib;
    std::string text;
    DocumentWindow documentWindow;
    PlainList list;
    SearchWindow searchWindow{&documentWindow, &list};
    StatisticsWindow statisticsWindow{&documentWindow};
};

// Splitting 100 MiB into the editors takes seconds, so one document serves every benchmark
// of its size.
std::unique_ptr<Windows> current;

Windows& For(std::size_t mib) {
    if (!current || current->mib != mib) {
        current.reset();
        current = std::make_unique<Windows>(mib);
    }
    return *current;
}

void Report(benchmark::State& st, std::size_t mib, double total, double floor) {
    const double each = total / static_cast<double>(st.iterations());
    st.counters["floor_ms"] = floor * 1e3;
    st.counters["x_floor"] = each / floor;
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * mib * kMiB));
}

void ReadBytesFloor(benchmark::State& st, std::size_t mib) {
    Windows& w = For(mib);
    for (auto _ : st) {
        w.ReadAll();
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * mib * kMiB));
}

void SearchAll(benchmark::State& st, std::size_t mib) {
    Windows& w = For(mib);
    w.searchWindow.Edit1->setText(QStringLiteral("chapter"));
    const double floor = w.FloorSeconds();
    double total = 0;
    for (auto _ : st) {
        const auto start = Clock::now();
        w.searchWindow.Button2Click();
        total += Seconds(start);
    }
    Report(st, mib, total, floor);
}

// Each opening of the window makes the report afresh.
void StatisticsReport(benchmark::State& st, std::size_t mib) {
    Windows& w = For(mib);
    const double floor = w.FloorSeconds();
    double total = 0;
    for (auto _ : st) {
        const auto start = Clock::now();
        w.statisticsWindow.hide();
        w.statisticsWindow.show();
        total += Seconds(start);
    }
    w.statisticsWindow.hide();
    Report(st, mib, total, floor);
}

std::string Name(const char* base, std::size_t mib) {
    std::string name(base);
    name += '/';
    name += std::to_string(mib);
    return name;
}

[[maybe_unused]] const bool registered = [] {
    for (std::size_t mib : {10, 100}) {
        benchmark::RegisterBenchmark(Name("BM_ReadBytesFloor", mib).c_str(), ReadBytesFloor, mib)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("BM_SearchAllWindow", mib).c_str(), SearchAll, mib)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("BM_StatisticsWindow", mib).c_str(), StatisticsReport,
                                     mib)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

// "Search" in a 100 MiB section from its start to the one match at its end: one scan of the
// bytes kept in step with the editor, and one selection change in the widget. The floor is one
// read of the editor's text as the toolkit gives it.
void BM_FindNextToSectionEnd(benchmark::State& st) {
    ResetState();
    DocumentWindow documentWindow;
    PlainList list;
    SearchWindow searchWindow(&documentWindow, &list);
    std::string text = MakeDocument(100 * kMiB, 0);
    text += "needle\r\n";
    documentWindow.SetSlotText(0, std::move(text));
    documentWindow.show();
    QApplication::processEvents();
    SectionEditor* editor = documentWindow.SectionEditors(0);
    searchWindow.Edit1->setText(QStringLiteral("NEEDLE"));

    const auto readStart = Clock::now();
    benchmark::DoNotOptimize(editor->document()->toRawText());
    const double floor = Seconds(readStart);

    int changes = 0;
    QObject::connect(editor, &QPlainTextEdit::cursorPositionChanged, [&] { ++changes; });
    double total = 0;
    for (auto _ : st) {
        st.PauseTiming();
        editor->SetCaretPos(0);
        changes = 0;
        st.ResumeTiming();
        const auto start = Clock::now();
        searchWindow.Button1Click();
        total += Seconds(start);
    }
    if (editor->SelLength() != 6) {
        st.SkipWithError("the match at the end was not selected");
    }
    st.counters["selection_changes"] = changes;
    Report(st, 100, total, floor);
}
BENCHMARK(BM_FindNextToSectionEnd)->Unit(benchmark::kMillisecond);

}  // namespace

// Widgets must go while the application still runs; left to the static destructors they would
// outlive it, and destroying them then crashes.
void ReleaseWindows() {
    current.reset();
}

}  // namespace velloran::bench

#endif
