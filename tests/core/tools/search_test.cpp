#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/tools/Search.h"

namespace velloran {
namespace {

// One byte, one character: what these cases were written for.
constexpr Encoding kCp1252 = Encoding::Windows1252;

// Straightforward readings of the matching rules, to check the fast scans against.
bool MatchesAt(std::string_view text, std::size_t p, std::string_view s) {
    if (p + s.size() > text.size()) {
        return false;
    }
    for (std::size_t j = 0; j < s.size(); ++j) {
        if (FoldUpper(text[p + j]) != FoldUpper(s[j])) {
            return false;
        }
    }
    return true;
}

std::size_t NaiveCount(std::string_view text, std::string_view s) {
    std::size_t count = 0;
    for (std::size_t p = 0; p <= text.size(); ++p) {
        count += MatchesAt(text, p, s) ? 1 : 0;
    }
    return count;
}

std::optional<std::size_t> NaiveFind(std::string_view text, std::size_t from, std::string_view s) {
    for (std::size_t p = from; p < text.size(); ++p) {
        if (MatchesAt(text, p, s)) {
            return p;
        }
    }
    return std::nullopt;
}

// Bytes chosen so that every near miss of the folding rule turns up: letters of both cases,
// the neighbours of A-Z and a-z, and letters above 127 whose codes differ by 32.
std::string RandomText(std::mt19937& rng, std::size_t size) {
    static constexpr char kBytes[] = {'a',  'A',  'b', 'B',    '@',    '`', '[', '{',
                                      '\r', '\n', ' ', '\xC4', '\xE4', 'z', 'Z'};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kBytes - 1);
    std::string s;
    for (std::size_t i = 0; i < size; ++i) {
        s.push_back(kBytes[pick(rng)]);
    }
    return s;
}

TEST(Folding, CoversOnlyAToZ) {
    EXPECT_EQ(FoldUpper('a'), 'A');
    EXPECT_EQ(FoldUpper('z'), 'Z');
    EXPECT_EQ(FoldLower('A'), 'a');
    EXPECT_EQ(FoldLower('Z'), 'z');
    for (char c : {'@', '[', '`', '{', '1', ' ', '\xC4', '\xE4', '\xFF', '\0'}) {
        EXPECT_EQ(FoldUpper(c), c);
        EXPECT_EQ(FoldLower(c), c);
    }
}

TEST(CountMatches, CountsOverlappingAndIgnoresLetterCase) {
    EXPECT_EQ(CountMatches("aaaa", "aa", kCp1252), 3u);
    EXPECT_EQ(CountMatches("The theme THE", "the", kCp1252), 3u);
    EXPECT_EQ(CountMatches("abcab", "AB", kCp1252), 2u);
    EXPECT_EQ(CountMatches("xx ab", "ab", kCp1252), 1u);  // a match that ends the text
    EXPECT_EQ(CountMatches("aAaA", "a", kCp1252), 4u);
    EXPECT_EQ(CountMatches("one\r\ntwo\r\n", "\r\n", kCp1252), 2u);
}

TEST(CountMatches, FoldsNothingBeyondLetters) {
    // 'Ä' and 'ä' are 0xC4 and 0xE4, and '@'/'`', '['/'{' also differ by 32: none of them fold.
    EXPECT_EQ(CountMatches("\xC4"
                           "B \xE4"
                           "b \xC4"
                           "b",
                           "\xC4"
                           "B",
                           kCp1252),
              2u);
    EXPECT_EQ(CountMatches("@`@", "`", kCp1252), 1u);
    EXPECT_EQ(CountMatches("[{[", "{", kCp1252), 1u);
    EXPECT_EQ(CountMatches("x@", "x`", kCp1252), 0u);
}

TEST(CountMatches, EmptyAndOversizedSearchText) {
    EXPECT_EQ(CountMatches("", "", kCp1252), 1u);
    EXPECT_EQ(CountMatches("ab\r\n", "", kCp1252), 5u);
    EXPECT_EQ(CountMatches("", "a", kCp1252), 0u);
    EXPECT_EQ(CountMatches("ab", "abc", kCp1252), 0u);
    EXPECT_EQ(CountMatches("ab", "AB", kCp1252), 1u);
}

TEST(CountMatches, AgreesWithDirectReading) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        const std::string text = RandomText(rng, rng() % 60);
        const std::string s = RandomText(rng, 1 + rng() % 3);
        ASSERT_EQ(CountMatches(text, s, kCp1252), NaiveCount(text, s))
            << "text '" << text << "' s '" << s;
    }
}

// Texts long enough for the scan's 16-position steps, and search texts long enough that their
// last byte lies in a step of its own.
TEST(CountMatches, AgreesWithDirectReadingAcrossScanSteps) {
    std::mt19937 rng(13);
    for (int round = 0; round < 300; ++round) {
        const std::string text = RandomText(rng, rng() % 300);
        const std::string s = RandomText(rng, 1 + rng() % 20);
        ASSERT_EQ(CountMatches(text, s, kCp1252), NaiveCount(text, s))
            << "text '" << text << "' s '" << s;
        const std::size_t from = rng() % (text.size() + 1);
        const auto found = FindNextMatch(text, {from, 0}, s, kCp1252);
        ASSERT_EQ(found ? std::optional(found->start) : std::nullopt, NaiveFind(text, from, s));
    }
}

