#include "core/merge/DiskMerge.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <ostream>
#include <thread>

#include "core/commands/ConflictCopies.h"
#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/storage/FileIO.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr const char* kDoc = "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n[S] Three\r\nthree\r\n";

class DiskMergeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetState();
        path = dir / "June.vlp";
        WriteBytes(path, kDoc);
        st.FileName = path;
        ASSERT_TRUE(OpenDocumentFile(p.session, path));
        SplitSections(p.session);
    }
    void Replace(const std::string& text) {
        WriteBytes(path + ".new", text);
        ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    }

    TempDir dir;
    // The trash on the document's own disk, where merged copies go.
    testing::ScopedEnv data{"XDG_DATA_HOME", dir / "data"};
    std::string path;
    PlainSession p;
    State& st = state();
};

TEST_F(DiskMergeTest, NothingUnsavedIsReloadedAndTold) {
    Replace("Intro\r\n[S] One\r\none\r\n[S] New\r\nnew\r\n[S] Two\r\ntwo\r\n[S] Three\r\n3\r\n");
    ASSERT_TRUE(FollowDiskChange(p.session));
    EXPECT_THAT(p.list.titles, ElementsAre("Intro", "[S] One", "[S] New", "[S] Two", "[S] Three"));
    EXPECT_EQ(st.LastSection, 4);
    EXPECT_EQ(p.sections.texts[4], "[S] Three\r\n3\r\n");
    EXPECT_FALSE(st.Modified);
    ASSERT_EQ(p.dialogs.reports.size(), 1u);
    EXPECT_TRUE(p.dialogs.reports[0].reload);
    EXPECT_EQ(p.dialogs.reports[0].summary,
              "Sections 2, 3 and 4 changed on disk and were reloaded");
    // Seen once: no change until the file changes again.
    EXPECT_FALSE(FollowDiskChange(p.session));
}

// A section moved on disk puts ours into another slot; what a slot held is read before any
// slot is replaced.
TEST_F(DiskMergeTest, UnsavedChangesFollowASectionMovedOnDisk) {
    p.sections.texts[3] = "[S] Three\r\nmine\r\n";
    st.Modified = true;
    Replace("Intro\r\n[S] Three\r\nthree\r\n[S] One\r\none\r\n[S] Two\r\ntwo, theirs\r\n");
    ASSERT_TRUE(FollowDiskChange(p.session));
    EXPECT_EQ(p.sections.texts[1], "[S] Three\r\nmine\r\n");
    EXPECT_EQ(p.sections.texts[2], "[S] One\r\none\r\n");
    EXPECT_EQ(p.sections.texts[3], "[S] Two\r\ntwo, theirs\r\n");
    EXPECT_TRUE(st.Modified);
    EXPECT_FALSE(p.dialogs.reports.at(0).reload);
    // The base is the file now: the same edit again is no change of theirs.
    EXPECT_EQ(*st.MergeBase, ReadBytes(path));
}

// An editor whose last line has no break yet holds the lines the merge keeps: it is not
// touched, so the caret stays where the writer types.
TEST_F(DiskMergeTest, ASectionTypedWithoutAFinalBreakIsLeftAsItIs) {
    p.sections.texts[1] = "[S] One\r\none\r\nstill typing";
    st.Modified = true;
    Replace("Intro\r\n[S] One\r\none\r\n[S] Two\r\n2\r\n[S] Three\r\nthree\r\n");
    ASSERT_TRUE(FollowDiskChange(p.session));
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\none\r\nstill typing");
    EXPECT_EQ(p.sections.texts[2], "[S] Two\r\n2\r\n");
}

TEST_F(DiskMergeTest, TextOnDiskInWindows1252IsMergedIntoAUtf8Document) {
    WriteBytes(path, "caf\xC3\xA9\r\n[S] One\r\none\r\n");
    ResetState();
    ASSERT_TRUE(OpenDocumentFile(p.session, path));
    SplitSections(p.session);
    ASSERT_EQ(st.DocumentEncoding, Encoding::Utf8);
    p.sections.texts[1] = "[S] One\r\nmine\r\n";
    st.Modified = true;
    Replace("caf\xE9!\r\n[S] One\r\none\r\n");
    ASSERT_TRUE(FollowDiskChange(p.session));
    EXPECT_EQ(p.sections.texts[0], "caf\xC3\xA9!\r\n");
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\nmine\r\n");
}

