// Every export read back by the format's own tools, never by the code that wrote it: python-docx,
// python-odf, epubcheck, pdftotext, pdffonts and pandoc through read_exports.py, and LibreOffice
// for the manuscript as a word processor opens it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using testing::ProcessOptions;
using testing::ProcessResult;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr char kIni[] =
    "[Export]\nAuthor=Jane Q. Writer\nContact1=1 Main Street\nContact2=jane@example.com\n";

struct Row {
    std::string name;
    std::string document;  // the file's bytes
    std::string title;     // UTF-8, as the exports show it
    std::vector<std::string> headings;
    std::vector<std::string> paragraphs;  // in order, each whole
    std::vector<std::string> pdf;         // in order, in the PDF's text
    std::vector<std::string> pdfFonts;
    std::string words = "about 100 words";  // on the title page
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out += l + "\r\n";
    }
    return out;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i ? "," : "") + JsonString(items[i]);
    }
    return out + "]";
}

std::vector<Row> Rows() {
    std::vector<Row> rows;
    rows.push_back({"SceneBreaks",
                    Lines({"Breaks", "[S] One", "Before the break.", "#", "After a hash.", "***",
                           "After stars.", "  * * *  ", "After spaced stars."}),
                    "Breaks",
                    {"One"},
                    {"Before the break.", "#", "After a hash.", "#", "After stars.", "#",
                     "After spaced stars.", "END"},
                    {"Before the break.", "#", "After a hash.", "#", "After stars.", "#",
                     "After spaced stars.", "END"},
                    {}});
    rows.push_back({"EmptySections",
                    Lines({"Hollow", "[S] Full", "Some text.", "[S] Nothing in it", "[S]   ", "",
                           "[S] Last", "The end of it."}),
                    "Hollow",
                    {"Full", "Nothing in it", "", "Last"},
                    {"Some text.", "The end of it."},
                    {"Some text.", "Nothing in it", "Last", "The end of it."},
                    {}});
    rows.push_back({"SectionZeroOnly",
                    Lines({"Only a Title", "A first paragraph", "that runs on.", "",
                           "\tA second,  with a tab."}),
                    "Only a Title",
                    {},
                    {"A first paragraph\nthat runs on.", "\tA second,  with a tab."},
                    {"Only a Title", "A first paragraph that runs on.", "A second,", "with a tab."},
                    {}});
    {
        std::vector<std::string> lines{"Many"};
        Row r{"FiftyOneSections", "", "Many", {}, {}, {}, {}};
        for (int k = 1; k <= 51; ++k) {
            lines.push_back("[S] Part " + std::to_string(k));
            lines.push_back("Text of part " + std::to_string(k) + ".");
            if (k <= 50) {
                r.headings.push_back("Part " + std::to_string(k));
            }
        }
        // The 51st marker is a line of section 50, as the editor reads it.
        r.paragraphs = {"Text of part 1.", "Text of part 50.\n[S] Part 51\nText of part 51."};
        r.pdf = {"Part 1",           "Text of part 1.", "Part 50",
                 "Text of part 50.", "[S] Part 51",     "Text of part 51."};
        r.document = Lines(lines);
        r.words = "about 200 words";
        rows.push_back(r);
    }
    rows.push_back({"Windows1252",
                    Lines({"Caf\xE9 \x80 Nights", "[S] \x93Quoted\x94 na\xEFve",
                           "Cr\xE8me br\xFBl\xE9\x65 for \x80\x35."}),
                    "Café € Nights",
                    {"“Quoted” naïve"},
                    {"Crème brûlée for €5."},
                    {"Crème brûlée for €5."},
                    {}});
    rows.push_back(
        {"Cjk",
         Lines({"春の夜", "[S] 第一章 出発", "吾輩は猫である。名前はまだ無い。", "[S] 第二章",
                "中文段落，标点符号。"}),
         "春の夜",
         {"第一章 出発", "第二章"},
         {"吾輩は猫である。名前はまだ無い。", "中文段落，标点符号。"},
         {"第一章 出発", "吾輩は猫である。名前はまだ無い。", "第二章", "中文段落，标点符号。"},
         {"WenQuanYi"}});
    rows.push_back({"MarkupInTitle",
                    Lines({"<Tom> & \"Jerry\"", "[S] <b>not bold</b> & more",
                           "Text with <i>tags</i>, &amp; and \"quotes\"."}),
                    "<Tom> & \"Jerry\"",
                    {"<b>not bold</b> & more"},
                    {"Text with <i>tags</i>, &amp; and \"quotes\"."},
                    {"<b>not bold</b> & more", "Text with <i>tags</i>, &amp; and \"quotes\"."},
                    {}});
    return rows;
}

