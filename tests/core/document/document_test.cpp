#include "core/document/Sections.h"
#include "core/storage/DocumentFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using testing::AllLineBytes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::vector<std::string> Cut(std::string_view text) {
    std::vector<std::string> out;
    ForEachLogicalLine(text, [&](std::string_view l) { out.emplace_back(l); });
    return out;
}

TEST(LogicalLines, EveryLineEndForm) {
    EXPECT_THAT(Cut("a\r\nb\rc\nd"), ElementsAre("a", "b", "c", "d"));
    EXPECT_THAT(Cut("a\n\rb"), ElementsAre("a", "", "b"));    // LF CR is two ends
    EXPECT_THAT(Cut("a\r\r\nb"), ElementsAre("a", "", "b"));  // CR CR LF is two ends
    EXPECT_THAT(Cut("a\r\n"), ElementsAre("a"));              // no extra line for a final break
    EXPECT_THAT(Cut("a\r\n\r\n"), ElementsAre("a", ""));
    EXPECT_THAT(Cut("\r\n"), ElementsAre(""));
    EXPECT_THAT(Cut(""), IsEmpty());
    EXPECT_THAT(Cut(std::string("a\0b\nc", 5)), ElementsAre(std::string("a\0b", 3), "c"));
}

// A text is taken as lines each followed by CR LF only when it is exactly that; the scan's
// 64-byte steps meet breaks at their edges too.
TEST(IsCrLfText, OnlyLinesEachFollowedByCrLf) {
    const std::string pad(63, 'x');
    struct Row {
        std::string text;
        bool crlf;
        std::size_t lines;
    };
    for (const Row& row : std::vector<Row>{
             {"", true, 0},
             {"\r\n", true, 1},
             {"a\r\nb\r\n", true, 2},
             {pad + "\r\n" + pad + pad + "\r\n", true, 2},  // CR at the end of a step
             {"a\r\nb", false, 0},                          // last line without a break
             {"a\nb\r\n", false, 0},                        // lone LF
             {pad + "x\n" + pad + "\r\n", false, 0},        // lone LF at a step's start
             {"a\rb\r\n", false, 0},                        // lone CR
             {pad + "\r" + pad + "\r\n", false, 0},         // lone CR at a step's end
             {"a\r\r\n", false, 0},
             {"a\n\r\n", false, 0},
             {std::string(300, '\r') + std::string(300, '\n'), false, 0},
             {[] {
                  std::string many;
                  for (int i = 0; i < 5000; ++i) {
                      many += "\r\n";
                  }
                  return many;
              }(),
              true, 5000},
         }) {
        std::size_t lines = 0;
        EXPECT_EQ(IsCrLfText(row.text, &lines), row.crlf) << row.text.size();
        EXPECT_EQ(lines, row.lines) << row.text.size();
    }
}

// However a buffer keeps its lines (as read, or spanned line by line), it gives the same lines.
TEST(DocumentBuffer, SameLinesHoweverTheyAreStored) {
    for (const std::string text : {"a\r\n\r\nb\r\n", "a\r\nb", "a\nb\rc\r\n", "", "\r\n"}) {
        DocumentBuffer read;
        read.AssignText(text);
        DocumentBuffer appended;
        for (std::string_view line : LogicalLines(text)) {
            appended.Append(line);
        }
        EXPECT_EQ(read.Lines(), appended.Lines()) << text;
        EXPECT_EQ(read.LineCount(), appended.LineCount()) << text;
        EXPECT_EQ(read.ByteCount(), appended.ByteCount()) << text;
        std::string written;
        read.ForEachCrLfPiece(0, read.LineCount(), [&](std::string_view p) { written += p; });
        std::string reference;
        for (const std::string& line : appended.Lines()) {
            reference += line + "\r\n";
        }
        EXPECT_EQ(written, reference) << text;
    }
}