TEST_F(DiskMergeTest, AnEncipheredDocumentIsReadWithTheKeyInUse) {
    const std::string vle = dir / "June.vle";
    st.CipherKey = "key";
    st.Enciphered = true;
    st.FileName = vle;
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "key"}; };
    ASSERT_TRUE(SaveDocument(p.session));
    p.sections.texts[1] = "[S] One\r\nmine\r\n";
    st.Modified = true;
    // Another run writes section 3 with the same key.
    PlainSession other;
    other.sections.texts = p.sections.texts;
    other.sections.texts[1] = "[S] One\r\none\r\n";
    other.sections.texts[3] = "[S] Three\r\ntheirs\r\n";
    const DocumentBuffer lines =
        DocumentWriter::InForce(st, Protection::Enciphered).Lines(other.session);
    std::string bytes;
    lines.ForEachCrLfPiece(0, lines.LineCount(), [&](std::string_view piece) { bytes += piece; });
    WriteBytes(vle + ".new", bytes);
    ASSERT_EQ(::rename((vle + ".new").c_str(), vle.c_str()), 0);

    ASSERT_TRUE(FollowDiskChange(p.session));
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\nmine\r\n");
    EXPECT_EQ(p.sections.texts[3], "[S] Three\r\ntheirs\r\n");
}

// A sealed version on disk that the key in use cannot open costs one look, not one every two
// seconds: its identity is remembered, and it is read again only once it changes. The read can
// run off the window thread.
TEST_F(DiskMergeTest, ASealedVersionTheKeyCannotOpenIsReadOnceUntilItChanges) {
    const SealParams params = SealingParams();
    SealingParams() = kQuickestSealParams;
    ResetState();
    const std::string vls = dir / "June.vls";
    const std::string mine = "Intro\r\n[S] One\r\none\r\n";
    const std::string theirs = "Intro\r\n[S] One\r\n111\r\n";  // as long as mine
    const auto ours = SealKey::Derive("ours", kQuickestSealParams);
    const auto other = SealKey::Derive("other", kQuickestSealParams);
    WriteSealedFile(vls, *ours, [&](SealWriter& w) { w.Write(mine); });
    st.FileName = vls;
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "ours"}; };
    ASSERT_TRUE(OpenDocumentFile(p.session, vls));
    SplitSections(p.session);

    WriteBytes(vls + ".new", SealBytes(*other, theirs));
    ASSERT_EQ(::rename((vls + ".new").c_str(), vls.c_str()), 0);
    EXPECT_EQ(LookOnDisk(st).kind, DiskLook::Kind::Unreadable);

    // The same file, same size and times, now holding what the key in use opens: not read again.
    struct stat before;
    ASSERT_EQ(::stat(vls.c_str(), &before), 0);
    const std::string readable = SealBytes(*ours, theirs);
    ASSERT_EQ(readable.size(), static_cast<std::size_t>(before.st_size));
    {
        std::ofstream out(vls, std::ios::binary | std::ios::in | std::ios::out);
        out.write(readable.data(), static_cast<std::streamsize>(readable.size()));
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, vls.c_str(), times, 0), 0);
    const DiskLook again = LookOnDisk(st);
    EXPECT_EQ(again.kind, DiskLook::Kind::Unreadable);
    EXPECT_EQ(again.reason, Format(kWrongKey, vls));

    // Changed: looked at again, here with the read on another thread.
    const timespec later[2] = {{before.st_mtim.tv_sec + 5, 0}, {before.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, vls.c_str(), later, 0), 0);
    DiskLook known;
    const std::optional<DiskProbe> probe = ProbeOnDisk(st, known);
    ASSERT_TRUE(probe);
    DiskLook read;
    std::thread([&] { read = ReadDiskProbe(*probe); }).join();
    const DiskLook look = TakeDiskLook(st, *probe, std::move(read));
    ASSERT_EQ(look.kind, DiskLook::Kind::Changed);
    EXPECT_EQ(*look.text, theirs);
    SealingParams() = params;
}

