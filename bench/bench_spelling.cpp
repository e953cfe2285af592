// Spelling beside the same work with it off, in the same run: showing a never-shown 2 MiB
// section of a 100 MiB document, and a keystroke in it. Range 1 checks with the system's en_US
// dictionary, 0 checks nothing. The words are random letters: nearly every one is misspelled
// and new, the most a screen can ask of the checker; the keystroke is also timed in prose, words
// of the dictionary itself, as a writer's text mostly is.
#ifdef VELLORAN_BENCH_QT

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPaintEvent>
#include <QTest>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/SpellingService.h"
#include "ui/document/DocumentWindow.h"
#include "util.h"

namespace velloran::bench {
namespace {

// The area the editor paints, which is where a keystroke's time goes.
struct PaintArea : QObject {
    double pixels = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            for (const QRect& r : static_cast<QPaintEvent*>(e)->region()) {
                pixels += static_cast<double>(r.width()) * r.height();
            }
        }
        return false;
    }
};

const std::string& Document100() {
    static const std::string made = MakeDocument(100 * kMiB, 50);
    return made;
}

// The plain small-letter words of the system's en_US dictionary, affix flags cut off.
const std::vector<std::string>& DictionaryWords() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> out;
        std::ifstream dic("/usr/share/hunspell/en_US.dic");
        std::string line;
        std::getline(dic, line);  // the count
        while (std::getline(dic, line)) {
            const std::string word = line.substr(0, line.find('/'));
            if (word.size() >= 3 && std::all_of(word.begin(), word.end(), [](unsigned char c) {
                    return std::islower(c) != 0;
                })) {
                out.push_back(word);
            }
        }
        return out;
    }();
    return words;
}

// A 100 MiB document of lines of dictionary words, in 50 sections as the other.
const std::string& Prose100() {
    static const std::string made = [] {
        const std::vector<std::string>& words = DictionaryWords();
        std::string text = MakeDocument(100 * kMiB, 50);
        if (words.empty()) {
            return text;
        }
        std::mt19937 rng(42);
        std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
        std::string out;
        out.reserve(text.size() + 200);
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            const std::string_view line(text.data() + at, end - at);
            if (line.starts_with("[S]")) {
                out.append(line);
            } else {
                std::string made;
                while (made.size() < line.size()) {
                    made += (made.empty() ? "" : " ") + words[pick(rng)];
                }
                out += made;
            }
            out += "\r\n";
            at = end + 2;
        }
        return out;
    }();
    return made;
}

struct SpellWindow {
    explicit SpellWindow(bool check, bool prose = false) {
        ResetState();
        form = std::make_unique<DocumentWindow>();
        if (check) {
            dictionary = spelling::ChooseDictionary(
                spelling::FindDictionaries({"/usr/share/hunspell"}), "en_US", "");
            form->UseSpelling(dictionary, TempFolder() + "/words");
        }
        form->Memo1.AssignText(prose ? Prose100() : Document100());
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
    std::unique_ptr<DocumentWindow> form;
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

// A letter typed in the middle of the screen, and the toolkit's handling of it to the end, the
// same keys with checking on (range 0 = 1) and off. Range 1 = 0: random words of seven letters
// typed into lines of them, every word on screen marked; range 1 = 1: dictionary words typed
// into prose, as a writer types.
void BM_KeystrokeSpelling(benchmark::State& st) {
    const bool prose = st.range(1) != 0;
    SpellWindow w(st.range(0) != 0, prose);
    if (Missing(st, w) || (prose && DictionaryWords().empty())) {
        st.SkipWithError("no en_US dictionary in /usr/share/hunspell (hunspell-en-us)");
        return;
    }
    w.form->SelectSection(1);
    SectionEditor* ed = w.form->SectionEditors(1);
    ed->setFocus();
    ed->SetCaretPos(2000);
    w.Settle();
    std::minstd_rand letters(7);  // new words, the same for both runs
    std::string keys;
    PaintArea painted;
    ed->viewport()->installEventFilter(&painted);
    int i = 0;
    for (auto _ : st) {
        ++i;
        if (i % 80 == 0) {
            QTest::keyClick(ed, Qt::Key_Return);
            QApplication::processEvents();
            continue;
        }
        if (keys.empty()) {
            if (prose) {
                const auto& words = DictionaryWords();
                keys = words[letters() % words.size()] + " ";
            } else {
                for (int k = 0; k < 7; ++k) {
                    keys.push_back(static_cast<char>('a' + letters() % 26));
                }
                keys += " ";
            }
        }
        QTest::keyClick(ed, keys.front());
        keys.erase(0, 1);
        QApplication::processEvents();
    }
    st.counters["painted_px"] = painted.pixels / static_cast<double>(st.iterations());
}
BENCHMARK(BM_KeystrokeSpelling)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"check", "prose"})
    ->Iterations(4000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velloran::bench

#endif
