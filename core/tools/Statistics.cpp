#include "core/tools/Statistics.h"

#include <algorithm>
#include <cstring>

#include "core/document/Sections.h"

namespace velloran {

namespace {

void AppendRight(std::string& out, std::size_t value, std::size_t width, bool needsBlank) {
    const std::string digits = std::to_string(value);
    const std::size_t wanted = std::max(width, digits.size() + (needsBlank ? 1 : 0));
    out.append(wanted - digits.size(), ' ');
    out += digits;
}

std::string Numbers(std::size_t lines, std::size_t words, std::size_t chars) {
    std::string out;
    AppendRight(out, lines, 4, false);
    AppendRight(out, words, 6, true);
    AppendRight(out, chars, 7, true);
    return out;
}

// What the counts of a stretch of text are made of. Each byte is looked at together with the
// byte before it: a word starts where a byte that is not a separator follows a separator (the
// blank, CR or LF: a line break ends a word just as a blank does), every CR or LF byte belongs
// to a line break, and a CR LF pair makes one break. A byte that continues a UTF-8 character is
// no character of its own there. These add up over consecutive stretches, so a document can be
// counted in one pass and cut into sections wherever it is.
struct PairCounts {
    std::size_t wordStarts = 0;
    std::size_t breakBytes = 0;
    std::size_t crLfPairs = 0;
    std::size_t continuations = 0;
};

constexpr bool IsBreak(unsigned char c) {
    return c == '\r' || c == '\n';
}
constexpr bool Separates(unsigned char c) {
    return c == ' ' || IsBreak(c);
}

void CountPair(unsigned char before, unsigned char c, PairCounts& n) {
    n.wordStarts += static_cast<std::size_t>(Separates(before) && !Separates(c));
    n.breakBytes += static_cast<std::size_t>(IsBreak(c));
    n.crLfPairs += static_cast<std::size_t>(before == '\r' && c == '\n');
    n.continuations += static_cast<std::size_t>(IsContinuation(c));
}

// Many bytes at a time, in vectors of byte lanes: a comparison gives -1 in each lane that holds,
// so subtracting it counts; the byte-wide counters are summed every 255 steps, before they can
// wrap. Vectors are passed by reference only, so that their width never meets a call boundary.
using Lanes16 = unsigned char __attribute__((vector_size(16)));
using Lanes32 = unsigned char __attribute__((vector_size(32)));
constexpr std::size_t kFetchAhead = 2048;
// Stretches counted at once by CountDocumentSections: a whole number of 255 steps of either width.
constexpr std::size_t kStretch = sizeof(Lanes32) * 255;

template <typename Lanes>
[[gnu::always_inline]] inline std::size_t Sum(const Lanes& v) {
    unsigned char bytes[sizeof(Lanes)];
    std::memcpy(bytes, &v, sizeof bytes);
    std::size_t sum = 0;
    for (unsigned char b : bytes) {
        sum += b;
    }
    return sum;
}

// Counts the bytes p[from, to), each with the byte before it (p[from - 1] must exist). With
// kSpotMarkers it also tells whether a "[" starts a line in there, where a marker could be.
template <typename Lanes, bool kSpotMarkers>
[[gnu::always_inline]] inline bool CountPairsIn(const unsigned char* p, std::size_t from,
                                                std::size_t to, PairCounts& n) {
    constexpr std::size_t kLanes = sizeof(Lanes);
    const Lanes blank = Lanes{} + ' ';
    const Lanes cr = Lanes{} + '\r';
    const Lanes lf = Lanes{} + '\n';
    const Lanes bracket = Lanes{} + '[';
    const Lanes top2 = Lanes{} + 0xC0;
    const Lanes continuing = Lanes{} + 0x80;
    Lanes spotted{};
    std::size_t i = from;
    while (to - i >= kLanes) {
        const std::size_t end = i + std::min(kLanes * 255, (to - i) / kLanes * kLanes);
        Lanes words{};
        Lanes breaks{};
        Lanes pairs{};
        Lanes continuations{};
        for (; i < end; i += kLanes) {
            // The hardware does not fetch ahead across page boundaries; a mapped file is read
            // at memory speed only when asked for a little ahead of time.
            __builtin_prefetch(p + std::min(i + kFetchAhead, to - 1));
            Lanes c;
            Lanes b;
            std::memcpy(&c, p + i, kLanes);
            std::memcpy(&b, p + i - 1, kLanes);
            const Lanes cCr = reinterpret_cast<Lanes>(c == cr);
            const Lanes cLf = reinterpret_cast<Lanes>(c == lf);
            const Lanes cSep = cCr | cLf | reinterpret_cast<Lanes>(c == blank);
            const Lanes bCr = reinterpret_cast<Lanes>(b == cr);
            const Lanes bBreak = bCr | reinterpret_cast<Lanes>(b == lf);
            const Lanes bSep = bBreak | reinterpret_cast<Lanes>(b == blank);
            words -= bSep & ~cSep;
            breaks -= cCr;
            breaks -= cLf;
            pairs -= bCr & cLf;
            continuations -= reinterpret_cast<Lanes>((c & top2) == continuing);
            if constexpr (kSpotMarkers) {
                spotted |= bBreak & reinterpret_cast<Lanes>(c == bracket);
            }
        }
        n.wordStarts += Sum(words);
        n.breakBytes += Sum(breaks);
        n.crLfPairs += Sum(pairs);
        n.continuations += Sum(continuations);
    }
    bool found = kSpotMarkers && Sum(spotted) != 0;
    for (; i < to; ++i) {
        CountPair(p[i - 1], p[i], n);
        found = found || (kSpotMarkers && IsBreak(p[i - 1]) && p[i] == '[');
    }
    return found;
}

#if defined(__x86_64__) || defined(__i386__)
// Twice the width where the processor has it: counting then keeps pace with memory.
template <bool kSpotMarkers>
[[gnu::target("avx2")]] bool CountPairsAvx2(const unsigned char* p, std::size_t from,
                                            std::size_t to, PairCounts& n) {
    return CountPairsIn<Lanes32, kSpotMarkers>(p, from, to, n);
}
#endif

CountingWidth gWidth = CountingWidth::Widest;

template <bool kSpotMarkers>
bool CountPairs(const unsigned char* p, std::size_t from, std::size_t to, PairCounts& n) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && gWidth == CountingWidth::Widest) {
        return CountPairsAvx2<kSpotMarkers>(p, from, to, n);
    }
#endif
    return CountPairsIn<Lanes16, kSpotMarkers>(p, from, to, n);
}

