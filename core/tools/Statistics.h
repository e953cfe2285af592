#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Host.h"

namespace velloran {

// Maximal runs of bytes other than the blank (32); tabs and punctuation belong to words.
std::size_t CountWords(std::string_view line);

inline constexpr std::string_view kStatisticsHeader = "Lines  Words  Char  Section";

// Lines right-aligned in 4 columns, words in 6, chars in 7, three blanks and the title. The
// words and chars numbers always keep at least one blank before them, so a number too wide
// for its column still reads apart from its neighbour.
std::string StatisticsRow(std::size_t lines, std::size_t words, std::size_t chars,
                          std::string_view title);
std::string StatisticsTotals(std::size_t lines, std::size_t words, std::size_t chars);

// What a section's row reports, over its logical lines: their number, the words in them, their
// characters in the document's encoding without the line breaks, and the first of them as the
// title.
struct SectionCounts {
    std::size_t lines = 0;
    std::size_t words = 0;
    std::size_t chars = 0;
    std::string_view title;
};
SectionCounts CountSection(std::string_view text, Encoding encoding);

// The counts of each section that a split cuts from a document file's bytes, taken from the
// bytes themselves in one pass: a line end of any form counts as the CR LF a slot holds, so the
// rows are those of the split document. The titles are views into bytes. An empty file is one
// empty line, as the split reads it.
std::vector<SectionCounts> CountDocumentSections(std::string_view bytes, Encoding encoding);

// The vectors that counting uses: the widest the processor has, unless narrow ones are asked
// for, so that tests can check every width on one machine.
enum class CountingWidth { Widest, Narrow };
void SetCountingWidth(CountingWidth width);

// The report over counted sections: the header, one row per section, the totals.
std::vector<std::string> BuildStatistics(std::span<const SectionCounts> sections);

// The report for slots 0 to lastSection over their logical lines: the header, one row per
// section, the totals. Characters leave out the line breaks.
std::vector<std::string> BuildStatistics(const SectionSlots& slots, int lastSection,
                                         Encoding encoding);

}  // namespace velloran
