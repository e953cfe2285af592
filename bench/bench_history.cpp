// The version history: a save with it against the same save without it, in the same iterations;
// the compare of two versions against a pass over their bytes; the disk that 1,000 saves take
// against their text compressed; the list of 1,000 versions against reading the index; the
// History window filled from 1,000 versions against the store's own list of them.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <zstd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/history/WordDiff.h"
#include "core/storage/Checksum.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"
#include "util.h"

#ifdef VELLORAN_BENCH_QT
#include <QApplication>
#include <QTreeWidget>

#include "core/history/HistoryKeeper.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/HistoryWindow.h"
#endif

namespace velloran::bench {
namespace {

// A document open in a session that keeps its history in a folder of its own.
struct Editing {
    explicit Editing(const std::string& text) {
        folder = TempFolder();
        ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
        ResetState();
        p.buffer.AssignText(text);
        SplitSections(p.session);
        state().FileName = folder + "/doc.vlp";
    }
    ~Editing() { ::unsetenv("XDG_STATE_HOME"); }
    // Changes a few words of section k, as typing does.
    void Type(int k) {
        std::string text = p.sections.SlotText(k);
        const std::size_t at = text.size() / 2;
        text.insert(text.find(' ', at), " typed" + std::to_string(++typed));
        p.sections.SetSlotText(k, std::move(text));
        state().Modified = true;
    }
    std::string folder;
    PlainSession p;
    HistoryRecorder recorder;
    int typed = 0;
};

void BM_SaveWithHistory(benchmark::State& st) {
    const std::size_t bytes = static_cast<std::size_t>(st.range(0)) * kMiB;
    Editing e(MakeDocument(bytes));
    e.p.session.history = &e.recorder;
    SaveDocument(e.p.session);  // the first version, every section of it
    double with = 0;
    double without = 0;
    for (auto _ : st) {
        e.p.session.history = nullptr;
        e.Type(7);
        auto t0 = Clock::now();
        SaveDocument(e.p.session);
        without += SecondsSince(t0);

        e.p.session.history = &e.recorder;
        e.Type(7);
        t0 = Clock::now();
        SaveDocument(e.p.session);
        const double t = SecondsSince(t0);
        with += t;
        st.SetIterationTime(t);
    }
    if (!e.recorder.Note().empty()) {
        st.SkipWithError(e.recorder.Note().c_str());
    }
    st.counters["without_ms"] = without * 1000 / static_cast<double>(st.iterations());
    st.counters["floor_ratio"] = with / without;  // goal: at most 1.05
}
BENCHMARK(BM_SaveWithHistory)
    ->ArgNames({"MiB"})
    ->Arg(100)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Two versions of 2 MiB of prose, the second with 50 edits scattered through it.
void BM_CompareVersions(benchmark::State& st) {
    const std::string before = MakeDocument(2 * kMiB);
    std::string after = before;
    std::mt19937 random(7);
    for (int i = 0; i < 50; ++i) {
        const std::size_t at = after.find(' ', random() % after.size());
        if (at != std::string::npos) {
            after.replace(at, 1, i % 2 ? " changed " : " ");
            after.erase(at + 1, i % 3 == 0 ? after.find(' ', at + 1) - at : 0);
        }
    }
    double compare = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(Checksum::Of(before) + Checksum::Of(after));
        floor += SecondsSince(t0);
        t0 = Clock::now();
        const TextDiff d = DiffWords(before, after);
        const double t = SecondsSince(t0);
        benchmark::DoNotOptimize(d.pieces.data());
        compare += t;
        st.SetIterationTime(t);
        if (d.byLines) {
            st.SkipWithError("compared by lines");
        }
    }
    st.counters["floor_ratio"] = compare / floor;
    st.counters["goal_ms"] = 100;
}
BENCHMARK(BM_CompareVersions)->UseManualTime()->Unit(benchmark::kMillisecond);

std::uint64_t DiskUsed(const std::string& folder) {
    std::uint64_t used = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat s;
        if (::lstat(e.path().c_str(), &s) == 0) {
            used += static_cast<std::uint64_t>(s.st_blocks) * 512;
        }
    }
    return used;
}

std::size_t Compressed(std::string_view text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    return ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
}