// The counts of a section from the pair counts over its bytes.
SectionCounts Finish(std::string_view text, const PairCounts& n, Encoding encoding) {
    SectionCounts counts;
    if (text.empty()) {
        return counts;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t title = 0;
    while (title < text.size() && !IsBreak(p[title])) {
        ++title;
    }
    counts.title = text.substr(0, title);
    counts.lines = n.breakBytes - n.crLfPairs + (IsBreak(p[text.size() - 1]) ? 0 : 1);
    counts.words = n.wordStarts;
    counts.chars = text.size() - n.breakBytes - (encoding == Encoding::Utf8 ? n.continuations : 0);
    return counts;
}

// Where a "[" that starts a line at q opens a section: the split's marker rule on its line.
bool OpensSection(std::string_view bytes, std::size_t q) {
    std::size_t end = q;
    while (end < bytes.size() && end - q < 6 && !IsBreak(static_cast<unsigned char>(bytes[end]))) {
        ++end;
    }
    return IsMarkerLine(bytes.substr(q, end - q));
}

class Report {
  public:
    explicit Report(std::size_t sections) {
        lines_.reserve(sections + 2);
        lines_.emplace_back(kStatisticsHeader);
    }
    void Add(const SectionCounts& c) {
        lines_.push_back(StatisticsRow(c.lines, c.words, c.chars, c.title));
        total_.lines += c.lines;
        total_.words += c.words;
        total_.chars += c.chars;
    }
    std::vector<std::string> Finish() {
        lines_.push_back(StatisticsTotals(total_.lines, total_.words, total_.chars));
        return std::move(lines_);
    }

  private:
    std::vector<std::string> lines_;
    SectionCounts total_;
};

}  // namespace

