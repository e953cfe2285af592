// Spelling beside the same work with it off, in the same run: showing a never-shown 2 MiB
// section of a 100 MiB document, and a keystroke in it. Range 1 checks with the system's en_US
// dictionary, 0 checks nothing. The words are random letters: nearly every one is misspelled
// and new, the most a screen can ask of the checker.
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <memory>
#include <random>
#include <string>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/SpellingService.h"
#include "ui/Unit2.h"
#include "util.h"

namespace velloran::bench {
namespace {

const std::string& Document100() {
    static const std::string made = MakeDocument(100 * kMiB, 50);
    return made;
}

struct SpellWindow {
    explicit SpellWindow(bool check) {
        ResetState();
        form = std::make_unique<TForm2>();
        if (check) {
            dictionary = spelling::ChooseDictionary(
                spelling::FindDictionaries({"/usr/share/hunspell"}), "en_US", "");
            form->UseSpelling(dictionary, TempFolder() + "/words");
        }
        form->Memo1.AssignText(Document100());
        Split();
        form->show();
        QApplication::processEvents();
    }
    void Split() {
        Session session{state(), *form, list, form->Memo1, dialogs};
        SplitSections(session);
    }
    // The answers of the checking thread marked too.
    void Settle() {
        if (form->Spelling()) {
            form->Spelling()->WaitIdle();
        }
        QApplication::processEvents();
    }
    std::unique_ptr<TForm2> form;
    std::optional<spelling::Dictionary> dictionary;
    PlainList list;
    CallbackDialogs dialogs;
};

bool Missing(benchmark::State& st, const SpellWindow& w) {
    if (st.range(0) && !w.dictionary) {
        st.SkipWithError("no en_US dictionary in /usr/share/hunspell (hunspell-en-us)");
        return true;
    }
    return false;
}

void BM_ShowNeverShownSectionSpelling(benchmark::State& st) {
    SpellWindow w(st.range(0) != 0);
    if (Missing(st, w)) {
        return;
    }
    int next = 1;
    double settled = 0;
    for (auto _ : st) {
        st.PauseTiming();
        w.form->Memo1.AssignText(Document100());
        w.Split();
        w.form->SelectSection(0);
        w.Settle();
        st.ResumeTiming();
        w.form->SelectSection(next);
        QApplication::processEvents();
        st.PauseTiming();
        const auto start = std::chrono::steady_clock::now();
        w.Settle();
        settled += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        st.ResumeTiming();
        next = next % 50 + 1;
    }
    st.counters["marked_after_ms"] = settled * 1e3 / static_cast<double>(st.iterations());
    st.counters["section_MiB"] = static_cast<double>(w.form->SlotText(1).size()) / kMiB;
}
BENCHMARK(BM_ShowNeverShownSectionSpelling)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A letter typed in the middle of the screen, and the toolkit's handling of it to the end: words
// of seven letters, lines of about 70, the same keys with checking on and off.
void BM_KeystrokeSpelling(benchmark::State& st) {
    SpellWindow w(st.range(0) != 0);
    if (Missing(st, w)) {
        return;
    }
    w.form->SelectSection(1);
    SectionEditor* ed = w.form->SectionEditors(1);
    ed->setFocus();
    ed->SetCaretPos(2000);
    w.Settle();
    std::minstd_rand letters(7);  // new words, the same for both runs
    int i = 0;
    for (auto _ : st) {
        ++i;
        if (i % 80 == 0) {
            QTest::keyClick(ed, Qt::Key_Return);
        } else if (i % 8 == 0) {
            QTest::keyClick(ed, ' ');
        } else {
            QTest::keyClick(ed, static_cast<char>('a' + letters() % 26));
        }
        QApplication::processEvents();
    }
}
BENCHMARK(BM_KeystrokeSpelling)->Arg(0)->Arg(1)->Iterations(4000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velloran::bench

#endif
