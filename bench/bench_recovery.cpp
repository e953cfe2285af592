// Recovery records: what they cost the window thread per keystroke (beside the same keystroke
// without them), how long a record takes after one section changed (beside one fsynced write of
// that section), and a start that restores a record (beside a plain open of the same document).
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/document/SectionStore.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/recovery/Recovery.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"
#include "ui/Windows.h"
#include "ui/document/DocumentWindow.h"
#include "ui/platform/RecoveryKeeper.h"
#include "util.h"

namespace velloran::bench {
namespace {

// A store of sections that tells the recorder of the split, as the document window does.
struct ObservedStore : SectionStore {
    void SetSections(const SharedBytes& block, std::span<const std::string_view> texts) override {
        SectionStore::SetSections(block, texts);
        observer->SlotsReplaced(block, texts);
    }
    SlotObserver* observer = nullptr;
};

// A run of the core with a record of document kept in recoveryFolder: the window layer's part
// played by a store that tells the recorder of the split.
struct RecordedRun {
    RecordedRun(const std::string& document, const std::string& recoveryFolder) {
        ResetState();
        state().FileName = document;
        recorder.Claim(recoveryFolder, RecordPath(state()));
        store.observer = &recorder;
    }
    // The document's text, split, with unsaved changes.
    void Open(std::string text) {
        buffer.AssignText(std::move(text));
        SplitSections(session);
        state().Modified = true;
    }
    RecoveryRecorder recorder;
    ObservedStore store;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), store, list, buffer, dialogs};
};