void SetCountingWidth(CountingWidth width) {
    gWidth = width;
}

std::size_t CountWords(std::string_view line) {
    std::size_t words = 0;
    bool inBlank = true;
    for (char c : line) {
        const bool blank = c == ' ';
        words += static_cast<std::size_t>(inBlank && !blank);
        inBlank = blank;
    }
    return words;
}

std::string StatisticsRow(std::size_t lines, std::size_t words, std::size_t chars,
                          std::string_view title) {
    std::string row = Numbers(lines, words, chars);
    row += "   ";
    row += title;
    return row;
}

std::string StatisticsTotals(std::size_t lines, std::size_t words, std::size_t chars) {
    return Numbers(lines, words, chars) + "   TOTALS";
}

SectionCounts CountSection(std::string_view text, Encoding encoding) {
    PairCounts n;
    if (!text.empty()) {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        CountPair(' ', p[0], n);
        CountPairs<false>(p, 1, text.size(), n);
    }
    return Finish(text, n, encoding);
}

std::vector<SectionCounts> CountDocumentSections(std::string_view bytes, Encoding encoding) {
    if (bytes.empty()) {
        // The split reads an empty document as one empty line.
        return {CountSection("\r\n", encoding)};
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<SectionCounts> sections;
    std::size_t sectionStart = 0;
    PairCounts n;
    auto cut = [&](std::size_t at) {
        sections.push_back(Finish(bytes.substr(sectionStart, at - sectionStart), n, encoding));
        sectionStart = at;
        n = PairCounts{};
    };

    // A marker on the very first line opens section 1 and leaves section 0 empty.
    if (OpensSection(bytes, 0)) {
        cut(0);
    }
    CountPair(' ', p[0], n);
    // Blocks without a "[" at a line start, nearly all of them, are counted in one go; the few
    // others are counted piece by piece between the markers found in them.
    std::size_t i = 1;
    while (i < bytes.size()) {
        const std::size_t end = std::min(bytes.size(), i + kStretch);
        if (static_cast<int>(sections.size()) == kLastSlot) {
            CountPairs<false>(p, i, bytes.size(), n);  // the fiftieth marker opened the last slot
            break;
        }
        PairCounts block;
        if (!CountPairs<true>(p, i, end, block)) {
            n.wordStarts += block.wordStarts;
            n.breakBytes += block.breakBytes;
            n.crLfPairs += block.crLfPairs;
            n.continuations += block.continuations;
            i = end;
            continue;
        }
        std::size_t from = i;
        for (std::size_t q = i; q < end; ++q) {
            const void* hit = std::memchr(p + q, '[', end - q);
            if (!hit) {
                break;
            }
            q = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - p);
            if (IsBreak(p[q - 1]) && static_cast<int>(sections.size()) < kLastSlot &&
                OpensSection(bytes, q)) {
                CountPairs<false>(p, from, q, n);
                cut(q);
                from = q;
            }
        }
        CountPairs<false>(p, from, end, n);
        i = end;
    }
    cut(bytes.size());
    return sections;
}

std::vector<std::string> BuildStatistics(std::span<const SectionCounts> sections) {
    Report report(sections.size());
    for (const SectionCounts& c : sections) {
        report.Add(c);
    }
    return report.Finish();
}

std::vector<std::string> BuildStatistics(const SectionSlots& slots, int lastSection,
                                         Encoding encoding) {
    const int last = std::clamp(lastSection, 0, kLastSlot);
    Report report(static_cast<std::size_t>(last) + 1);
    for (int k = 0; k <= last; ++k) {
        report.Add(CountSection(slots.ReadSlot(k), encoding));
    }
    return report.Finish();
}

}  // namespace velloran
