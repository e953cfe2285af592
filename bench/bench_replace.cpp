// Find and replace across the 100 MiB document, each beside its floor in the same run: a
// regular expression against the search window's own matching of the same word, the preview's
// first 1,000 rows against finding those matches alone, and Replace All of a word that occurs
// 100,000 times against one copy of the document, with the memory it takes beside the
// document's size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <map>
#include <string>

#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/tools/Replace.h"
#include "core/tools/Search.h"
#include "util.h"

namespace velloran::bench {
namespace {

constexpr std::size_t kOccurrences = 100000;
// A word the generated text cannot hold by chance: its words have six letters at most.
constexpr std::string_view kWord = "Velloran";

// The generated document with kWord begun on kOccurrences of its lines, spread over all of it,
// cut into sections as a split cuts it.
struct Book {
    explicit Book(std::size_t mib) {
        const std::string plain = MakeDocument(mib * kMiB, 50);
        std::size_t lines = 0;
        for (char c : plain) {
            lines += c == '\n' ? 1 : 0;
        }
        const std::size_t every = std::max<std::size_t>(lines / kOccurrences, 1);
        std::string doc;
        doc.reserve(plain.size() + kOccurrences * (kWord.size() + 1));
        std::size_t line = 0;
        std::size_t placed = 0;
        for (std::size_t at = 0; at < plain.size();) {
            const std::size_t end = plain.find('\n', at) + 1;
            const std::string_view text(plain.data() + at, end - at);
            if (line++ % every == 0 && placed < kOccurrences && !IsMarkerLine(text)) {
                doc.append(kWord).append(" ");
                ++placed;
            }
            doc.append(text);
            at = end;
        }
        bytes = doc.size();
        ResetState();
        p.buffer.AssignText(std::move(doc));
        SplitSections(p.session);
        lastSection = state().LastSection;
    }
    PlainSession p;
    std::size_t bytes = 0;
    int lastSection = 0;
    // Replace All took the word to "Jonathan" last.
    bool swapped = false;
};

Book& BookOf(std::size_t mib) {
    static std::map<std::size_t, std::unique_ptr<Book>> made;
    auto& book = made[mib];
    if (!book) {
        book = std::make_unique<Book>(mib);
    }
    // Other benchmarks share the run's state.
    state().LastSection = book->lastSection;
    return *book;
}

std::size_t InUse() {
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The search window's own matching of the word in every section, and the same word as a
// regular expression ignoring case: as it is (looked for as text), and with syntax that
// PCRE2 itself must read ("vel+oran").
void BM_RegexSearchBesidePlain(benchmark::State& st) {
    const Book& book = BookOf(static_cast<std::size_t>(st.range(0)));
    const PlainSlots& slots = book.p.sections;
    const Pattern regex(st.range(1) ? "vel+oran" : "velloran", {.regex = true},
                        Encoding::Windows1252);
    double plain = 0;
    double op = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        std::size_t n = 0;
        for (int k = 0; k <= book.lastSection; ++k) {
            n += CountMatches(slots.ReadSlot(k), "velloran", Encoding::Windows1252);
        }
        plain += SecondsSince(t0);
        t0 = Clock::now();
        std::size_t m = 0;
        for (int k = 0; k <= book.lastSection; ++k) {
            MatchCursor cursor(regex, slots.ReadSlot(k));
            while (cursor.Next()) {
                ++m;
            }
        }
        const double seconds = SecondsSince(t0);
        op += seconds;
        if (n != kOccurrences || m != n) {
            st.SkipWithError("the searches found other matches");
        }
        st.SetIterationTime(seconds);
    }
    st.counters["floor_ratio"] = op / plain;
    st.counters["floor_ms"] = plain * 1e3 / static_cast<double>(st.iterations());
}
BENCHMARK(BM_RegexSearchBesidePlain)
    ->Args({100, 0})
    ->Args({100, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The preview's first rows, context and all, beside finding the same matches alone.
void BM_PreviewFirstRows(benchmark::State& st) {
    const Book& book = BookOf(100);
    const std::size_t rows = static_cast<std::size_t>(st.range(0));
    const Pattern word(kWord, {.wholeWords = true}, Encoding::Windows1252);
    const Replacement replacement("Jonah", word);
    double floor = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        std::size_t found = 0;
        for (int k = 0; k <= book.lastSection && found < rows; ++k) {
            const std::string_view text = book.p.sections.ReadSlot(k);
            for (auto m = FindNextMatch(text, {0, 0}, kWord, Encoding::Windows1252);
                 m && found < rows;
                 m = FindNextMatch(text, {m->start + m->length, 0}, kWord, Encoding::Windows1252)) {
                ++found;
            }
        }
        floor += SecondsSince(t0);
        t0 = Clock::now();
        ReplaceScan scan(book.p.sections, book.p.list, book.lastSection, word, replacement);
        scan.Continue(rows);
        benchmark::DoNotOptimize(scan.Plan().rows.data());
        st.SetIterationTime(SecondsSince(t0));
        if (scan.Plan().rows.size() != rows || found != rows) {
            st.SkipWithError("fewer rows than asked for");
        }
    }
    st.counters["floor_ms"] = floor * 1e3 / static_cast<double>(st.iterations());
}
BENCHMARK(BM_PreviewFirstRows)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Replace All in Document: the whole plan, the new texts and the sections set, keeping what
// undoes it; beside one copy of every section's text. memory_x is the most memory the
// replacement held beyond the document, in documents.
void BM_ReplaceAllInDocument(benchmark::State& st) {
    Book& book = BookOf(static_cast<std::size_t>(st.range(0)));
    Session& s = book.p.session;
    double floor = 0;
    double op = 0;
    double memory = 0;
    for (auto _ : st) {
        auto t0 = Clock::now();
        std::size_t copied = 0;
        for (int k = 0; k <= book.lastSection; ++k) {
            const std::string copy = book.p.sections.SlotText(k);
            copied += copy.size();
            benchmark::DoNotOptimize(copy.data());
        }
        floor += SecondsSince(t0);
        // Back and forth, so that every iteration replaces the same number of words.
        const std::string_view from = book.swapped ? "Jonathan" : kWord;
        const std::string_view to = book.swapped ? kWord : "Jonathan";
        book.swapped = !book.swapped;

        const std::size_t base = InUse();
        std::size_t most = 0;
        t0 = Clock::now();
        const Pattern word(from, {.wholeWords = true}, Encoding::Windows1252);
        const Replacement replacement(to, word);
        ReplacePlan plan =
            PlanReplacement(book.p.sections, book.p.list, book.lastSection, word, replacement);
        ReplaceResult result = BuildReplacement(book.p.sections, plan);
        most = std::max(most, InUse() - base);
        ReplaceUndo undo = ApplyReplacement(s, std::move(result));
        most = std::max(most, InUse() - base);
        const double seconds = SecondsSince(t0);
        op += seconds;
        st.SetIterationTime(seconds);
        memory = std::max(memory, static_cast<double>(most) / static_cast<double>(book.bytes));
        if (plan.rows.size() != kOccurrences || copied != book.bytes) {
            st.SkipWithError("another number of words was replaced");
        }
    }
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_ms"] = floor * 1e3 / static_cast<double>(st.iterations());
    st.counters["memory_x"] = memory;
}
BENCHMARK(BM_ReplaceAllInDocument)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
