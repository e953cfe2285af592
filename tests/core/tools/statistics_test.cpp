#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/tools/Statistics.h"
#include "support/Documents.h"

namespace velloran {
namespace {

// One byte, one character: what these cases were written for.
constexpr Encoding kCp1252 = Encoding::Windows1252;

TEST(CountWords, OnlyTheBlankSeparates) {
    EXPECT_EQ(CountWords(""), 0u);
    EXPECT_EQ(CountWords("    "), 0u);
    EXPECT_EQ(CountWords("one"), 1u);
    EXPECT_EQ(CountWords("  two  words  "), 2u);
    EXPECT_EQ(CountWords("tab\tjoined, words.  -  x"), 4u);
    EXPECT_EQ(CountWords("\t"), 1u);
}

TEST(StatisticsRow, KeepsColumnsWhileNumbersFit) {
    EXPECT_EQ(StatisticsRow(12, 345, 2048, "[S] Methods"), "  12   345   2048   [S] Methods");
    EXPECT_EQ(StatisticsRow(0, 0, 0, ""), "   0     0      0   ");
    EXPECT_EQ(StatisticsRow(9999, 99999, 999999, "t"), "9999 99999 999999   t");
    EXPECT_EQ(StatisticsTotals(1, 2, 3), "   1     2      3   TOTALS");
}

TEST(StatisticsRow, WideNumbersStayApart) {
    // A typical novel: every number fills or overflows its column.
    EXPECT_EQ(StatisticsTotals(24440, 147599, 1145803), "24440 147599 1145803   TOTALS");
    EXPECT_EQ(StatisticsRow(12345, 7, 8, "x"), "12345     7      8   x");
    EXPECT_EQ(StatisticsRow(1, 1234567, 12345678, "x"), "   1 1234567 12345678   x");
}

TEST(BuildStatistics, DocumentWithoutMarkers) {
    PlainSlots slots;
    slots.texts[0] = "First line here\r\n\r\nlast  one \r\n";
    slots.texts[1] = "[S] stale\r\n";  // beyond the last section, so never reported
    const auto report = BuildStatistics(slots, 0, kCp1252);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0], "Lines  Words  Char  Section");
    EXPECT_EQ(report[1], "   3     5     25   First line here");
    EXPECT_EQ(report[2], "   3     5     25   TOTALS");
}

TEST(BuildStatistics, CountsLogicalLinesOfEverySection) {
    PlainSlots slots;
    // The document opened with a marker, so section 0 is empty.
    slots.texts[1] = "[S] One\r\n" + std::string(5000, 'w') + "\r\n";  // shown wrapped: one line
    slots.texts[2] = "[S] Two\ra b\nc";  // lone CR, LF, no final break
    const auto report = BuildStatistics(slots, 2, kCp1252);
    ASSERT_EQ(report.size(), 5u);
    EXPECT_EQ(report[1], "   0     0      0   ");
    EXPECT_EQ(report[2], "   2     3   5007   [S] One");
    EXPECT_EQ(report[3], "   3     5     11   [S] Two");
    EXPECT_EQ(report[4], "   5     8   5018   TOTALS");
}

// The report the statistics window shows for a file: read, split into slots, counted per slot.
std::vector<std::string> WindowReport(const std::string& bytes) {
    ResetState();
    PlainSession p;
    p.buffer.AssignText(bytes);
    SplitSections(p.session);
    return BuildStatistics(p.sections, state().LastSection, state().DocumentEncoding);
}

// The report velloran-cli gives from the file's bytes, in the encoding they are found to have.
std::vector<std::string> FileReport(const std::string& bytes) {
    return BuildStatistics(CountDocumentSections(bytes, DetectEncoding(bytes)));
}

// Every vector width the counting can use on this machine.
class CountingWidths : public ::testing::TestWithParam<CountingWidth> {
  protected:
    void SetUp() override { SetCountingWidth(GetParam()); }
    void TearDown() override { SetCountingWidth(CountingWidth::Widest); }
};

// The characters of a UTF-8 line, one sequence at a time.
std::size_t Utf8Characters(std::string_view line) {
    std::size_t chars = 0;
    char32_t ch;
    for (std::size_t i = 0; i < line.size(); i += DecodeUtf8(line, i, ch)) {
        ++chars;
    }
    return chars;
}