TEST(FindNextMatch, FindsAtTheCaretAndStepsFromASelection) {
    const std::string text = "The cat saw the other";
    // A caret at the very start finds the match there, as in a section's title line.
    EXPECT_EQ(FindNextMatch(text, {0, 0}, "the", kCp1252), (Selection{0, 3}));
    // With that match selected, the next search moves on; "other" holds a third one.
    EXPECT_EQ(FindNextMatch(text, {0, 3}, "the", kCp1252), (Selection{12, 3}));
    EXPECT_EQ(FindNextMatch(text, {12, 3}, "the", kCp1252), (Selection{17, 3}));
    EXPECT_EQ(FindNextMatch(text, {17, 3}, "the", kCp1252), std::nullopt);
    // A caret just past a match's start does not find it again, and nothing wraps round.
    EXPECT_EQ(FindNextMatch(text, {1, 0}, "THE", kCp1252), (Selection{12, 3}));
    EXPECT_EQ(FindNextMatch(text, {18, 0}, "the", kCp1252), std::nullopt);
}

TEST(FindNextMatch, StepsThroughEveryMatchInOrder) {
    const std::string text = "aaaa\r\naa";
    std::vector<std::size_t> starts;
    Selection sel{0, 0};
    while (auto next = FindNextMatch(text, sel, "AA", kCp1252)) {
        starts.push_back(next->start);
        sel = *next;
    }
    EXPECT_EQ(starts, (std::vector<std::size_t>{0, 1, 2, 6}));
}

TEST(FindNextMatch, MissesWithoutAnything) {
    EXPECT_EQ(FindNextMatch("abc", {0, 0}, "", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("ab", {0, 0}, "abc", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("", {0, 0}, "a", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("abc", {99, 0}, "c", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("abc", {static_cast<std::size_t>(-1), 5}, "c", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("abc", {2, 0}, "c", kCp1252), (Selection{2, 1}));
    EXPECT_EQ(FindNextMatch("abc", {2, 1}, "c", kCp1252), std::nullopt);
    EXPECT_EQ(FindNextMatch("\xE4"
                            "b",
                            {0, 0},
                            "\xC4"
                            "B",
                            kCp1252),
              std::nullopt);
}

TEST(FindNextMatch, AgreesWithDirectReading) {
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        const std::string text = RandomText(rng, rng() % 40);
        const std::string s = RandomText(rng, 1 + rng() % 3);
        const Selection sel{rng() % (text.size() + 2), rng() % 3};
        const auto expected = NaiveFind(text, sel.length > 0 ? sel.start + 1 : sel.start, s);
        const auto got = FindNextMatch(text, sel, s, kCp1252);
        ASSERT_EQ(got.has_value(), expected.has_value()) << "text '" << text << "' s '" << s;
        if (got) {
            EXPECT_EQ(got->start, *expected);
            EXPECT_EQ(got->length, s.size());
        }
    }
}

// "Café café\r\n😀 É": matches and counts are of characters, and only whole characters match.
TEST(CountMatches, CountsCharacterPositionsInUtf8) {
    const std::string text = "Caf\xc3\xa9 caf\xc3\xa9\r\n\xf0\x9f\x98\x80 \xc3\x89";
    EXPECT_EQ(CountMatches(text, "CAF\xc3\xa9", Encoding::Utf8), 2u);
    EXPECT_EQ(CountMatches(text, "\xc3\xa9", Encoding::Utf8), 2u);  // "É" is not folded
    EXPECT_EQ(CountMatches(text, "\xf0\x9f\x98\x80", Encoding::Utf8), 1u);
    // 9 characters, a break counting two, 3 more, and one.
    EXPECT_EQ(CountMatches(text, "", Encoding::Utf8), 15u);
    EXPECT_EQ(CountMatches(text, "", kCp1252), text.size() + 1);
    // Parts of characters are no characters.
    EXPECT_EQ(CountMatches(text, "\xa9", Encoding::Utf8), 0u);
    EXPECT_EQ(CountMatches(text, "\xc3", Encoding::Utf8), 0u);
    EXPECT_EQ(CountMatches(text, "\xa9", kCp1252), 2u);
}

TEST(FindNextMatch, SelectsWholeCharactersInUtf8) {
    const std::string text = "Caf\xc3\xa9 caf\xc3\xa9";
    EXPECT_EQ(FindNextMatch(text, {0, 0}, "caf\xc3\xa9", Encoding::Utf8), (Selection{0, 5}));
    EXPECT_EQ(FindNextMatch(text, {0, 5}, "caf\xc3\xa9", Encoding::Utf8), (Selection{6, 5}));
    EXPECT_EQ(FindNextMatch(text, {0, 0}, "\xa9", Encoding::Utf8), std::nullopt);
    EXPECT_EQ(FindNextMatch(text, {0, 0}, "\xa9", kCp1252), (Selection{4, 1}));
}

TEST(SearchAllRows, OneRowPerListedSection) {
    PlainSlots slots;
    PlainList list;
    slots.texts[0] = "Intro\r\nthe end\r\n";
    slots.texts[1] = "[S] The One\r\nthere\r\n";
    slots.texts[2] = "[S] Stale\r\nthe the the\r\n";  // left over from an earlier split
    list.titles = {"Intro", "[S] The One"};
    EXPECT_EQ(SearchAllRows(slots, list, "the", kCp1252),
              (std::vector<std::string>{"1    Intro", "2    [S] The One"}));
    EXPECT_EQ(SearchAllRows(slots, list, "", kCp1252),
              (std::vector<std::string>{"17    Intro", "21    [S] The One"}));
    list.titles.clear();
    EXPECT_TRUE(SearchAllRows(slots, list, "the", kCp1252).empty());
}

}  // namespace
}  // namespace velloran
