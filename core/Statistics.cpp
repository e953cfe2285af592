#include "Statistics.h"

#include <algorithm>

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

}  // namespace

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

SectionCounts CountSection(std::string_view text) {
    SectionCounts counts;
    const std::size_t n = text.size();
    if (n == 0) {
        return counts;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t title = 0;
    while (title < n && p[title] != '\r' && p[title] != '\n') {
        ++title;
    }
    counts.title = text.substr(0, title);

    // One pass over byte pairs: a line break ends a word just as a blank does, every CR or LF
    // byte belongs to a break, and a CR LF pair makes one break. Byte-wide counters over
    // blocks of 255 let the compiler vectorise the loop.
    const unsigned char first = p[0];
    std::size_t wordStarts = (first == ' ' || first == '\r' || first == '\n') ? 0 : 1;
    std::size_t breakBytes = (first == '\r' || first == '\n') ? 1 : 0;
    std::size_t pairs = 0;
    // Sums rather than ors keep the compiler from turning the tests into a 64-bit bit test,
    // which it cannot vectorise.
    for (std::size_t base = 0; base + 1 < n; base += 255) {
        const int len = static_cast<int>(std::min<std::size_t>(n - 1 - base, 255));
        const unsigned char* prev = p + base;
        const unsigned char* cur = prev + 1;
        unsigned char w = 0;
        unsigned char br = 0;
        unsigned char pr = 0;
        for (int i = 0; i < len; ++i) {
            const unsigned char c = cur[i];
            const unsigned char b = prev[i];
            const unsigned char cBreak = (c == '\r') + (c == '\n');
            const unsigned char cSep = cBreak + (c == ' ');
            const unsigned char bSep = (b == ' ') + (b == '\r') + (b == '\n');
            w += (cSep ^ 1) & bSep;
            br += cBreak;
            pr += (b == '\r') & (c == '\n');
        }
        wordStarts += w;
        breakBytes += br;
        pairs += pr;
    }
    const bool endsInBreak = p[n - 1] == '\r' || p[n - 1] == '\n';
    counts.lines = breakBytes - pairs + (endsInBreak ? 0 : 1);
    counts.words = wordStarts;
    counts.chars = n - breakBytes;
    return counts;
}

std::vector<std::string> BuildStatistics(const SectionSlots& slots, int lastSection) {
    const int last = std::clamp(lastSection, 0, kLastSlot);
    std::vector<std::string> report;
    report.reserve(static_cast<std::size_t>(last) + 3);
    report.emplace_back(kStatisticsHeader);
    std::size_t totalLines = 0;
    std::size_t totalWords = 0;
    std::size_t totalChars = 0;
    for (int k = 0; k <= last; ++k) {
        const std::string text = slots.SlotText(k);
        const SectionCounts c = CountSection(text);
        report.push_back(StatisticsRow(c.lines, c.words, c.chars, c.title));
        totalLines += c.lines;
        totalWords += c.words;
        totalChars += c.chars;
    }
    report.push_back(StatisticsTotals(totalLines, totalWords, totalChars));
    return report;
}

}  // namespace velloran