class ExportTools : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.path() + "/.config/velloran");
        WriteBytes(dir / ".config/velloran/export.ini", kIni);
    }
    ProcessResult Run(const std::string& program, const std::vector<std::string>& args) {
        ProcessOptions options;
        options.folder = dir.path();
        options.locale = "C.UTF-8";
        return testing::RunProcess(program, args, options);
    }
    testing::TempDir dir;
};

TEST_P(ExportTools, EachFormatsOwnToolReadsTheExport) {
    const Row& row = GetParam();
    WriteBytes(dir / "book.vlp", row.document);
    for (const char* format : {"docx", "odt", "epub", "pdf", "md", "html"}) {
        const ProcessResult r = Run(VELLORAN_CLI, {"export", "book.vlp", "--to", format});
        ASSERT_EQ(r.status, 0) << format << ": " << r.err;
    }
    std::vector<std::string> pdf = row.pdf;
    pdf.insert(pdf.begin(), row.words);
    const std::string expected =
        "{\"title\":" + JsonString(row.title) + ",\"headings\":" + JsonList(row.headings) +
        ",\"paragraphs\":" + JsonList(row.paragraphs) + ",\"pdf\":" + JsonList(pdf) +
        ",\"pdfFonts\":" + JsonList(row.pdfFonts) +
        ",\"manuscript\":true,\"surname\":\"Writer\",\"words\":" + JsonString(row.words) + "}";
    WriteBytes(dir / "expected.json", expected);
    const ProcessResult read =
        Run("/usr/bin/python3", {READ_EXPORTS, dir / "expected.json", dir / "book"});
    EXPECT_EQ(read.status, 0) << read.out << read.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, ExportTools, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return info.param.name; });

// A twelve-chapter novel as a word processor opens the manuscript: LibreOffice's own layout
// shows the title page with the rounded count, a header with the page number on the pages after
// it, and each chapter on a page of its own.
TEST(ExportToolsNovel, LibreOfficeLaysTheManuscriptOutAsOne) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() + "/.config/velloran");
    WriteBytes(dir / ".config/velloran/export.ini", kIni);
    std::vector<std::string> lines{"The Long Winter"};
    for (int k = 1; k <= 12; ++k) {
        lines.push_back("[S] Chapter " + std::to_string(k));
        for (int p = 0; p < 20; ++p) {
            lines.push_back("Snow fell on the village again, and nobody went out that day.");
            lines.emplace_back();
        }
    }
    WriteBytes(dir / "novel.vlp", Lines(lines));
    ProcessOptions options;
    options.folder = dir.path();
    options.locale = "C.UTF-8";
    ProcessResult r =
        testing::RunProcess(VELLORAN_CLI, {"export", "novel.vlp", "--to", "docx"}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    r = testing::RunProcess("/usr/bin/soffice",
                            {"-env:UserInstallation=file://" + dir.path() + "/lo", "--headless",
                             "--convert-to", "pdf", "--outdir", dir.path(), dir / "novel.docx"},
                            options);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto page = [&](int n) {
        const ProcessResult t =
            testing::RunProcess("/usr/bin/pdftotext",
                                {"-f", std::to_string(n), "-l", std::to_string(n), "-enc", "UTF-8",
                                 dir / "novel.pdf", "-"},
                                options);
        return t.out;
    };
    // 12 chapters of 20 paragraphs of 12 words: 2,880 words, about 2,900.
    const std::string title = page(1);
    EXPECT_NE(title.find("about 2,900 words"), std::string::npos) << title;
    EXPECT_NE(title.find("The Long Winter"), std::string::npos) << title;
    EXPECT_EQ(title.find("Writer /"), std::string::npos) << title;
    int chapter = 0;
    for (int n = 2; n < 60 && chapter < 12; ++n) {
        const std::string text = page(n);
        if (text.empty()) {
            break;
        }
        EXPECT_NE(text.find("Writer / THE LONG WINTER / " + std::to_string(n)), std::string::npos)
            << "page " << n << ": " << text;
        const std::string next = "Chapter " + std::to_string(chapter + 1) + "\n";
        if (text.find(next) != std::string::npos) {
            ++chapter;
            // A chapter opens its page: nothing of the one before stands above its heading.
            EXPECT_LT(text.find(next), text.find("Snow fell")) << text;
        }
    }
    EXPECT_EQ(chapter, 12);
}

