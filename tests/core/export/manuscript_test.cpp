// The book a document makes, the plain formats written from it, and documents made from other
// formats; what the container formats hold is read by their own tools in tests/export.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/export/Export.h"
#include "core/export/Import.h"
#include "core/export/Manuscript.h"
#include "core/export/Xml.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A chapter as a line a block: "P:" paragraphs (lines joined by "|"), "B:" scene breaks.
std::vector<std::string> Shape(const std::vector<Block>& blocks) {
    std::vector<std::string> out;
    for (const Block& b : blocks) {
        std::string text(b.text);
        std::string joined;
        ForEachParagraphLine(text, [&](std::string_view l) {
            joined += (joined.empty() ? "" : "|") + std::string(l);
        });
        out.push_back((b.kind == Block::Kind::SceneBreak ? "B:" : "P:") + joined);
    }
    return out;
}

struct ShapeRow {
    std::string name;
    std::string text;
    ParagraphRule rule;
    std::vector<std::string> chapter;  // the blocks of the first chapter
};

class ManuscriptShape : public ::testing::TestWithParam<ShapeRow> {};

TEST_P(ManuscriptShape, BlocksAreCutAsTheRuleSays) {
    const ShapeRow& row = GetParam();
    ExportChoices choices;
    choices.paragraphs = row.rule;
    const Manuscript m = BuildManuscript(row.text, Encoding::Utf8, choices);
    ASSERT_EQ(m.chapters.size(), 1u);
    EXPECT_EQ(Shape(m.chapters[0].blocks), row.chapter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ManuscriptShape,
    ::testing::Values(
        ShapeRow{"BlankLinesJoinLines",
                 "T\r\n[S] Ch\r\na\r\nb\r\n\r\n \t \r\nc\r\n",
                 ParagraphRule::BlankLines,
                 {"P:a|b", "P:c"}},
        ShapeRow{"EveryLineBreak",
                 "T\r\n[S] Ch\r\na\r\nb\r\n\r\nc\r\n",
                 ParagraphRule::LineBreaks,
                 {"P:a", "P:b", "P:c"}},
        ShapeRow{"SceneBreaksOfEachForm",
                 "T\r\n[S] Ch\r\na\r\n#\r\nb\r\n***\r\nc\r\n  * * * \r\nd\r\n## \r\n",
                 ParagraphRule::BlankLines,
                 {"P:a", "B:#", "P:b", "B:***", "P:c", "B:  * * * ", "P:d|## "}},
        ShapeRow{"TabsAndBlanksKept",
                 "T\r\n[S] Ch\r\n\tx  y   \r\n",
                 ParagraphRule::BlankLines,
                 {"P:\tx  y   "}},
        ShapeRow{"EmptySection", "T\r\n[S] Ch\r\n\r\n\r\n", ParagraphRule::BlankLines, {}}),
    [](const auto& info) { return info.param.name; });

TEST(Manuscript, TitlesComeFromSectionZeroAndTheMarkerLines) {
    ExportChoices choices;
    choices.fallbackTitle = "file";
    Manuscript m = BuildManuscript("\xEF\xBB\xBF  My Book \r\nfront\r\n[S]   One  \r\n[s]xyz\r\n",
                                   Encoding::Utf8, choices);
    EXPECT_EQ(m.title, "My Book");
    EXPECT_EQ(Shape(m.frontMatter), std::vector<std::string>{"P:front"});
    ASSERT_EQ(m.chapters.size(), 2u);
    EXPECT_EQ(m.chapters[0].title, "One");
    EXPECT_EQ(m.chapters[1].title, "xyz");
    // A document that starts with a marker has no title of its own.
    m = BuildManuscript("[S] One\r\ntext\r\n", Encoding::Utf8, choices);
    EXPECT_EQ(m.title, "file");
    choices.title = "Chosen";
    m = BuildManuscript("[S] One\r\ntext\r\n", Encoding::Utf8, choices);
    EXPECT_EQ(m.title, "Chosen");
}

TEST(Manuscript, Windows1252TextBecomesUtf8) {
    const Manuscript m =
        BuildManuscript("Caf\xE9 \x80\r\n[S] \x93Q\x94\r\n\x81\x9D\r\n", Encoding::Windows1252, {});
    EXPECT_EQ(m.title, "Café €");
    EXPECT_EQ(m.chapters[0].title, "“Q”");
    // The bytes the code page leaves undefined are the C1 controls of the same value.
    EXPECT_EQ(Shape(m.chapters[0].blocks), std::vector<std::string>{"P:\xC2\x81\xC2\x9D"});
}

TEST(Manuscript, FiftyFirstMarkerStaysALineOfTheLastChapter) {
    std::string text = "T\r\n";
    for (int k = 1; k <= 51; ++k) {
        text += "[S] Part " + std::to_string(k) + "\r\n";
    }
    const Manuscript m = BuildManuscript(text, Encoding::Utf8, {});
    ASSERT_EQ(m.chapters.size(), 50u);
    EXPECT_EQ(Shape(m.chapters[49].blocks), std::vector<std::string>{"P:[S] Part 51"});
}

TEST(Manuscript, WordsAreRoundedToTheHundred) {
    const std::pair<std::size_t, std::string> rows[] = {
        {0, "about 100 words"},          {149, "about 100 words"},
        {150, "about 200 words"},        {1249, "about 1,200 words"},
        {180040, "about 180,000 words"}, {1234567, "about 1,234,600 words"}};
    for (const auto& [words, text] : rows) {
        Manuscript m;
        m.words = words;
        EXPECT_EQ(m.RoundedWords(), text) << words;
    }
    // Chosen sections only, marker lines and breaks left out.
    const Manuscript m =
        BuildManuscript("Title here\r\n[S] One two\r\na b c\r\n#\r\n[S] xy\r\nd\r\n",
                        Encoding::Utf8, {}, {false, true, false});
    EXPECT_EQ(m.words, 3u);
    EXPECT_FALSE(m.hasFrontMatter);
    ASSERT_EQ(m.chapters.size(), 1u);
    EXPECT_EQ(m.chapters[0].section, 1u);
}

TEST(Manuscript, SectionListsAreIndicesAndRanges) {
    EXPECT_EQ(ParseSectionList("0,2-3", 4), (std::vector<bool>{true, false, true, true, false}));
    EXPECT_EQ(ParseSectionList(" 4 , 1-1", 4),
              (std::vector<bool>{false, true, false, false, true}));
    for (const char* bad : {"", "5", "3-1", "1,", "a", "-2", "1-", "1..2"}) {
        EXPECT_THROW(ParseSectionList(bad, 4), Error) << bad;
    }
}

TEST(Xml, CharactersXmlCannotHoldBecomeReplacements) {
    EXPECT_EQ(XmlSafe("a\tb\r\n"), "a\tb\r\n");
    EXPECT_EQ(XmlSafe(std::string("a\0b\x01", 4)),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(XmlSafe("\xEF\xBF\xBE中"), "\xEF\xBF\xBD中");
}

std::string Exported(const Manuscript& m, ExportFormat format) {
    std::string out;
    OutputFile file([&](std::string_view bytes) {
        out.append(bytes);
        return true;
    });
    WriteExport(m, format, file);
    file.Flush();
    return out;
}

TEST(Export, PlainTextKeepsEveryLineWithoutTheMarkers) {
    const std::string doc = "Title\r\nfront\r\n[S] One\r\n\ta  b\r\nc\r\n\r\n***\r\n[S] Two\r\n";
    const Manuscript m = BuildManuscript(doc, Encoding::Utf8, {});
    EXPECT_EQ(Exported(m, ExportFormat::Text),
              "Title\n\nfront\n\nOne\n\n\ta  b\nc\n\n***\n\nTwo\n\n");
}

// Markdown written and read back gives the same chapters and text, markup characters included.
TEST(Export, MarkdownComesBackAsItWent) {
    TempDir dir;
    const std::string doc =
        "A *Title* \"q\"\r\n[S] One # _x_\r\n\t1. not a list\r\n# heading? no\r\n\r\n"
        "[link](u) <b> & \\ `c`\r\n#\r\n- dash\r\n[S] Two\r\nlast\r\n";
    ExportChoices choices;
    choices.author = "Jane Doe";
    const Manuscript m = BuildManuscript(doc, Encoding::Utf8, choices);
    WriteBytes(dir / "book.md", Exported(m, ExportFormat::Markdown));
    const ImportResult r = ImportDocument(dir / "book.md");
    EXPECT_EQ(r.text,
              "A *Title* \"q\"\r\n\r\n[S] One # _x_\r\n\r\n\t1. not a list\r\n# heading? no\r\n\r\n"
              "[link](u) <b> & \\ `c`\r\n\r\n* * *\r\n\r\n- dash\r\n\r\n[S] Two\r\n\r\nlast\r\n");
}

// The ODT written is read back by the import, headings and all.
TEST(Import, OdtComesBackAsItsChapters) {
    TempDir dir;
    const Manuscript m =
        BuildManuscript("Book\r\n[S] One\r\n  two  blanks\tand a tab\r\nline\r\n[S] Zwei\r\nx\r\n",
                        Encoding::Utf8, {});
    WriteBytes(dir / "book.odt", Exported(m, ExportFormat::Odt));
    const ImportResult r = ImportDocument(dir / "book.odt");
    EXPECT_EQ(r.level, 1);
    EXPECT_EQ(r.text,
              "\tabout 100 words\r\n\r\nBook\r\n\r\n[S] One\r\n\r\n  two  blanks\tand a tab\r\n"
              "line\r\n\r\n[S] Zwei\r\n\r\nx\r\n\r\nEND\r\n");
}

struct ImportRow {
    std::string name;
    std::string markdown;
    std::optional<int> level;
    std::size_t sections;  // after section 0
    std::size_t beyond;
    std::size_t guarded;
};

class ImportLevels : public ::testing::TestWithParam<ImportRow> {};

TEST_P(ImportLevels, HeadingsOfTheLevelOpenSections) {
    const ImportRow& row = GetParam();
    TempDir dir;
    WriteBytes(dir / "in.md", row.markdown);
    const ImportResult r = ImportDocument(dir / "in.md", row.level);
    EXPECT_EQ(SectionTexts(r.text).size() - 1, row.sections);
    EXPECT_EQ(r.beyondLast, row.beyond);
    EXPECT_EQ(r.guardedLines, row.guarded);
    EXPECT_EQ(ImportNotes(r).find("fiftieth") != std::string::npos, row.beyond > 0);
}

std::string ManyHeadings(int n) {
    std::string md;
    for (int k = 1; k <= n; ++k) {
        md += "# H" + std::to_string(k) + "\n\ntext\n\n";
    }
    return md;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ImportLevels,
    ::testing::Values(
        ImportRow{"TopLevelInUse", "intro\n## A\n### a\n## B\n", std::nullopt, 2, 0, 0},
        ImportRow{"ChosenLevel", "## A\n### a\n### b\n## B\n### c\n", 3, 3, 0, 0},
        ImportRow{"SetextHeadings", "A\n===\ntext\nB\n---\n", 1, 1, 0, 0},
        ImportRow{"FencedHashesAreText", "# A\n```\n# not\n```\n", std::nullopt, 1, 0, 0},
        ImportRow{"ShortTitleStillOpensASection", "# 1\n# \n", std::nullopt, 2, 0, 0},
        ImportRow{"MarkerLikeTextIsGuarded", "# A\n[S] not a section\n", std::nullopt, 1, 0, 1},
        ImportRow{"FiftyOneHeadings", ManyHeadings(51), std::nullopt, 50, 1, 0}),
    [](const auto& info) { return info.param.name; });

TEST(Import, FilesThatAreNotOfTheirFormatAreRefusedClearly) {
    TempDir dir;
    WriteBytes(dir / "bad.docx", "not a zip");
    try {
        ImportDocument(dir / "bad.docx");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot import " + (dir / "bad.docx") + ": it is not a DOCX file");
    }
    EXPECT_THROW(ImportDocument(dir / "missing.odt"), Error);
    EXPECT_THROW(ImportDocument(dir / "book.rtf"), Error);
}

// A canceled export leaves the file it would replace as it was, and nothing beside it.
TEST(Export, CanceledLeavesNothingBehind) {
    TempDir dir;
    WriteBytes(dir / "out.docx", "old");
    std::string doc = "T\r\n[S] Ch\r\n";
    for (int i = 0; i < 2000; ++i) {
        doc += "line\r\n\r\n";
    }
    const Manuscript m = BuildManuscript(doc, Encoding::Utf8, {});
    for (const ExportFormat format :
         {ExportFormat::Docx, ExportFormat::Epub, ExportFormat::Html, ExportFormat::Text}) {
        std::uint64_t seen = 0;
        EXPECT_THROW(ExportToFile(m, format, dir / "out.docx",
                                  [&](std::uint64_t done, std::uint64_t total) {
                                      seen = done;
                                      EXPECT_LE(done, total);
                                      return done < 1000;
                                  }),
                     ExportCanceled);
        EXPECT_GE(seen, 1000u);
        EXPECT_EQ(ReadBytes(dir / "out.docx"), "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

}  // namespace
}  // namespace velloran
