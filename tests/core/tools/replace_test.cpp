#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/tools/Replace.h"

namespace velloran {
namespace {

constexpr Encoding kCp1252 = Encoding::Windows1252;
constexpr Encoding kUtf8 = Encoding::Utf8;
constexpr FindOptions kPlain{};
constexpr FindOptions kCase{.matchCase = true};
constexpr FindOptions kWord{.wholeWords = true};
constexpr FindOptions kRegex{.regex = true};
constexpr FindOptions kRegexCase{.matchCase = true, .regex = true};

// Every match of pattern in text replaced, as the document-wide replacement does it.
std::pair<std::string, std::size_t> ReplaceAll(std::string_view text, std::string_view pattern,
                                               FindOptions options, Encoding encoding,
                                               std::string_view replacement) {
    const Pattern p(pattern, options, encoding);
    const Replacement r(replacement, p);
    MatchCursor cursor(p, text);
    std::string out;
    std::size_t at = 0;
    std::size_t n = 0;
    while (const auto m = cursor.Next()) {
        out.append(text.substr(at, m->span.start - at)).append(r.For(text, *m));
        at = m->span.start + m->span.length;
        ++n;
    }
    return {out.append(text.substr(at)), n};
}

struct Case {
    const char* name;
    std::string text;
    std::string pattern;
    FindOptions options;
    Encoding encoding;
    std::string replacement;
    std::string expected;
    std::size_t matches;
};

TEST(Replace, MatchesAndReplacesByTheOptions) {
    const Case cases[] = {
        {"plain_folds_a_to_z_alone", "Jon jon JON J\xf6n", "jon", kPlain, kCp1252, "X",
         "X X X J\xf6n", 3},
        {"plain_never_overlaps", "aaaaa", "aa", kPlain, kCp1252, "b", "bba", 2},
        {"plain_leaves_utf8_letters_beyond_z", "\xc3\xa9t\xc3\xa9 \xc3\x89T\xc3\x89",
         "\xc3\xa9t\xc3\xa9", kPlain, kUtf8, "x", "x \xc3\x89T\xc3\x89", 1},
        {"match_case", "Jon jon", "Jon", kCase, kUtf8, "X", "X jon", 1},
        {"literal_keeps_syntax_literal", "a.b axb a+b", "a.b", kCase, kUtf8, "$1", "$1 axb a+b", 1},
        {"whole_words_utf8", "Jon Jonathan Jon. Jon\xc3\xa9 jon", "Jon", kWord, kUtf8, "Jonah",
         "Jonah Jonathan Jonah. Jon\xc3\xa9 Jonah", 3},
        {"whole_words_cp1252", "Jon Jonathan Jon. Jon\xe9 jon", "Jon", kWord, kCp1252, "Jonah",
         "Jonah Jonathan Jonah. Jon\xe9 Jonah", 3},
        {"unicode_case_utf8", "\xc3\x89t\xc3\xa9 \xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", kWord,
         kUtf8, "x", "x x", 2},
        {"unicode_case_cp1252", "\xc9t\xe9 \xe9t\xe9 \xe9t\xe9s", "\xe9t\xe9", kWord, kCp1252, "x",
         "x x \xe9t\xe9s", 2},
        {"dollar_groups", "John Smith", "(\\w+) (\\w+)", kRegex, kUtf8, "$2, $1", "Smith, John", 1},
        {"backslash_groups", "John Smith", "(\\w+) (\\w+)", kRegex, kUtf8, "\\2 \\1", "Smith John",
         1},
        {"named_groups", "John Smith", "(?<first>\\w+) (?<last>\\w+)", kRegex, kUtf8,
         "${last} ${first} $& $$ \\\\", "Smith John John Smith $ \\", 1},
        {"groups_through_the_code_page", "Caf\xe9 No\xebl!", "(\\w+) (\\w+)", kRegex, kCp1252,
         "$2 $1", "No\xebl Caf\xe9!", 1},
        {"regex_case", "Ab ab", "a(b)", kRegexCase, kCp1252, "[$1]", "Ab [b]", 1},
        {"empty_at_line_starts", "ab\r\ncd\r\n", "^", kRegex, kUtf8, "> ", "> ab\r\n> cd\r\n", 2},
        {"empty_at_word_edges", "ab cd", "\\b", kRegex, kUtf8, "|", "|ab| |cd|", 4},
        {"empty_everywhere", "ab", "", kRegex, kUtf8, "-", "-a-b-", 3},
        {"empty_never_between_cr_and_lf", "a\r\nb", "(?=\\n)", kRegex, kUtf8, "X", "a\r\nb", 0},
        {"line_end_before_crlf", "ab\r\ncd", "$", kRegex, kUtf8, ";", "ab;\r\ncd;", 2},
        {"lf_takes_its_cr", "a\r\nb", "\\n", kRegex, kUtf8, " ", "a b", 1},
        {"cr_takes_its_lf", "a\r\nb", "\\r", kRegex, kUtf8, "", "ab", 1},
        {"plain_line_break", "a\r\nb\r\n", "\r\n", kPlain, kCp1252, " ", "a b ", 2},
        {"dot_stops_at_line_breaks", "ab\r\ncd", "b.c", kRegex, kUtf8, "X", "ab\r\ncd", 0},
        {"any_break", "ab\r\ncd\nef", "\\R", kRegex, kUtf8, "|", "ab|cd|ef", 2},
        {"line_break_in_replacement", "a b", " ", kRegex, kUtf8, "\\n", "a\r\nb", 1},
        {"plain_empty_finds_nothing", "abc", "", kPlain, kUtf8, "x", "abc", 0},
        {"kelvin_sign_is_a_k",
         "\xe2\x84\xaa"
         "elvin",
         "kelvin", kRegex, kUtf8, "x", "x", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [out, n] = ReplaceAll(c.text, c.pattern, c.options, c.encoding, c.replacement);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(n, c.matches);
    }
}

TEST(Replace, LiteralMatchingKeepsEveryOtherByte) {
    // Bytes of every kind, high ones, NUL and lone breaks included, against a plain find; the
    // code page's UTF-8 stands between them and the matcher.
    std::mt19937 rng(37);
    static constexpr char kBytes[] = {'a',    'b',    'A',    '\0',   '\r',   '\n', ' ',
                                      '\x80', '\x9d', '\xe9', '\xc9', '\xff', '_'};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kBytes - 1);
    for (const std::string needle : {"ab",
                                     "\xe9"
                                     "b",
                                     "\x80\xff"}) {
        for (int round = 0; round < 50; ++round) {
            std::string text;
            for (int i = 0; i < 300; ++i) {
                text.push_back(kBytes[pick(rng)]);
            }
            std::string expected;
            std::size_t at = 0;
            for (std::size_t p = text.find(needle); p != std::string::npos;
                 p = text.find(needle, at)) {
                expected.append(text, at, p - at).append("<\xe9>");
                at = p + needle.size();
            }
            expected.append(text, at);
            EXPECT_EQ(ReplaceAll(text, needle, kCase, kCp1252, "<\xe9>").first, expected);
        }
    }
}

TEST(Replace, FindNextStepsFromMatchToMatchAndKnowsASelectedMatch) {
    // Group 1 needs the text before the start: a scan from the middle still looks back.
    for (const Encoding encoding : {kUtf8, kCp1252}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        const std::string text = encoding == kUtf8
                                     ? "\xc3\xa9t\xc3\xa9 x\xc3\xa9t\xc3\xa9 \xc3\xa9t\xc3\xa9"
                                     : "\xe9t\xe9 x\xe9t\xe9 \xe9t\xe9";
        const std::size_t w = encoding == kUtf8 ? 5 : 3;  // bytes of one word
        const Pattern word(encoding == kUtf8 ? "\xc3\xa9t\xc3\xa9" : "\xe9t\xe9", kWord, encoding);
        std::vector<std::size_t> starts;
        Selection at{0, 0};
        while (const auto m = FindNextMatch(word, text, at)) {
            starts.push_back(m->span.start);
            at = {m->span.start, m->span.length};
        }
        // The word inside "x\xe9t\xe9" is no whole word.
        EXPECT_EQ(starts, (std::vector<std::size_t>{0, 2 * w + 3}));
        EXPECT_TRUE(MatchAt(word, text, {0, w}));
        EXPECT_FALSE(MatchAt(word, text, {w + 2, w}));
        EXPECT_FALSE(MatchAt(word, text, {0, w - 1}));
        const Pattern behind("(?<=x)\\w+", kRegex, encoding);
        const auto m = MatchAt(behind, text, {w + 2, w});
        ASSERT_TRUE(m);
        EXPECT_EQ(m->span, (Match::Span{w + 2, w}));
    }
}

TEST(Replace, TextWithoutSyntaxMatchesAsThePatternDoes) {
    // Such a pattern is looked for as text; in a group it goes through PCRE2 whole.
    std::mt19937 rng(41);
    static constexpr const char* kPieces[] = {"a", "b", "A", "B", " ", "_", "\xe9", "\r\n"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    for (const Encoding encoding : {kUtf8, kCp1252}) {
        for (const FindOptions options :
             {kRegex, kRegexCase, FindOptions{.wholeWords = true, .regex = true}}) {
            for (int round = 0; round < 40; ++round) {
                std::string text;
                for (int i = 0; i < 80; ++i) {
                    const std::string piece = kPieces[pick(rng)];
                    text += encoding == kUtf8 && piece == "\xe9" ? "\xc3\xa9" : piece;
                }
                for (const std::string pattern : {"ab", "a b", "B_a"}) {
                    EXPECT_EQ(ReplaceAll(text, pattern, options, encoding, "<$0>"),
                              ReplaceAll(text, "(?:" + pattern + ")", options, encoding, "<$0>"))
                        << pattern << " in " << text;
                }
            }
        }
    }
}

TEST(Replace, InvalidPatternsAndReplacementsAreExplained) {
    const std::pair<const char*, const char*> patterns[] = {
        {"(", "missing closing parenthesis (at character 2)"},
        {"a)", "(at character 2)"},
        {"[z-a]", "range out of order"},
        {"ab\\", "\\ at end of pattern"},
        {"(?<n>a)(?<n>b)", "two named subpatterns have the same name"},
    };
    for (const auto& [pattern, why] : patterns) {
        SCOPED_TRACE(pattern);
        try {
            Pattern p(pattern, kRegex, kUtf8);
            ADD_FAILURE() << "compiled";
        } catch (const Error& e) {
            const std::string message = e.what();
            EXPECT_TRUE(message.starts_with("The pattern cannot be used: ")) << message;
            EXPECT_NE(message.find(why), std::string::npos) << message;
        }
    }
    // The same texts are nothing but text without the option.
    EXPECT_NO_THROW(Pattern("(", kWord, kUtf8));
    EXPECT_EQ(ReplaceAll("a(b", "(", kCase, kUtf8, "[").first, "a[b");

    const Pattern one("(a)(?<x>b)", kRegex, kUtf8);
    for (const char* bad : {"$3", "\\3", "${3}", "${y}", "${99999999999999999999}"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Replacement(bad, one), Error);
    }
    EXPECT_NO_THROW(Replacement("$2 ${x} \\1 $0", one));
    // A UTF-8 document has no character that bytes which are not UTF-8 could match.
    EXPECT_THROW(Pattern("\xe9", kRegex, kUtf8), Error);
    // A text that should be UTF-8 and is not is still searched, byte for byte as it stands.
    EXPECT_EQ(ReplaceAll("caf\xe9 ok \xff", "(o)k", kRegex, kUtf8, "[$1]").first,
              "caf\xe9 [o] \xff");
}

TEST(Replace, RunawayPatternsStopWithAMessage) {
    const std::string line = std::string(30000, 'a') + "!\r\n";
    for (const Encoding encoding : {kUtf8, kCp1252}) {
        const Pattern p("(a+)+$", kRegex, encoding);
        MatchCursor cursor(p, line + "\xe9\r\n");
        try {
            cursor.Next();
            ADD_FAILURE() << "no limit reached";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), kPatternTooComplex);
        }
    }
    // The limits hold for each place a match is tried, not for the whole text: an ordinary
    // pattern that backtracks a little at every word of a long section never reaches them.
    std::string words;
    for (int i = 0; i < 200000; ++i) {
        words += "abcdefgh ";
    }
    const Pattern ordinary("\\w+x", kRegex, kUtf8);
    MatchCursor cursor(ordinary, words);
    EXPECT_EQ(cursor.Next(), std::nullopt);
}

// A document of sections as the windows hold it after a split.
struct Document {
    explicit Document(const std::string& bytes) {
        ResetState();
        p.buffer.AssignText(bytes);
        SplitSections(p.session);
    }
    ReplacePlan Plan(std::string_view pattern, FindOptions options, std::string_view replacement) {
        const Pattern pat(pattern, options, state().DocumentEncoding);
        const Replacement r(replacement, pat);
        return PlanReplacement(p.sections, p.list, state().LastSection, pat, r);
    }
    std::vector<std::string> Texts() const {
        return {p.sections.texts.begin(), p.sections.texts.begin() + state().LastSection + 1};
    }
    PlainSession p;
};

TEST(Replace, PlanListsEveryMatchWithItsPlaceAndContext) {
    Document d(
        "Jon's prologue\r\n[S] One\r\nJon met Jonathan.\r\n\r\nLater, much later in the long "
        "evening, Jon left the house, and Jon wept\r\n[S] Two\r\nnobody\r\n[S] Jon\r\nend\r\n");
    const ReplacePlan plan = d.Plan("Jon", kWord, "Jonah");
    ASSERT_EQ(plan.rows.size(), 5u);
    EXPECT_EQ(plan.counts, (std::vector<std::size_t>{1, 3, 0, 1}));
    EXPECT_EQ(plan.SectionsWithMatches(), 3u);
    EXPECT_EQ(plan.titles[3], "[S] Jon");

    struct Row {
        int section;
        std::size_t line, column;
        const char* before;
        const char* after;
    };
    const Row rows[] = {
        {0, 1, 1, "", "'s prologue"},
        {1, 2, 1, "", " met Jonathan."},
        {1, 4, 40, "much later in the long evening, ", " left the house, and Jon wept"},
        {1, 4, 64, "Jon left the house, and ", " wept"},
        {3, 1, 5, "[S] ", ""},
    };
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        SCOPED_TRACE(i);
        const ReplaceRow& r = plan.rows[i];
        EXPECT_EQ(r.section, rows[i].section);
        EXPECT_EQ(r.line, rows[i].line);
        EXPECT_EQ(r.column, rows[i].column);
        EXPECT_EQ(r.before, rows[i].before);
        EXPECT_EQ(r.after, rows[i].after);
        EXPECT_EQ(r.oldText, "Jon");
        EXPECT_EQ(r.newText, "Jonah");
        // A title changed is still a marker line.
        EXPECT_FALSE(r.changesSections);
        EXPECT_TRUE(r.checked);
    }
}

