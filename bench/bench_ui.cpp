// The document window beside the toolkit's own cost of the same work, in the same run.
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"
#include "util.h"

namespace velloran::bench {
namespace {

const std::string& Document(std::size_t mib) {
    static std::map<std::size_t, std::string> made;
    auto it = made.find(mib);
    if (it == made.end()) {
        it = made.emplace(mib, MakeDocument(mib * kMiB, 50)).first;
    }
    return it->second;
}

// A document window with the document read into its buffer.
struct Window {
    explicit Window(std::size_t mib) {
        ResetState();
        form = std::make_unique<DocumentWindow>();
        form->Memo1.AssignText(Document(mib));
    }
    void Split() {
        Session session{state(), *form, list, form->Memo1, dialogs};
        SplitSections(session);
    }
    void Show() {
        form->show();
        QApplication::processEvents();
    }
    std::unique_ptr<DocumentWindow> form;
    PlainList list;
    CallbackDialogs dialogs;
};

// The split of a document into a real window: cutting the buffer into sections, which the
// window keeps as bytes, and filling the one editor on screen.
void BM_SplitIntoWindow(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    Window w(mib);
    for (auto _ : st) {
        w.Split();
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * mib * kMiB));
}
BENCHMARK(BM_SplitIntoWindow)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// The floor: the same section texts, already converted, into bare editors.
void BM_SplitFloor(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    // Qt's "slots" keyword rules out the plain session's member of that name here.
    PlainSlots sectionTexts;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), sectionTexts, list, buffer, dialogs};
    ResetState();
    buffer.AssignText(Document(mib));
    SplitSections(session);
    std::vector<QString> texts;
    for (int k = 0; k <= state().LastSection; ++k) {
        texts.push_back(SectionEditor::TextFromBytes(sectionTexts.texts[std::size_t(k)],
                                                     state().DocumentEncoding));
    }
    QWidget parent;
    std::vector<QPlainTextEdit*> editors;
    for (int k = 0; k < kSectionCount; ++k) {
        editors.push_back(new QPlainTextEdit(&parent));
    }
    for (auto _ : st) {
        for (std::size_t k = 0; k < texts.size(); ++k) {
            editors[k]->setPlainText(texts[k]);
        }
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * mib * kMiB));
}
BENCHMARK(BM_SplitFloor)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Section list clicks in one-panel mode, alternating between two sections.
void BM_SelectSection(benchmark::State& st) {
    Window w(static_cast<std::size_t>(st.range(0)));
    w.Split();
    w.Show();
    int next = 1;
    for (auto _ : st) {
        w.form->SelectSection(next);
        QApplication::processEvents();
        next = 3 - next;
    }
}
BENCHMARK(BM_SelectSection)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Selecting a section whose editor was never shown, its fill included: a new split before each
// selection leaves every hidden editor empty again. The floor is the toolkit's part of it: the
// same text, already converted, set into a bare editor that is then shown.
void BM_SelectNeverShown(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    Window w(mib);
    w.Split();
    w.Show();
    int next = 1;
    double floor = 0;
    QPlainTextEdit bare;
    for (auto _ : st) {
        st.PauseTiming();
        w.form->Memo1.AssignText(Document(mib));
        w.Split();
        w.form->SelectSection(0);
        QApplication::processEvents();
        const QString text =
            SectionEditor::TextFromBytes(w.form->SlotText(next), state().DocumentEncoding);
        bare.hide();
        bare.setPlainText(QString());
        QApplication::processEvents();
        auto start = std::chrono::steady_clock::now();
        bare.setPlainText(text);
        bare.show();
        QApplication::processEvents();
        floor += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        st.ResumeTiming();
        w.form->SelectSection(next);
        QApplication::processEvents();
        next = next % 50 + 1;
    }
    st.counters["floor_ms"] = floor * 1e3 / static_cast<double>(st.iterations());
    st.counters["section_MiB"] = static_cast<double>(w.form->SlotText(1).size()) / kMiB;
}
BENCHMARK(BM_SelectNeverShown)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Switching between one panel and two panes (range 1: 2 stacked, 3 side by side), and back.
void BM_PanelModeSwitch(benchmark::State& st) {
    Window w(static_cast<std::size_t>(st.range(0)));
    const int mode = static_cast<int>(st.range(1));
    w.Split();
    w.form->SelectSection(1);
    w.form->SelectSection(2);
    w.Show();
    for (auto _ : st) {
        state().PanelMode = state().PanelMode == 1 ? mode : 1;
        w.form->LayoutPanels();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PanelModeSwitch)
    ->Args({10, 2})
    ->Args({100, 2})
    ->Args({10, 3})
    ->Args({100, 3})
    ->Unit(benchmark::kMillisecond);

// The toolkit's own part of the same switch: the same editors shown, hidden and given the same
// bounds directly. Side by side the first pane's width changes, and the editor wraps its lines
// again whoever asks for it.
void BM_PanelModeFloor(benchmark::State& st) {
    Window w(static_cast<std::size_t>(st.range(0)));
    const int mode = static_cast<int>(st.range(1));
    w.Split();
    w.form->SelectSection(1);
    w.form->SelectSection(2);
    w.Show();
    SectionEditor* first = w.form->SectionEditors(2);
    SectionEditor* second = w.form->SectionEditors(1);
    const int cw = w.form->width();
    const int ch = w.form->height();
    bool split = false;
    for (auto _ : st) {
        split = !split;
        if (split) {
            first->setGeometry(mode == 2 ? QRect(0, 0, cw, ch / 2 - 5)
                                         : QRect(0, 0, cw / 2 - 5, ch));
            second->setGeometry(mode == 2 ? QRect(0, ch / 2, cw, ch / 2 - 5)
                                          : QRect(cw / 2, 0, cw / 2 - 5, ch));
            second->show();
        } else {
            second->hide();
            second->setGeometry(w.form->rect());
            first->setGeometry(w.form->rect());
        }
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PanelModeFloor)
    ->Args({10, 2})
    ->Args({100, 2})
    ->Args({10, 3})
    ->Args({100, 3})
    ->Unit(benchmark::kMillisecond);

// The floor of both: hiding one of the same editors and showing the other, nothing more.
void BM_ShowHiddenEditorFloor(benchmark::State& st) {
    Window w(static_cast<std::size_t>(st.range(0)));
    w.Split();
    w.Show();
    SectionEditor* shown = w.form->SectionEditors(0);
    int next = 1;
    for (auto _ : st) {
        SectionEditor* ed = w.form->SectionEditors(next);
        shown->hide();
        ed->show();
        QApplication::processEvents();
        shown = ed;
        next = 3 - next;
    }
}
BENCHMARK(BM_ShowHiddenEditorFloor)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench

#endif
