#include "core/merge/Merge.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/document/Sections.h"
#include "core/merge/LineMerge.h"

namespace velloran {
namespace {

// Lines written with "\n" as the document holds them, with CR LF.
std::string Doc(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

const std::string kBase =
    Doc("Intro\n"
        "[S] One\none a\none b\none c\n"
        "[S] Two\ntwo a\ntwo b\ntwo c\n"
        "[S] Three\nthree a\nthree b\n");

const std::string kOursStart = "<<<<<<< as changed in ours";
const std::string kTheirsEnd = ">>>>>>> as changed in theirs";

struct Row {
    const char* name;
    std::string base;
    std::string ours;
    std::string theirs;
    std::string merged;
    int conflicts = 0;
};

std::string Replace(std::string text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

std::vector<Row> Rows() {
    const std::string b = kBase;
    auto with = [&](std::initializer_list<std::pair<std::string_view, std::string_view>> edits) {
        std::string t = b;
        for (auto [from, to] : edits) {
            t = Replace(t, Doc(from), Doc(to));
        }
        return t;
    };
    return {
        {"OnlyOursChanged", b, with({{"two b", "two B"}}), b, with({{"two b", "two B"}})},
        {"OnlyTheirsChanged", b, b, with({{"three a", "3a"}}), with({{"three a", "3a"}})},
        {"DifferentSections", b, with({{"one a", "1a"}}), with({{"three b", "3b"}}),
         with({{"one a", "1a"}, {"three b", "3b"}})},
        {"OneSectionLinesApart", b, with({{"two a", "2a"}}), with({{"two c", "2c"}}),
         with({{"two a", "2a"}, {"two c", "2c"}})},
        {"OneSectionNeighbouringLines", b, with({{"two a", "2a"}}), with({{"two b", "2b"}}),
         with({{"two a", "2a"}, {"two b", "2b"}})},
        {"AlikeOnBothSides", b, with({{"two b", "2b"}}), with({{"two b", "2b"}}),
         with({{"two b", "2b"}})},
        {"SameLinesOnBothSides", b, with({{"two b", "mine"}}), with({{"two b", "yours"}}),
         with({{"two b\n",
                "<<<<<<< as changed in ours\nmine\n=======\nyours\n>>>>>>> as changed in "
                "theirs\n"}}),
         1},
        {"PreambleOnBothSidesApart", Doc("a\nb\nc\n[S] One\nx\n"), Doc("A\nb\nc\n[S] One\nx\n"),
         Doc("a\nb\nC\n[S] One\nx\n"), Doc("A\nb\nC\n[S] One\nx\n")},
        {"SectionAddedByOurs", b, with({{"[S] Three\n", "[S] New\nnew\n[S] Three\n"}}),
         with({{"one c", "1c"}}),
         with({{"one c", "1c"}, {"[S] Three\n", "[S] New\nnew\n[S] Three\n"}})},
        {"SectionAddedByTheirs", b, with({{"two b", "2b"}}),
         with({{"[S] Two\n", "[S] New\nnew\n[S] Two\n"}}),
         with({{"two b", "2b"}, {"[S] Two\n", "[S] New\nnew\n[S] Two\n"}})},
        {"SectionsAddedByBothInOnePlace", b, with({{"[S] Two\n", "[S] Mine\nm\n[S] Two\n"}}),
         with({{"[S] Two\n", "[S] Yours\ny\n[S] Two\n"}}),
         with({{"[S] Two\n", "[S] Mine\nm\n[S] Yours\ny\n[S] Two\n"}})},
        {"SectionRemovedByOurs", b, with({{"[S] Two\ntwo a\ntwo b\ntwo c\n", ""}}),
         with({{"one a", "1a"}}), with({{"one a", "1a"}, {"[S] Two\ntwo a\ntwo b\ntwo c\n", ""}})},
        {"SectionRemovedByTheirs", b, with({{"three a", "3a"}}),
         with({{"[S] One\none a\none b\none c\n", ""}}),
         with({{"three a", "3a"}, {"[S] One\none a\none b\none c\n", ""}})},
        {"RemovedByTheirsChangedByOurs", b, with({{"two a", "2a"}}),
         with({{"[S] Two\ntwo a\ntwo b\ntwo c\n", ""}}), with({{"two a", "2a"}}), 1},
        {"RemovedByOursChangedByTheirs", b, with({{"[S] Two\ntwo a\ntwo b\ntwo c\n", ""}}),
         with({{"two a", "2a"}}), with({{"two a", "2a"}}), 1},
        {"SectionMovedByOurs", b,
         Doc("Intro\n[S] Three\nthree a\nthree b\n[S] One\none a\none b\none c\n"
             "[S] Two\ntwo a\ntwo b\ntwo c\n"),
         with({{"two a", "2a"}}),
         Doc("Intro\n[S] Three\nthree a\nthree b\n[S] One\none a\none b\none c\n"
             "[S] Two\n2a\ntwo b\ntwo c\n")},
        {"SectionMovedByTheirs", b, with({{"three b", "3b"}}),
         Doc("Intro\n[S] One\none a\none b\none c\n[S] Three\nthree a\nthree b\n"
             "[S] Two\ntwo a\ntwo b\ntwo c\n"),
         Doc("Intro\n[S] One\none a\none b\none c\n[S] Three\nthree a\n3b\n"
             "[S] Two\ntwo a\ntwo b\ntwo c\n")},
        {"TitleChangedByTheirs", b, with({{"two b", "2b"}}), with({{"[S] Two\n", "[S] Second\n"}}),
         with({{"[S] Two\n", "[S] Second\n"}, {"two b", "2b"}})},
        {"TitleAndTextChangedByOurs", b, with({{"[S] Two\ntwo a\ntwo b\ntwo c\n", "[S] 2\nnew\n"}}),
         with({{"one a", "1a"}}),
         with({{"one a", "1a"}, {"[S] Two\ntwo a\ntwo b\ntwo c\n", "[S] 2\nnew\n"}})},
        {"TitleChangedOnBothSides", b, with({{"[S] Two\n", "[S] Mine\n"}}),
         with({{"[S] Two\n", "[S] Yours\n"}}),
         with({{"[S] Two\n",
                "[S] Mine\n<<<<<<< as changed in ours: the title above\n=======\n [S] Yours\n"
                ">>>>>>> as changed in theirs, after a blank that keeps it from opening a "
                "section\n"}}),
         1},
        {"MarkerLineUnmadeByOurs", b, with({{"[S] Two\n", "Two:\n"}}), with({{"three a", "3a"}}),
         with({{"[S] Two\n", "Two:\n"}, {"three a", "3a"}})},
        {"MarkerLineMadeByTheirs", b, with({{"one a", "1a"}}),
         with({{"two b\n", "[S] Two and a half\ntwo b\n"}}),
         with({{"one a", "1a"}, {"two b\n", "[S] Two and a half\ntwo b\n"}})},
        {"Utf8Bytes",
         Doc("caf\xC3\xA9\n[S] \xC3\xBC"
             "ber\nna\xC3\xAFve\nx\n"),
         Doc("caf\xC3\xA9!\n[S] \xC3\xBC"
             "ber\nna\xC3\xAFve\nx\n"),
         Doc("caf\xC3\xA9\n[S] \xC3\xBC"
             "ber\nna\xC3\xAFve\n\xE2\x82\xAC\n"),
         Doc("caf\xC3\xA9!\n[S] \xC3\xBC"
             "ber\nna\xC3\xAFve\n\xE2\x82\xAC\n")},
        {"Windows1252Bytes",
         Doc("caf\xE9\n[S] \xFC"
             "ber\n\x80\x81\x8D\nx\n"),
         Doc("caf\xE9\n[S] \xFC"
             "ber\n\x80\x81\x8D!\nx\n"),
         Doc("caf\xE9\n[S] \xFC"
             "ber\n\x80\x81\x8D\n\xFF\n"),
         Doc("caf\xE9\n[S] \xFC"
             "ber\n\x80\x81\x8D!\n\xFF\n")},
        {"LoneBreaksAndNoFinalBreak", b, with({{"one a", "1a"}}),
         "Intro\n[S] One\rone a\none b\none c\n[S] Two\ntwo a\ntwo b\ntwo c\n[S] Three\nthree "
         "a\nthree B",
         with({{"one a", "1a"}, {"three b", "three B"}})},
        {"EmptyBase", "", Doc("mine\n"), Doc("yours\n"),
         Doc("<<<<<<< as changed in ours\nmine\n=======\nyours\n>>>>>>> as changed in theirs\n"),
         1},
    };
}

class MergeRows : public ::testing::TestWithParam<Row> {};

TEST_P(MergeRows, MergesAsAWriterWould) {
    const Row& row = GetParam();
    const MergeOutcome outcome =
        MergeVersions(MergeVersion::OfText(row.base), MergeVersion::OfText(row.ours),
                      MergeVersion::OfText(row.theirs));
    EXPECT_EQ(outcome.Text(), row.merged);
    EXPECT_EQ(outcome.Conflicts(), row.conflicts);
    // The result reads back into the sections it was made of.
    const std::string text = outcome.Text();
    EXPECT_EQ(SectionTexts(text).size(), outcome.sections.size());
}

TEST_P(MergeRows, MergesTheSameWithTheSidesSwapped) {
    const Row& row = GetParam();
    if (row.conflicts > 0) {
        return;  // ours stand first in a conflict
    }
    const MergeOutcome outcome =
        MergeVersions(MergeVersion::OfText(row.base), MergeVersion::OfText(row.theirs),
                      MergeVersion::OfText(row.ours));
    if (std::string(row.name) != "SectionsAddedByBothInOnePlace") {
        EXPECT_EQ(outcome.Text(), row.merged);
    }
    EXPECT_EQ(outcome.Conflicts(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, MergeRows, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

std::string Sections(int from, int to, std::string_view tag) {
    std::string out;
    for (int k = from; k <= to; ++k) {
        out += "[S] " + std::string(tag) + std::to_string(k) + "\r\nline\r\n";
    }
    return out;
}

TEST(MergeLimit, KeepsMarkersBeyondTheFiftiethAsLinesOfTheLastSection) {
    const std::string base = "Intro\r\n" + Sections(1, 49, "s");
    const std::string ours = base + Sections(50, 50, "mine");
    const std::string theirs = base + Sections(50, 51, "yours");
    const MergeOutcome outcome = MergeVersions(
        MergeVersion::OfText(base), MergeVersion::OfText(ours), MergeVersion::OfText(theirs));
    ASSERT_EQ(outcome.sections.size(), 51u);
    EXPECT_EQ(outcome.overflow, 1);  // theirs' 51st marker was a line of its 50th section already
    EXPECT_EQ(outcome.Text(), base + Sections(50, 50, "mine") + Sections(50, 51, "yours"));
    EXPECT_EQ(outcome.sections.back().text, Sections(50, 50, "mine") + Sections(50, 51, "yours"));
    const auto notes = MergeNotes(outcome, {});
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes.back().text.find("more than 50 marker lines"), std::string::npos);
}

TEST(MergeNotes, NameEachSectionThatChangedAndWhatBecameOfIt) {
    const std::string theirs = Replace(Replace(kBase, "two b", "2b"), "one a", "1a");
    const std::string ours = Replace(kBase, "two b", "mine");
    const MergeOutcome outcome =
        MergeVersions(MergeVersion::OfText(kBase), MergeVersion::OfText(ours),
                      MergeVersion::OfText(theirs), {"here", "on disk"});
    const auto notes = MergeNotes(outcome, {"here", "on disk"});
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].section, 1);
    EXPECT_FALSE(notes[0].conflict);
    EXPECT_EQ(notes[0].text, "Section 1 \"[S] One\": changed on disk");
    EXPECT_EQ(notes[1].section, 2);
    EXPECT_TRUE(notes[1].conflict);
    EXPECT_EQ(notes[1].text,
              "Section 2 \"[S] Two\": changed here and on disk in the same lines: both versions "
              "kept between marker lines, in 1 place");
    EXPECT_NE(outcome.Text().find("<<<<<<< as changed here\r\nmine\r\n=======\r\n2b\r\n"
                                  ">>>>>>> as changed on disk\r\n"),
              std::string::npos);
}

// The shortest script, checked against the textbook table on small random texts: a wrong step
// in the search shows as a longer script or one that does not make the other side.
TEST(DiffLines, FindsTheShortestScriptThatMakesTheOtherSide) {
    std::mt19937 random(7);
    const std::vector<std::string> pool = {"a", "b", "c", "d"};
    for (int round = 0; round < 500; ++round) {
        std::vector<std::string_view> a;
        std::vector<std::string_view> b;
        for (int i = static_cast<int>(random() % 12); i > 0; --i) {
            a.push_back(pool[random() % pool.size()]);
        }
        for (int i = static_cast<int>(random() % 12); i > 0; --i) {
            b.push_back(pool[random() % pool.size()]);
        }
        const auto hunks = DiffLines(a, b);
        std::vector<std::string_view> made;
        std::size_t at = 0;
        std::size_t steps = 0;
        for (const LineHunk& h : hunks) {
            ASSERT_LE(at, h.baseBegin);
            made.insert(made.end(), a.begin() + static_cast<long>(at),
                        a.begin() + static_cast<long>(h.baseBegin));
            made.insert(made.end(), b.begin() + static_cast<long>(h.sideBegin),
                        b.begin() + static_cast<long>(h.sideEnd));
            steps += (h.baseEnd - h.baseBegin) + (h.sideEnd - h.sideBegin);
            at = h.baseEnd;
        }
        made.insert(made.end(), a.begin() + static_cast<long>(at), a.end());
        ASSERT_EQ(made, b) << "round " << round;
        std::vector<std::vector<std::size_t>> lcs(a.size() + 1,
                                                  std::vector<std::size_t>(b.size() + 1, 0));
        for (std::size_t i = 1; i <= a.size(); ++i) {
            for (std::size_t j = 1; j <= b.size(); ++j) {
                lcs[i][j] = a[i - 1] == b[j - 1] ? lcs[i - 1][j - 1] + 1
                                                 : std::max(lcs[i - 1][j], lcs[i][j - 1]);
            }
        }
        EXPECT_EQ(steps, a.size() + b.size() - 2 * lcs[a.size()][b.size()]) << "round " << round;
    }
}

}  // namespace
}  // namespace velloran