TEST(Replace, AScanGivesItsRowsAsAskedAndCanStop) {
    Document d("a a\r\n[S] b a\r\na\r\n[S] ccc\r\n[S] a b\r\n");
    const Pattern p("a", kPlain, kUtf8);
    const Replacement r("z", p);
    ReplaceScan scan(d.p.sections, d.p.list, state().LastSection, p, r);
    EXPECT_TRUE(scan.Continue(3));
    EXPECT_EQ(scan.Plan().rows.size(), 3u);
    EXPECT_FALSE(scan.Done());
    EXPECT_FALSE(scan.Continue(100));
    EXPECT_TRUE(scan.Done());
    EXPECT_EQ(scan.Plan().rows.size(), 5u);
    EXPECT_EQ(scan.Plan().counts, (std::vector<std::size_t>{2, 2, 0, 1}));
    EXPECT_FALSE(scan.Continue(1));

    // Replace All in Section: one section alone, the counts of the others nought.
    ReplaceScan one(d.p.sections, d.p.list, 1, p, r, 1);
    EXPECT_FALSE(one.Continue(100));
    EXPECT_EQ(one.Plan().counts, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(one.Plan().rows.front().section, 1);
}

TEST(Replace, OneUndoPutsBackEverySection) {
    const std::string bytes =
        "Jon\r\n[S] One\r\nJon and Jonathan\r\n[S] Two\r\nno one\r\n[S] Three Jon\r\nJon\r\n";
    Document d(bytes);
    const std::vector<std::string> before = d.Texts();
    const std::vector<std::string> titles = d.p.list.titles;
    ReplacePlan plan = d.Plan("jon", kWord, "Jonah");
    ReplaceResult result = BuildReplacement(d.p.sections, plan);
    EXPECT_FALSE(result.resplit);
    EXPECT_EQ(result.replaced, 4u);
    EXPECT_EQ(result.changes.size(), 3u);
    ReplaceUndo undo = ApplyReplacement(d.p.session, std::move(result));
    EXPECT_TRUE(state().Modified);
    EXPECT_EQ(d.Texts(),
              (std::vector<std::string>{"Jonah\r\n", "[S] One\r\nJonah and Jonathan\r\n",
                                        "[S] Two\r\nno one\r\n", "[S] Three Jonah\r\nJonah\r\n"}));
    EXPECT_EQ(d.p.list.titles,
              (std::vector<std::string>{"Jonah", "[S] One", "[S] Two", "[S] Three Jonah"}));
    UndoReplacement(d.p.session, std::move(undo));
    EXPECT_EQ(d.Texts(), before);
    EXPECT_EQ(d.p.list.titles, titles);
}

TEST(Replace, RowsThatMakeOrUnmakeMarkersWaitForTheWriter) {
    const std::string bytes = "intro\r\n(S) Chapter\r\ntext\r\n[S] Two\r\nmore (S) xyz\r\n";
    struct MarkerCase {
        const char* name;
        const char* pattern;
        FindOptions options;
        const char* replacement;
        std::vector<bool> changes;
        std::vector<std::string> titles;  // once every row is checked
    };
    const MarkerCase cases[] = {
        {"makes_one", "(S)", kCase, "[S]", {true, false}, {"intro", "[S] Chapter", "[S] Two"}},
        {"unmakes_one", "\\[S\\] ", kRegex, "", {true}, {"intro"}},
        {"breaks_a_line_before_it",
         " \\(S\\)",
         kRegex,
         "\\n[S]",
         {true},
         {"intro", "[S] Two", "[S] xyz"}},
        // A line break alone, or the break that ends a section, changes no section.
        {"breaks_a_line", "Chapter", kRegex, "Chap\\nter", {false}, {"intro", "[S] Two"}},
        {"joins_the_last_line", "text\\r\\n", kRegex, "text ", {false}, {"intro", "[S] Two"}},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        Document d(bytes);
        const std::vector<std::string> before = d.Texts();
        ReplacePlan plan = d.Plan(c.pattern, c.options, c.replacement);
        ASSERT_EQ(plan.rows.size(), c.changes.size());
        for (std::size_t i = 0; i < plan.rows.size(); ++i) {
            EXPECT_EQ(plan.rows[i].changesSections, c.changes[i]) << i;
            EXPECT_EQ(plan.rows[i].checked, !c.changes[i]) << i;
        }
        // As the preview leaves them, such rows change nothing.
        ReplaceResult unchecked = BuildReplacement(d.p.sections, plan);
        EXPECT_FALSE(unchecked.resplit);

        for (ReplaceRow& row : plan.rows) {
            row.checked = true;
        }
        ReplaceResult result = BuildReplacement(d.p.sections, plan);
        EXPECT_EQ(result.resplit, c.changes[0]);
        ReplaceUndo undo = ApplyReplacement(d.p.session, std::move(result));
        EXPECT_EQ(d.p.list.titles, c.titles);
        EXPECT_EQ(state().LastSection, static_cast<int>(c.titles.size()) - 1);
        EXPECT_TRUE(state().Modified);
        UndoReplacement(d.p.session, std::move(undo));
        EXPECT_EQ(d.Texts(), before);
        EXPECT_EQ(d.p.list.titles, (std::vector<std::string>{"intro", "[S] Two"}));
    }
}

TEST(Replace, TheFiftyFirstMarkerStaysALineOfTheLastSection) {
    std::string bytes = "intro\r\n";
    for (int k = 1; k <= 50; ++k) {
        bytes += "[S] Section " + std::to_string(k) + "\r\n";
    }
    bytes += "(S) one more\r\n";
    Document d(bytes);
    ReplacePlan plan = d.Plan("(S)", kCase, "[S]");
    ASSERT_EQ(plan.rows.size(), 1u);
    EXPECT_TRUE(plan.rows[0].changesSections);
    plan.rows[0].checked = true;
    ApplyReplacement(d.p.session, BuildReplacement(d.p.sections, plan));
    EXPECT_EQ(state().LastSection, kLastSlot);
    EXPECT_EQ(d.p.list.Count(), kSectionCount);
    EXPECT_EQ(d.p.sections.texts[kLastSlot], "[S] Section 50\r\n[S] one more\r\n");
}

}  // namespace
}  // namespace velloran