TEST_P(CountingWidths, CountSectionAgreesWithCountingLogicalLines) {
    // Lengths around the counting blocks, so that words, CR LF pairs and characters of several
    // bytes straddle block ends.
    std::mt19937 rng(3);
    static const char* const kPieces[] = {"a",
                                          " ",
                                          " ",
                                          "\r",
                                          "\n",
                                          "\t",
                                          "x",
                                          "\xc3\xa9",
                                          "\xe6\x97\xa5",
                                          "\xef\xbb\xbf",
                                          "\xf0\x9f\x98\x80"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t size = round < 20 ? static_cast<std::size_t>(round) : rng() % 9000;
        while (text.size() < size) {
            text += kPieces[pick(rng)];
        }
        for (Encoding encoding : {Encoding::Utf8, Encoding::Windows1252}) {
            SectionCounts expected;
            ForEachLogicalLine(text, [&](std::string_view line) {
                if (expected.lines++ == 0) {
                    expected.title = line;
                }
                expected.words += CountWords(line);
                expected.chars += encoding == Encoding::Utf8 ? Utf8Characters(line) : line.size();
            });
            const SectionCounts got = CountSection(text, encoding);
            ASSERT_EQ(got.lines, expected.lines) << round;
            ASSERT_EQ(got.words, expected.words) << round;
            ASSERT_EQ(got.chars, expected.chars) << round;
            ASSERT_EQ(got.title, expected.title) << round;
        }
    }
}

TEST_P(CountingWidths, DocumentSectionsReportWhatTheWindowShows) {
    for (const auto& doc : testing::SampleDocuments()) {
        EXPECT_EQ(FileReport(doc.bytes), WindowReport(doc.bytes)) << doc.name;
    }
    std::mt19937 rng(17);
    for (int round = 0; round < 400; ++round) {
        const std::string doc = testing::RandomDocument(rng);
        ASSERT_EQ(FileReport(doc), WindowReport(doc)) << "round " << round;
    }
}

TEST_P(CountingWidths, MarkersAtEveryOffsetAroundTheStretchesCountedAtOnce) {
    for (std::size_t stretch : {4080, 8160}) {
        for (std::size_t at = stretch - 40; at < stretch + 40; ++at) {
            for (const char* line : {"[S] Title\r\n", "[S] a\r\n", "[s]xyz"}) {
                const std::string doc = std::string(at - 1, 'w') + "\n" + line + "after\r\n";
                ASSERT_EQ(FileReport(doc), WindowReport(doc)) << at << " " << line;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Statistics, CountingWidths,
                         ::testing::Values(CountingWidth::Widest, CountingWidth::Narrow),
                         [](const auto& info) {
                             return info.param == CountingWidth::Widest ? "Widest" : "Narrow";
                         });

TEST(CountDocumentSections, LaterMarkersStayInTheLastSection) {
    const auto report = FileReport(testing::MarkerLines(52));
    ASSERT_EQ(report.size(), 53u);  // header, section 0 and 50 marker sections, totals
    EXPECT_EQ(report[1], "   0     0      0   ");
    EXPECT_EQ(report[51], "   6    21     78   [S] Part 50");  // parts 50 to 52
    EXPECT_EQ(report[52], " 104   364   1334   TOTALS");
}

TEST(CountSection, CountsUtf8CharactersAsTheWriterDoes) {
    // "Café 日" and "😀 ok": a character beyond U+FFFF is one, like any other.
    const std::string text = "Caf\xc3\xa9 \xe6\x97\xa5\r\n\xf0\x9f\x98\x80 ok\r\n";
    EXPECT_EQ(CountSection(text, Encoding::Utf8).chars, 10u);
    EXPECT_EQ(CountSection(text, Encoding::Utf8).words, 4u);
    EXPECT_EQ(CountSection(text, kCp1252).chars, 16u);
}

TEST(CountDocumentSections, EmptyFileIsOneEmptyLine) {
    const auto sections = CountDocumentSections("", kCp1252);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].lines, 1u);
    EXPECT_EQ(sections[0].title, "");
}

}  // namespace
}  // namespace velloran
