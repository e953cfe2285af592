#include "Statistics.h"

#include <algorithm>

#include "Lines.h"

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
        std::size_t lines = 0;
        std::size_t words = 0;
        std::size_t chars = 0;
        std::string_view title;
        ForEachLogicalLine(text, [&](std::string_view line) {
            if (lines == 0) {
                title = line;
            }
            ++lines;
            words += CountWords(line);
            chars += line.size();
        });
        report.push_back(StatisticsRow(lines, words, chars, title));
        totalLines += lines;
        totalWords += words;
        totalChars += chars;
    }
    report.push_back(StatisticsTotals(totalLines, totalWords, totalChars));
    return report;
}

}  // namespace velloran