struct CopyName {
    const char* name;
    bool copy;
};

class ConflictCopyNames : public ::testing::TestWithParam<CopyName> {};

TEST_P(ConflictCopyNames, AreTold) {
    EXPECT_EQ(IsConflictCopyName(GetParam().name, "June.vlp"), GetParam().copy);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConflictCopyNames,
    ::testing::Values(CopyName{"June.sync-conflict-20260101-120000-ABCDEF7.vlp", true},
                      CopyName{"June (Ann's conflicted copy 2026-01-01).vlp", true},
                      CopyName{"June (conflicted copy 2026-01-01 120000).vlp", true},
                      CopyName{"June (Conflict 2026-01-01).vlp", true}, CopyName{"June.vlp", false},
                      CopyName{"June (copy).vlp", false},
                      CopyName{"June.sync-conflict-2026-ABC.vlp", false},
                      CopyName{"July (conflicted copy).vlp", false},
                      CopyName{"June (conflicted copy).vle", false}));

// Without a version both came from, nothing tells which side changed a line: wherever the two
// differ, a line only one holds included, both versions stand between marker lines.
TEST_F(DiskMergeTest, AConflictCopyIsMergedAndMovedAside) {
    p.sections.texts[1] = "[S] One\r\nmine\r\n";
    st.Modified = true;
    const std::string copy = dir / "June.sync-conflict-20260101-120000-ABCDEF7.vlp";
    WriteBytes(copy, "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\nmore\r\n[S] Three\r\nthree\r\n");
    ASSERT_THAT(ConflictCopiesOf(path), ElementsAre(copy));
    const MergeReport report = MergeConflictCopy(p.session, copy);
    EXPECT_EQ(p.sections.texts[1],
              "[S] One\r\n<<<<<<< as changed here\r\nmine\r\n=======\r\none\r\n"
              ">>>>>>> as changed in the copy\r\n");
    EXPECT_EQ(p.sections.texts[2],
              "[S] Two\r\ntwo\r\n<<<<<<< as changed here\r\n=======\r\nmore\r\n"
              ">>>>>>> as changed in the copy\r\n");
    EXPECT_THAT(report.flagged, ElementsAre(1, 2));
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(ConflictCopiesOf(path).empty());
    const std::string trashed =
        dir / "data/Trash/files/June.sync-conflict-20260101-120000-ABCDEF7.vlp";
    EXPECT_EQ(ReadBytes(trashed),
              "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\nmore\r\n[S] Three\r\nthree\r\n");
    EXPECT_EQ(report.notes.back().text, "The copy is now in the trash: " + trashed);
    // The document's file is not what changed.
    EXPECT_EQ(ReadBytes(path), kDoc);
}