TEST(MarkerLetter, RecognisesOnlyMarkersAtLineStartWithSixBytes) {
    EXPECT_EQ(MarkerLetter("[S] ab"), 'S');
    EXPECT_EQ(MarkerLetter("[s]xyz"), 'S');
    EXPECT_EQ(MarkerLetter("[S] a"), ' ');       // five bytes
    EXPECT_EQ(MarkerLetter(" [S] Title"), ' ');  // leading blank
    EXPECT_EQ(MarkerLetter("[T] Title"), 'T');   // another letter is no section marker
    EXPECT_FALSE(IsMarkerLine("[T] Title"));
    EXPECT_EQ(MarkerLetter("[\xe4] Title"), '\xe4');  // only a-z fold
    EXPECT_EQ(MarkerLetter(""), ' ');
}

class SectionsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetState(); }
    void Split(const std::vector<std::string>& lines) {
        p.buffer.Clear();
        for (const auto& l : lines) {
            p.buffer.Append(l);
        }
        SplitSections(p.session);
    }
    PlainSession p;
};

TEST_F(SectionsTest, EmptyBufferGivesOneEmptyLine) {
    Split({});
    EXPECT_EQ(p.sections.texts[0], "\r\n");
    EXPECT_THAT(p.list.titles, ElementsAre(""));
    EXPECT_EQ(state().LastSection, 0);
    JoinSections(p.session);
    EXPECT_THAT(p.buffer.Lines(), ElementsAre(""));
}

TEST_F(SectionsTest, MarkerOnFirstLineIsListedTwiceAndSlotZeroIsEmpty) {
    Split({"[S] One", "text"});
    EXPECT_THAT(p.list.titles, ElementsAre("[S] One", "[S] One"));
    EXPECT_EQ(p.sections.texts[0], "");
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\ntext\r\n");
    JoinSections(p.session);
    EXPECT_THAT(p.buffer.Lines(), ElementsAre("[S] One", "text"));
}

TEST_F(SectionsTest, PreambleAndSectionsWithTitles) {
    Split({"Preface", "intro", "[S] One", "a", "[s] Two", "b"});
    EXPECT_THAT(p.list.titles, ElementsAre("Preface", "[S] One", "[s] Two"));
    EXPECT_EQ(p.sections.texts[0], "Preface\r\nintro\r\n");
    EXPECT_EQ(p.sections.texts[2], "[s] Two\r\nb\r\n");
    EXPECT_EQ(state().LastSection, 2);
}

TEST_F(SectionsTest, FiftyMarkersAtMostAndLaterOnesStayInTheLastSection) {
    std::vector<std::string> lines{"top"};
    for (int i = 1; i <= 53; ++i) {
        lines.push_back("[S] Section " + std::to_string(i));
    }
    Split(lines);
    EXPECT_EQ(state().LastSection, 50);
    EXPECT_EQ(p.list.Count(), 51);
    EXPECT_EQ(p.sections.texts[50],
              "[S] Section 50\r\n[S] Section 51\r\n[S] Section 52\r\n"
              "[S] Section 53\r\n");
}

TEST_F(SectionsTest, SplitResetsPanesAndModifiedButKeepsValidIndexes) {
    state().Panel1Section = 2;
    state().Panel2Section = 1;
    state().ActiveSection = 1;
    state().Modified = true;
    Split({"a", "[S] One", "[S] Two"});
    EXPECT_EQ(state().Panel1Section, 0);
    EXPECT_EQ(state().Panel2Section, 1);
    EXPECT_EQ(state().ActiveSection, 1);
    EXPECT_FALSE(state().Modified);
}

TEST_F(SectionsTest, SplitToFewerSectionsDropsPaneIndexesAboveTheLastSection) {
    Split({"a", "[S] One", "[S] Two", "[S] Three"});
    state().Panel2Section = 3;
    state().ActiveSection = 2;
    Split({"a", "[S] One"});
    EXPECT_EQ(state().Panel2Section, 0);
    EXPECT_EQ(state().ActiveSection, 0);
}

// A deciphered line may hold a CR or LF byte of its own; it stays one line, and what follows
// that byte inside it opens no section.
TEST_F(SectionsTest, ABreakByteInsideALineOpensNoSection) {
    p.buffer.AssignText("a\r\nb [S] xyz\r\n[S] One\r\n");
    p.buffer.MutableLine(1)[1] = '\n';
    SplitSections(p.session);
    EXPECT_EQ(state().LastSection, 1);
    EXPECT_EQ(p.sections.texts[0], "a\r\nb\n[S] xyz\r\n");
    EXPECT_THAT(p.list.titles, ElementsAre("a", "[S] One"));
}