// 1,000 saves of a 10 MiB document, each changing one section of 20 KiB: what the history
// takes on disk against the document and the changed sections compressed.
void BM_DiskOfThousandSaves(benchmark::State& st) {
    for (auto _ : st) {
        std::string text = MakeDocument(10 * kMiB);
        // Section 1 cut to 20 KiB, the one each save changes.
        const auto sections = SectionTexts(text);
        const std::string small = std::string(sections[1].substr(0, 20 << 10)) + "\r\n";
        text = std::string(sections[0]) + small +
               text.substr(static_cast<std::size_t>(sections[2].data() - text.data()));
        Editing e(text);
        std::size_t reference = Compressed(text);
        for (int i = 0; i < 1000; ++i) {
            e.Type(1);
            e.recorder.Versioned(e.p.session, VersionEvent::Saved);
            reference += Compressed(e.p.sections.ReadSlot(1));
        }
        if (!e.recorder.Note().empty()) {
            st.SkipWithError(e.recorder.Note().c_str());
        }
        const std::uint64_t used = DiskUsed(e.folder + "/state");
        st.counters["disk_MiB"] = static_cast<double>(used) / kMiB;
        st.counters["document_MiB"] = static_cast<double>(text.size()) / kMiB;
        st.counters["floor_ratio"] = static_cast<double>(used) / static_cast<double>(reference);
    }
}
BENCHMARK(BM_DiskOfThousandSaves)->Iterations(1)->Unit(benchmark::kSecond);

// The list of 1,000 versions, read from the store, against reading its index alone.
void BM_ListThousandVersions(benchmark::State& st) {
    Editing e(MakeDocument(kMiB));
    for (int i = 0; i < 1000; ++i) {
        e.Type(1 + i % 40);
        e.recorder.Versioned(e.p.session, VersionEvent::Saved);
    }
    const std::string path = AbsolutePath(state().FileName);
    const std::string index = e.recorder.Store(e.p.session)->Folder() + "/index";
    double list = 0;
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(ReadWholeFile(index));
        floor += SecondsSince(t0);
        t0 = Clock::now();
        const auto store = HistoryStore::OpenToRead(path, {});
        std::uint64_t words = 0;
        for (const Version& v : store->Versions()) {
            words += v.Words() + v.changed.size();
        }
        benchmark::DoNotOptimize(words);
        const double t = SecondsSince(t0);
        list += t;
        st.SetIterationTime(t);
        if (store->Versions().size() != 1000) {
            st.SkipWithError("versions missing");
        }
    }
    st.counters["floor_ratio"] = list / floor;
}
BENCHMARK(BM_ListThousandVersions)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef VELLORAN_BENCH_QT
// The History window opened on a section that changed in each of 1,000 versions, so that every
// one is a row, timed to the list filled and the newest compared; the floor is the store's own
// list of them, read afresh.
void BM_HistoryWindow(benchmark::State& st) {
    Editing e(MakeDocument(kMiB));
    for (int i = 0; i < 1000; ++i) {
        e.Type(1);
        e.recorder.Versioned(e.p.session, VersionEvent::Saved);
    }
    const std::string path = AbsolutePath(state().FileName);
    DocumentWindow documentWindow;
    for (int k = 0; k <= state().LastSection; ++k) {
        documentWindow.SetSlotText(k, e.p.sections.SlotText(k));
    }
    documentWindow.show();
    HistoryKeeper keeper;
    HistoryWindow window(&documentWindow);
    window.Attach(&keeper, &e.p.session, [] {});
    // The editor's keeper opened the store when the document was opened, before any request.
    window.ShowSection(1, &documentWindow);
    QApplication::processEvents();

    double fill = 0;
    double floor = 0;
    for (auto _ : st) {
        window.hide();
        auto t0 = Clock::now();
        const auto store = HistoryStore::OpenToRead(path, {});
        std::uint64_t words = 0;
        for (const Version& v : store->Versions()) {
            words += v.Words() + v.changed.size();
        }
        benchmark::DoNotOptimize(words);
        floor += SecondsSince(t0);

        t0 = Clock::now();
        window.ShowSection(1, &documentWindow);
        const double t = SecondsSince(t0);
        fill += t;
        st.SetIterationTime(t);
        // A row short, or the oldest on top, would be a list that only looks filled.
        if (window.ListView1->topLevelItemCount() != 1000 ||
            window.ListView1->currentItem() != window.ListView1->topLevelItem(0) ||
            store->Versions().back().sections[1].words !=
                window.ListView1->topLevelItem(0)->text(2).toULongLong() ||
            window.Memo1->document()->isEmpty()) {
            st.SkipWithError("the newest of 1,000 versions was not listed first and compared");
        }
        QApplication::processEvents();
    }
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
    st.counters["floor_ratio"] = fill / floor;
    st.counters["goal_ms"] = 150;
}
BENCHMARK(BM_HistoryWindow)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace velloran::bench