// The writer's own two runs, each saving with backups on, and a copy another machine made of
// the document as it was before both: "-prev" holds the first run's version, which is no
// version the copy came from. Neither run's edit may go back to the old text.
TEST_F(DiskMergeTest, AConflictCopyRevertsNoSectionOfEarlierRuns) {
    const std::string copyText =
        "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n[S] Three\r\nthree, theirs\r\n";
    for (const char* edit : {"[S] One\r\none, run 1\r\n", "[S] Two\r\ntwo, run 2\r\n"}) {
        ResetState();
        st.FileName = path;
        ASSERT_TRUE(OpenDocumentFile(p.session, path));
        SplitSections(p.session);
        st.BackupPrev = true;
        p.sections.texts[edit[4] == 'O' ? 1 : 2] = edit;
        ASSERT_TRUE(SaveDocument(p.session));
    }
    ASSERT_EQ(ReadBytes(dir / "June-prev.vlp"),
              "Intro\r\n[S] One\r\none, run 1\r\n[S] Two\r\ntwo\r\n[S] Three\r\nthree\r\n");
    const std::string copy = dir / "June (conflicted copy 2026-01-01).vlp";
    WriteBytes(copy, copyText);
    const MergeReport report = MergeConflictCopy(p.session, copy);
    EXPECT_EQ(p.sections.texts[1],
              "[S] One\r\n<<<<<<< as changed here\r\none, run 1\r\n=======\r\none\r\n"
              ">>>>>>> as changed in the copy\r\n");
    EXPECT_EQ(p.sections.texts[2],
              "[S] Two\r\n<<<<<<< as changed here\r\ntwo, run 2\r\n=======\r\ntwo\r\n"
              ">>>>>>> as changed in the copy\r\n");
    EXPECT_THAT(report.flagged, ElementsAre(1, 2, 3));
    EXPECT_THAT(report.summary, ::testing::HasSubstr("3 conflicts"));
}

// A "-prev" planted beside the document, older than both, by another user who may write the
// folder: it is never taken for the version both came from, so the writer's rewritten
// sections stay, beside the copy's, rather than turning back into the planted text.
TEST_F(DiskMergeTest, APlantedBackupIsNoBaseOfAConflictCopy) {
    ResetState();
    WriteBytes(path, "Intro\r\n[S] One\r\nrewritten\r\n[S] Two\r\nrewritten too\r\n");
    st.FileName = path;
    ASSERT_TRUE(OpenDocumentFile(p.session, path));
    SplitSections(p.session);
    const std::string prev = dir / "June-prev.vlp";
    WriteBytes(prev, "Intro\r\n[S] One\r\nold\r\n[S] Two\r\nold too\r\n");
    const timespec old[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, prev.c_str(), old, 0), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(prev.c_str(), 65534, 65534), 0);
    }
    const std::string copy = dir / "June (conflicted copy 2026-01-01).vlp";
    WriteBytes(copy, "Intro\r\n[S] One\r\nrewritten\r\n[S] Two\r\nold too\r\n");
    const MergeReport report = MergeConflictCopy(p.session, copy);
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\nrewritten\r\n");
    EXPECT_EQ(p.sections.texts[2],
              "[S] Two\r\n<<<<<<< as changed here\r\nrewritten too\r\n=======\r\nold too\r\n"
              ">>>>>>> as changed in the copy\r\n");
    EXPECT_THAT(report.summary, ::testing::Not(::testing::HasSubstr("No conflicts")));
}

// Once the file is no longer what this run last read or saved, that version is one both the
// sections and the copy came from: each side's change is taken without a conflict.
TEST_F(DiskMergeTest, TheVersionLastReadIsTheBaseOnceTheFileMovedOn) {
    p.sections.texts[1] = "[S] One\r\nmine\r\n";
    st.Modified = true;
    Replace("Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo, on disk\r\n[S] Three\r\nthree\r\n");
    const std::string copy = dir / "June (conflicted copy 2026-01-01).vlp";
    WriteBytes(copy, "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n[S] Three\r\ntheirs\r\n");
    const MergeReport report = MergeConflictCopy(p.session, copy);
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\nmine\r\n");
    EXPECT_EQ(p.sections.texts[3], "[S] Three\r\ntheirs\r\n");
    EXPECT_TRUE(report.flagged.empty());
    EXPECT_THAT(report.summary, ::testing::HasSubstr("No conflicts"));
}

// What stands in the folder under a copy's name but is no file of the user's own is never read
// into the document: a link could bring in any file the user may read, another user's file
// their text, and a pipe would never end.
struct PlantedCopy {
    const char* name;
    std::function<bool(const std::string& copy, const std::string& folder)> plant;
    friend void PrintTo(const PlantedCopy& c, std::ostream* os) { *os << c.name; }
};

class PlantedCopies : public DiskMergeTest, public ::testing::WithParamInterface<PlantedCopy> {};

