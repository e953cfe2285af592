// A UTF-8 document beside a Windows-1252 document of the same size, both with one character in
// ten beyond ASCII, through the real windows: opening (reading, deciding the encoding, cutting
// into sections, filling the editor shown), Search All and the statistics report. Both are
// measured in the same iterations; the counter x_cp1252 is the UTF-8 time over the other.
// Then velloran-cli stats on both, and typing into a large section of either, beside the
// toolkit's own editor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <memory>
#include <random>
#include <string>

#include "core/document/Encoding.h"
#include "util.h"

#ifdef VELLORAN_BENCH_QT
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/storage/DocumentFile.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/SearchWindow.h"
#include "ui/tools/StatisticsWindow.h"
#endif

namespace velloran::bench {
namespace {

// About `bytes` bytes of words in lines of 40 to 100 characters and 50 marker lines, one
// letter in ten beyond ASCII: in UTF-8 letters of two and three bytes, in Windows-1252 of one.
std::string MakeText(std::size_t bytes, Encoding encoding) {
    static const std::array<const char*, 6> kUtf8 = {"\xc3\xa9", "\xc5\x82",     "\xd1\x8f",
                                                     "\xce\xac", "\xe6\x97\xa5", "\xc3\x9f"};
    static const std::array<const char*, 6> kCp1252 = {"\xe9", "\xfc", "\xdf",
                                                       "\xe0", "\xf6", "\x80"};
    const auto& wide = encoding == Encoding::Utf8 ? kUtf8 : kCp1252;
    std::mt19937 rng(42);
    std::string out;
    out.reserve(bytes + 200);
    const std::size_t perSection = bytes / 51;
    std::size_t nextMarker = perSection;
    int opened = 0;
    while (out.size() < bytes) {
        if (opened < 50 && out.size() >= nextMarker) {
            out += "[S] Chapter " + std::to_string(++opened) + "\r\n";
            nextMarker += perSection;
            continue;
        }
        const int length = 40 + static_cast<int>(rng() % 61);
        for (int i = 0; i < length; ++i) {
            if (i % 7 == 6) {
                out.push_back(' ');
            } else if (rng() % 10 == 0) {
                out += wide[rng() % wide.size()];
            } else {
                out.push_back(static_cast<char>('a' + rng() % 26));
            }
        }
        out += "\r\n";
    }
    return out;
}

// A document of the encoding in a file of its own, made once.
const std::string& DocumentFile(Encoding encoding, std::size_t mib) {
    static std::string paths[2];
    std::string& path = paths[encoding == Encoding::Utf8 ? 1 : 0];
    if (path.empty()) {
        path = TempFolder() + "/doc.vlp";
        const std::string text = MakeText(mib * kMiB, encoding);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, text.data(), text.size()));
        ::close(fd);
    }
    return path;
}

// The command-line statistics as whole processes, reading the files from the page cache.
void BM_CliStatsUtf8BesideCp1252(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    const std::string& utf8 = DocumentFile(Encoding::Utf8, mib);
    const std::string& cp1252 = DocumentFile(Encoding::Windows1252, mib);
    RunProcess({"/bin/cat", utf8});
    RunProcess({"/bin/cat", cp1252});
    double utf8Seconds = 0;
    double cp1252Seconds = 0;
    for (auto _ : st) {
        const double c = RunProcess({VELLORAN_CLI, "stats", cp1252});
        const double u = RunProcess({VELLORAN_CLI, "stats", utf8});
        if (c < 0 || u < 0) {
            st.SkipWithError("a process failed");
            break;
        }
        cp1252Seconds += c;
        utf8Seconds += u;
        st.SetIterationTime(u);
    }
    st.counters["cp1252_ms"] = cp1252Seconds * 1e3 / static_cast<double>(st.iterations());
    st.counters["x_cp1252"] = utf8Seconds / cp1252Seconds;
}
BENCHMARK(BM_CliStatsUtf8BesideCp1252)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef VELLORAN_BENCH_QT

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// One document in its file and in a shown document window with its search and statistics
// windows, with a run state of its own.
struct Opened {
    Opened(std::size_t mib, Encoding encoding) : path(DocumentFile(encoding, mib)) {
        documentWindow.show();
        On([this] { Open(); });
    }
    // Runs f with this document's run state in force.
    template <typename F>
    void On(F&& f) {
        std::swap(state(), st);
        f();
        std::swap(state(), st);
    }
    // With this document's run state in force.
    void Open() {
        CallbackDialogs dialogs;
        Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
        ReadDocument(path, documentWindow.Memo1);
        SplitSections(session);
        QApplication::processEvents();
    }
    std::string path;
    State st;
    DocumentWindow documentWindow;
    PlainList list;
    SearchWindow searchWindow{&documentWindow, &list};
    StatisticsWindow statisticsWindow{&documentWindow};
};