TEST_F(SectionsTest, RoundTripKeepsEveryByteButLineBreaks) {
    const std::string bytes = AllLineBytes();
    std::vector<std::string> lines{bytes, "", "[S] " + bytes, "  ", bytes + bytes};
    Split(lines);
    JoinSections(p.session);
    EXPECT_EQ(p.buffer.Lines(), lines);
}

TEST_F(SectionsTest, JoinIgnoresSlotsAboveLastSectionAndReadsLogicalLines) {
    Split({"a", "[S] One"});
    p.sections.texts[1] = "[S] One\rx\nlast";  // edited without a final break
    p.sections.texts[2] = "stale";
    JoinSections(p.session);
    EXPECT_THAT(p.buffer.Lines(), ElementsAre("a", "[S] One", "x", "last"));
}

TEST_F(SectionsTest, ReloadRecutsTypedMarkersAndMarksModified) {
    Split({"a", "b"});
    p.sections.texts[0] = "a\r\n[S] New title\r\nb\r\n";
    ReloadSections(p.session);
    EXPECT_THAT(p.list.titles, ElementsAre("a", "[S] New title"));
    EXPECT_EQ(state().LastSection, 1);
    EXPECT_TRUE(state().Modified);
}

class FileFormatTest : public ::testing::Test {
  protected:
    TempDir dir;
    DocumentBuffer buffer;
};

TEST_F(FileFormatTest, ReadCutsLinesAndKeepsBytesAfterNul) {
    WriteBytes(dir / "a.vlp", std::string("one\r\ntw\0o\rthree\n\nfour", 21));
    ReadDocument(dir / "a.vlp", buffer);
    EXPECT_THAT(buffer.Lines(), ElementsAre("one", std::string("tw\0o", 4), "three", "", "four"));
}

TEST_F(FileFormatTest, EmptyFileHasNoLinesAndWritesNothing) {
    WriteBytes(dir / "e.vlp", "");
    ReadDocument(dir / "e.vlp", buffer);
    EXPECT_TRUE(buffer.Empty());
    WriteDocument(dir / "out.vlp", buffer);
    EXPECT_EQ(ReadBytes(dir / "out.vlp"), "");
}

TEST_F(FileFormatTest, WriteEndsEveryLineWithCrLf) {
    buffer.Append("a");
    buffer.Append("");
    buffer.Append(AllLineBytes());
    WriteDocument(dir / "w.vlp", buffer);
    EXPECT_EQ(ReadBytes(dir / "w.vlp"), "a\r\n\r\n" + AllLineBytes() + "\r\n");
    DocumentBuffer back;
    ReadDocument(dir / "w.vlp", back);
    EXPECT_EQ(back.Lines(), buffer.Lines());
}

TEST_F(FileFormatTest, MixedLineEndsComeOutAsCrLfInSlotsAndOnDisk) {
    const std::string mixed = "a\r\nb\nc\r\n[S] One\rd\r\ne";
    WriteBytes(dir / "m.vlp", mixed);
    ReadDocument(dir / "m.vlp", buffer);
    ResetState();
    PlainSlots slots;
    PlainList list;
    CallbackDialogs dialogs;
    Session s{state(), slots, list, buffer, dialogs};
    SplitSections(s);
    EXPECT_EQ(slots.texts[0], "a\r\nb\r\nc\r\n");
    EXPECT_EQ(slots.texts[1], "[S] One\r\nd\r\ne\r\n");
    WriteDocument(dir / "out.vlp", buffer);
    EXPECT_EQ(ReadBytes(dir / "out.vlp"), "a\r\nb\r\nc\r\n[S] One\r\nd\r\ne\r\n");
    JoinSections(s);
    buffer.Append("f");
    WriteDocument(dir / "out.vlp", buffer);
    EXPECT_EQ(ReadBytes(dir / "out.vlp"), "a\r\nb\r\nc\r\n[S] One\r\nd\r\ne\r\nf\r\n");
}