// A DOCX that python-docx makes, with three headings, comes in as three sections.
TEST(ExportToolsImport, DocxMadeByPythonDocxComesInAsItsChapters) {
    testing::TempDir dir;
    ProcessOptions options;
    options.folder = dir.path();
    options.locale = "C.UTF-8";
    const std::string script =
        "import docx, sys\n"
        "d = docx.Document()\n"
        "d.add_paragraph('The Title')\n"
        "for k in (1, 2, 3):\n"
        "    d.add_heading(f'Chapter {k}', level=1)\n"
        "    d.add_heading('A part of it', level=2)\n"
        "    p = d.add_paragraph('First\\tparagraph  of ')\n"
        "    p.add_run(f'chapter {k}.')\n"
        "    d.add_paragraph('[S] looks like a marker')\n"
        "d.save(sys.argv[1])\n";
    ProcessResult r =
        testing::RunProcess("/usr/bin/python3", {"-c", script, dir / "in.docx"}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    r = testing::RunProcess(VELLORAN_CLI, {"import", "in.docx", "-o", "book.vlp"}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("blank was put before"), std::string::npos) << r.err;
    r = testing::RunProcess(VELLORAN_CLI, {"titles", "book.vlp"}, options);
    EXPECT_EQ(r.out, "The Title\n[S] Chapter 1\n[S] Chapter 2\n[S] Chapter 3\n");
    r = testing::RunProcess(VELLORAN_CLI, {"show", "book.vlp", "2"}, options);
    EXPECT_EQ(r.out,
              "[S] Chapter 2\r\n\r\nA part of it\r\n\r\nFirst\tparagraph  of chapter 2.\r\n\r\n"
              " [S] looks like a marker\r\n\r\n");
    // Nothing is written over a file that is there, unless asked.
    r = testing::RunProcess(VELLORAN_CLI, {"import", "in.docx", "-o", "book.vlp", "--level", "2"},
                            options);
    EXPECT_EQ(r.status, 1) << r.err;
    r = testing::RunProcess(
        VELLORAN_CLI, {"import", "in.docx", "-o", "book.vlp", "--level", "2", "--force"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    r = testing::RunProcess(VELLORAN_CLI, {"titles", "book.vlp"}, options);
    EXPECT_EQ(r.out, "The Title\n[S] A part of it\n[S] A part of it\n[S] A part of it\n");
}

// An ebook with a cover given on the command line passes epubcheck with its image as the cover;
// a cover that is no image, or one for a format without covers, is refused and writes nothing.
TEST(ExportToolsCover, AnEbookCoverPassesEpubcheckAndABadOneIsRefused) {
    testing::TempDir dir;
    ProcessOptions options;
    options.folder = dir.path();
    options.locale = "C.UTF-8";
    WriteBytes(dir / "book.vlp", Lines({"Covered", "[S] One", "Text."}));
    // One transparent pixel.
    WriteBytes(dir / "cover.png",
               std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0"
                           "\x1F\x15\xC4\x89\0\0\0\x0BIDATx\x9C\x63`\0\x02\0\0\x05\0\x01z^\xAB?"
                           "\0\0\0\0IEND\xAE\x42`\x82",
                           68));
    WriteBytes(dir / "text.png", "not an image");
    ProcessResult r = testing::RunProcess(
        VELLORAN_CLI,
        {"export", "book.vlp", "--to", "epub", "--preset", "Ebook", "--cover", "cover.png"},
        options);
    ASSERT_EQ(r.status, 0) << r.err;
    r = testing::RunProcess(
        "/usr/bin/java",
        {"-XX:TieredStopAtLevel=1", "-jar", "/usr/share/java/epubcheck.jar", dir / "book.epub"},
        options);
    EXPECT_NE((r.out + r.err).find("No errors or warnings detected"), std::string::npos)
        << r.out << r.err;
    r = testing::RunProcess("/usr/bin/python3",
                            {"-c",
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "opf = [n for n in z.namelist() if n.endswith('.opf')][0]\n"
                             "print('cover-image' in z.read(opf).decode(), any(n.endswith('.png') "
                             "for n in z.namelist()))\n",
                             dir / "book.epub"},
                            options);
    EXPECT_EQ(r.out, "True True\n") << r.err;

    r = testing::RunProcess(
        VELLORAN_CLI,
        {"export", "book.vlp", "--to", "epub", "--cover", "text.png", "-o", "bad.epub"}, options);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("neither a JPEG nor a PNG"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.epub"));
    r = testing::RunProcess(
        VELLORAN_CLI, {"export", "book.vlp", "--to", "docx", "--cover", "cover.png"}, options);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "book.docx"));
}

}  // namespace
}  // namespace velloran