std::unique_ptr<Opened> utf8;
std::unique_ptr<Opened> cp1252;

// Both documents, made once for every benchmark.
void Make(std::size_t mib) {
    if (!utf8) {
        utf8 = std::make_unique<Opened>(mib, Encoding::Utf8);
        cp1252 = std::make_unique<Opened>(mib, Encoding::Windows1252);
    }
}

// Runs step on both documents in each iteration, the UTF-8 one timed.
template <typename Step>
void SideBySide(benchmark::State& st, std::size_t mib, Step step) {
    Make(mib);
    if (utf8->st.DocumentEncoding != Encoding::Utf8 ||
        cp1252->st.DocumentEncoding != Encoding::Windows1252) {
        st.SkipWithError("a document was not read in the encoding it was made in");
        return;
    }
    double utf8Seconds = 0;
    double cp1252Seconds = 0;
    for (auto _ : st) {
        auto start = Clock::now();
        cp1252->On([&] { step(*cp1252); });
        cp1252Seconds += Seconds(start);
        start = Clock::now();
        utf8->On([&] { step(*utf8); });
        const double t = Seconds(start);
        utf8Seconds += t;
        st.SetIterationTime(t);
    }
    st.counters["cp1252_ms"] = cp1252Seconds * 1e3 / static_cast<double>(st.iterations());
    st.counters["x_cp1252"] = utf8Seconds / cp1252Seconds;
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * mib * kMiB));
}

void BM_OpenUtf8BesideCp1252(benchmark::State& st) {
    SideBySide(st, static_cast<std::size_t>(st.range(0)), [](Opened& d) { d.Open(); });
}

void BM_SearchAllUtf8BesideCp1252(benchmark::State& st) {
    SideBySide(st, static_cast<std::size_t>(st.range(0)), [](Opened& d) {
        d.searchWindow.Edit1->setText(QStringLiteral("chapter"));
        d.searchWindow.Button2Click();
    });
}

void BM_StatisticsUtf8BesideCp1252(benchmark::State& st) {
    SideBySide(st, static_cast<std::size_t>(st.range(0)), [](Opened& d) {
        d.statisticsWindow.hide();
        d.statisticsWindow.show();
    });
}

BENCHMARK(BM_OpenUtf8BesideCp1252)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllUtf8BesideCp1252)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatisticsUtf8BesideCp1252)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);

// Typing in the middle of one section of the whole size, a character and then Backspace, in an
// editor that keeps its bytes and their places in step; the floor is the same keys in a bare
// editor of the toolkit's holding the same text, in the same iterations (x_floor).
void BM_TypeInALargeSection(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    const Encoding encoding = st.range(1) ? Encoding::Utf8 : Encoding::Windows1252;
    std::string text = MakeText(mib * kMiB, encoding);
    SectionEditor editor(0);
    editor.SetBytes(text, encoding);
    QPlainTextEdit bare;
    bare.setPlainText(SectionEditor::TextFromBytes(text, encoding));
    text.clear();
    const int middle = editor.document()->characterCount() / 2;
    for (QPlainTextEdit* ed : {static_cast<QPlainTextEdit*>(&editor), &bare}) {
        ed->show();
        QTextCursor c = ed->textCursor();
        c.setPosition(middle);
        ed->setTextCursor(c);
    }
    QApplication::processEvents();
    auto type = [](QPlainTextEdit* ed) {
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(ed, &letter);
        QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(ed, &back);
    };
    double floor = 0;
    for (auto _ : st) {
        auto start = Clock::now();
        type(&bare);
        floor += Seconds(start);
        start = Clock::now();
        type(&editor);
        st.SetIterationTime(Seconds(start));
    }
    if (editor.ByteView() != editor.Bytes()) {
        st.SkipWithError("the bytes did not follow the keys");
    }
    st.counters["floor_ms"] = floor * 1e3 / static_cast<double>(st.iterations());
}
BENCHMARK(BM_TypeInALargeSection)
    ->ArgNames({"MiB", "utf8"})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Args({100, 0})
    ->Args({100, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

#endif

}  // namespace

#ifdef VELLORAN_BENCH_QT
void ReleaseEncodingWindows() {
    utf8.reset();
    cp1252.reset();
}
#endif

}  // namespace velloran::bench