TEST_F(FileFormatTest, ReadOfUnopenableFileNamesThePath) {
    const std::string folder = dir / "folder.vlp";
    ::mkdir(folder.c_str(), 0700);
    try {
        ReadDocument(folder, buffer);
        FAIL() << "a folder was read";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + folder);
    }
}

TEST_F(FileFormatTest, FileLargerThanTheLimitIsRefused) {
    WriteBytes(dir / "big.vlp", std::string(1000, 'x'));
    buffer.Append("kept");
    EXPECT_THROW(ReadDocument(dir / "big.vlp", buffer, 999), Error);
    EXPECT_THAT(buffer.Lines(), ElementsAre("kept"));
    ReadDocument(dir / "big.vlp", buffer, 1000);
    EXPECT_EQ(buffer.ByteCount(), 1000u);
    EXPECT_GE(DocumentSizeLimit(), std::size_t{64} << 20);
}

TEST_F(FileFormatTest, MappingSeesTheBytesAndRefusesWhatReadingRefuses) {
    WriteBytes(dir / "a.vlp", "one\r\n" + AllLineBytes());
    EXPECT_EQ(MapDocument(dir / "a.vlp").Bytes(), "one\r\n" + AllLineBytes());
    WriteBytes(dir / "empty.vlp", "");
    EXPECT_EQ(MapDocument(dir / "empty.vlp").Bytes(), "");

    ::mkfifo((dir / "pipe.vlp").c_str(), 0600);
    ::mkdir((dir / "folder.vlp").c_str(), 0700);
    for (const std::string& path :
         {dir / "missing.vlp", dir / "pipe.vlp", dir / "folder.vlp", std::string("/dev/null")}) {
        try {
            MapDocument(path);
            ADD_FAILURE() << path << " was mapped";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
        }
    }
    EXPECT_THROW(MapDocument(dir / "a.vlp", 5), Error);
}

TEST_F(FileFormatTest, ReadFailureLeavesTheBufferAsItWas) {
    buffer.Append("kept");
    EXPECT_THROW(ReadDocument(dir / "missing.vlp", buffer), Error);
    EXPECT_THAT(buffer.Lines(), ElementsAre("kept"));
}

TEST_F(FileFormatTest, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
    buffer.Append("new");
    const std::string target = dir / "doc.vlp";
    WriteBytes(target, "old\r\n");
    const std::string asFolder = dir / "isfolder.vlp";
    ::mkdir(asFolder.c_str(), 0700);
    const std::vector<std::string> targets{dir / "missing/doc.vlp", asFolder,
                                           target + "/inside.vlp"};
    for (const auto& t : targets) {
        try {
            WriteDocument(t, buffer);
            ADD_FAILURE() << "write to " << t << " succeeded";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + t);
        }
    }
    EXPECT_EQ(ReadBytes(target), "old\r\n");
    EXPECT_EQ(dir.EntryCount(), 2u);  // doc.vlp and isfolder.vlp only
}

TEST_F(FileFormatTest, WriteReplacesTheTargetAndRemovesStaleTemporaryFiles) {
    const std::string target = dir / "doc.vlp";
    WriteBytes(target, "old\r\n");
    WriteBytes(dir / ".doc.vlp~Ab12Cd", "left by a killed save");
    buffer.Append("new");
    WriteDocument(target, buffer);
    EXPECT_EQ(ReadBytes(target), "new\r\n");
    EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST_F(FileFormatTest, SymbolicLinkIsWrittenThroughAndPermissionsAreKept) {
    const std::string real = dir / "real.vlp";
    const std::string link = dir / "link.vlp";
    WriteBytes(real, "old\r\n");
    ::chmod(real.c_str(), 0640);
    ASSERT_EQ(::symlink("real.vlp", link.c_str()), 0);
    buffer.Append("through");
    WriteDocument(link, buffer);

    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(real), "through\r\n");
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileFormatTest, NewFileGetsTheUsualPermissions) {
    const mode_t old = ::umask(022);
    buffer.Append("x");
    WriteDocument(dir / "fresh.vlp", buffer);
    ::umask(old);
    struct stat st;
    ASSERT_EQ(::stat((dir / "fresh.vlp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

}  // namespace
}  // namespace velloran