TEST_P(PlantedCopies, AreNeitherOfferedNorMerged) {
    const std::string copy = dir / "June (conflicted copy).vlp";
    if (!GetParam().plant(copy, dir.path())) {
        GTEST_SKIP() << "needs root to give a file to another user";
    }
    EXPECT_TRUE(ConflictCopiesOf(path).empty());
    EXPECT_THROW(MergeConflictCopy(p.session, copy), Error);
    EXPECT_EQ(p.sections.texts[1], "[S] One\r\none\r\n");
    EXPECT_FALSE(st.Modified);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, PlantedCopies,
    ::testing::Values(PlantedCopy{"a link to a file of the user's",
                                  [](const std::string& copy, const std::string& folder) {
                                      WriteBytes(folder + "/secret",
                                                 "Intro\r\n[S] One\r\nsecret\r\n");
                                      return ::symlink((folder + "/secret").c_str(),
                                                       copy.c_str()) == 0;
                                  }},
                      PlantedCopy{"another user's file",
                                  [](const std::string& copy, const std::string&) {
                                      WriteBytes(copy, "Intro\r\n[S] One\r\nplanted\r\n");
                                      return ::geteuid() == 0 &&
                                             ::chown(copy.c_str(), 65534, 65534) == 0;
                                  }},
                      PlantedCopy{"a pipe",
                                  [](const std::string& copy, const std::string&) {
                                      return ::mkfifo(copy.c_str(), 0600) == 0;
                                  }}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
        return name;
    });

// In a folder others may write, another user swaps the copy the writer was offered for a link
// to a private file of the writer's, or for a file of their own, before it is opened: what is
// there when it is opened is judged, and neither is read into the document.
TEST_F(DiskMergeTest, ACopySwappedByAnotherUserIsNotRead) {
    if (!testing::CanDropPrivileges()) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    struct Row {
        const char* name;
        bool asLink;
    };
    const TempDir privateDir;
    const std::string secret = privateDir / "secret.vlp";
    WriteBytes(secret, "Intro\r\n[S] One\r\nsecret\r\n");
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string copy = dir / "June (conflicted copy).vlp";
    for (const Row row : {Row{"a link to the writer's file", true}, Row{"their own file", false}}) {
        SCOPED_TRACE(row.name);
        WriteBytes(copy, "Intro\r\n[S] One\r\ncopy\r\n");
        ASSERT_THAT(ConflictCopiesOf(path), ElementsAre(copy));
        ASSERT_EQ(testing::AsNobody([&]() -> std::string {
                      if (::unlink(copy.c_str()) != 0) {
                          return "not removed";
                      }
                      if (row.asLink) {
                          return ::symlink(secret.c_str(), copy.c_str()) == 0 ? "" : "no link";
                      }
                      WriteBytes(copy, "Intro\r\n[S] One\r\nplanted\r\n");
                      return IsRegularFile(copy) ? "" : "no file";
                  }),
                  "");
        EXPECT_THROW(MergeConflictCopy(p.session, copy), Error);
        EXPECT_EQ(p.sections.texts[1], "[S] One\r\none\r\n");
        EXPECT_FALSE(st.Modified);
        ASSERT_EQ(::unlink(copy.c_str()), 0);
    }

    // Nor does a trash that user made in the writer's data folder take the copy.
    ASSERT_TRUE(MakeFolders(dir / "data", 0777));
    ASSERT_EQ(::chmod((dir / "data").c_str(), 0777), 0);
    ASSERT_EQ(testing::AsNobody([&]() -> std::string {
                  return ::mkdir((dir / "data/Trash").c_str(), 0777) == 0 ? "" : "no folder";
              }),
              "");
    WriteBytes(copy, "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n[S] Three\r\nthree\r\n");
    const MergeReport report = MergeConflictCopy(p.session, copy);
    EXPECT_THAT(report.notes.back().text, ::testing::HasSubstr("could not be moved to the trash"));
    EXPECT_TRUE(IsRegularFile(copy));
}

}  // namespace
}  // namespace velloran