// A document split into a shown document window, typed into in the middle of section 0.
struct TypingWindow {
    explicit TypingWindow(std::size_t mib) : mib(mib) {
        ResetState();
        documentWindow.Memo1.AssignText(MakeDocument(mib * kMiB, 50));
        SplitSections(session);
        documentWindow.Memo1.AssignText("");
        documentWindow.show();
        QApplication::processEvents();
        editor = documentWindow.SectionEditors(0);
        editor->SetCaretPos(static_cast<int>(documentWindow.ReadSlot(0).size() / 2));
    }
    void Key(int key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(editor, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(editor, &release);
    }
    // One key and the key that takes it back, so that the text stays as it was.
    double KeyPairSeconds() {
        const auto start = Clock::now();
        Key(Qt::Key_A, QStringLiteral("a"));
        Key(Qt::Key_Backspace, {});
        return SecondsSince(start);
    }

    std::size_t mib;
    DocumentWindow documentWindow;
    PlainList list;
    CallbackDialogs dialogs;
    Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
    RecoveryKeeper keeper{session, &documentWindow};
    SectionEditor* editor = nullptr;
};

// The window thread's cost of a keystroke with the record kept in step, beside the same
// keystroke in the same window without it; pairs of each alternate so that both see the same.
void BM_KeystrokeWithRecovery(benchmark::State& st) {
    TypingWindow w(static_cast<std::size_t>(st.range(0)));
    const std::string folder = TempFolder();
    w.keeper.Recorder().Claim(folder, folder + "/doc.vlp");
    double on = 0;
    double off = 0;
    for (auto _ : st) {
        w.documentWindow.SetSlotObserver(nullptr);
        off += w.KeyPairSeconds();
        w.documentWindow.SetSlotObserver(&w.keeper);
        const double each = w.KeyPairSeconds();
        on += each;
        st.SetIterationTime(each / 2);
    }
    w.documentWindow.SetSlotObserver(nullptr);
    const double n = static_cast<double>(st.iterations()) * 2;
    st.counters["recovery_off_us"] = off / n * 1e6;
    st.counters["recovery_on_us"] = on / n * 1e6;
    st.counters["x_off"] = on / off;
}
BENCHMARK(BM_KeystrokeWithRecovery)
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Iterations(400)
    ->Unit(benchmark::kMicrosecond);

// A record of a 100 MiB document of 50 sections after one 2 MiB section changed: by an edit,
// which goes to the section's journal (range 0 = 0), or by a new text, which writes the section
// whole (range 0 = 1), as a journal that grew too large does. The floor is one fsynced write of
// the section's bytes to a new file in the same folder.
void BM_RecordAfterOneSectionChanged(benchmark::State& st) {
    const bool whole = st.range(0) == 1;
    const std::string folder = TempFolder();
    RecordedRun run(folder + "/doc.vlp", folder);
    run.Open(MakeDocument(100 * kMiB, 50));
    RecoveryRecorder& recorder = run.recorder;
    Session& session = run.session;
    ObservedStore& store = run.store;
    auto start = Clock::now();
    recorder.Record(session);
    recorder.Wait();
    const double first = SecondsSince(start);

    const std::string section(store.Text(3));
    double floor = 1e9;
    for (int i = 0; i < 3; ++i) {
        const std::string path = folder + "/floor";
        start = Clock::now();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        benchmark::DoNotOptimize(::write(fd, section.data(), section.size()));
        ::fsync(fd);
        ::close(fd);
        floor = std::min(floor, SecondsSince(start));
        ::unlink(path.c_str());
    }

    double total = 0;
    for (auto _ : st) {
        if (whole) {
            auto block = std::make_shared<const std::string>(section);
            recorder.SlotReplaced(3, block, *block);
        } else {
            recorder.SlotEdited(3, section.size() / 2, 0, "a");
        }
        start = Clock::now();
        recorder.Record(session);
        recorder.Wait();
        const double each = SecondsSince(start);
        st.SetIterationTime(each);
        total += each;
    }
    recorder.Close();
    const double each = total / static_cast<double>(st.iterations());
    st.counters["section_MiB"] = static_cast<double>(section.size()) / kMiB;
    st.counters["first_record_ms"] = first * 1e3;
    st.counters["fsynced_write_ms"] = floor * 1e3;
    st.counters["x_fsynced_write"] = each / floor;
}
BENCHMARK(BM_RecordAfterOneSectionChanged)
    ->ArgName("whole")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Leaves the record of a killed run of doc in the state folder: one section edited.
void LeaveRecord(const std::string& doc) {
    RecordedRun run(doc, *MakeStateFolder("recovery"));
    run.Open(ReadWholeFile(doc).value());
    run.recorder.Record(run.session);
    run.recorder.SlotEdited(3, 10, 0, "an edit");
    run.recorder.Record(run.session);
    run.recorder.Wait();
}

// Starts the windows on doc, answering Yes to the question of recovery, until they are idle.
double StartSeconds(const std::string& doc) {
    ResetState();
    QTimer yes;
    QObject::connect(&yes, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes)->click();
        }
    });
    yes.start(1);
    const auto start = Clock::now();
    auto forms = ui::CreateWindows({"velloran", doc});
    forms->Show();
    QApplication::processEvents();
    const double seconds = SecondsSince(start);
    forms.reset();  // as a killed program: the record stays for the next start
    return seconds;
}

// The program's start on a document with a record to restore (range 1 = 1), restored with Yes,
// beside a plain open of the same document.
void BM_StartRestoringARecord(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    const std::string folder = TempFolder();
    const std::string doc = folder + "/doc.vlp";
    WriteFile(doc, MakeDocument(mib * kMiB, 50));
    const std::string recordHome = folder + "/with";
    const std::string plainHome = folder + "/without";
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    ::setenv("XDG_STATE_HOME", recordHome.c_str(), 1);
    LeaveRecord(doc);
    double restoring = 0;
    double plain = 0;
    for (auto _ : st) {
        ::setenv("XDG_STATE_HOME", plainHome.c_str(), 1);
        plain += StartSeconds(doc);
        ::setenv("XDG_STATE_HOME", recordHome.c_str(), 1);
        const double each = StartSeconds(doc);
        if (!state().Modified) {
            st.SkipWithError("nothing was restored");
            return;
        }
        restoring += each;
        st.SetIterationTime(each);
    }
    const auto n = static_cast<double>(st.iterations());
    st.counters["plain_open_ms"] = plain / n * 1e3;
    st.counters["x_plain_open"] = restoring / plain;
}
BENCHMARK(BM_StartRestoringARecord)
    ->Arg(10)
    ->Arg(100)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench

#endif
