#include "core/commands/Commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Runs each test in a fresh current folder, where the default documents are looked for.
class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetState();
        char here[4096];
        old_ = ::getcwd(here, sizeof here);
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(::chdir(old_.c_str()), 0); }

    std::string Enciphered(const std::string& line, const std::string& key) {
        std::string out = line;
        KeyIndex index;
        EncipherLine(out, key, index);
        return out;
    }
    void Open(std::optional<std::string> argument) {
        OpenStartDocument(p.session, argument, [this]() -> std::optional<std::string> {
            ++chooserCalls;
            return chosen;
        });
    }

    TempDir dir;
    PlainSession p;
    std::optional<std::string> chosen;
    int chooserCalls = 0;

  private:
    std::string old_;
};

TEST_F(CommandsTest, ArgumentNamingAFileWins) {
    WriteBytes("Velloran.vlp", "default\r\n");
    WriteBytes("mine.vlp", "mine\r\n[S] One\r\n");
    Open("mine.vlp");
    EXPECT_EQ(state().FileName, "mine.vlp");
    EXPECT_THAT(p.list.titles, ElementsAre("mine", "[S] One"));
    EXPECT_EQ(chooserCalls, 0);
}

TEST_F(CommandsTest, NewNameInAFolderThatExistsIsAnEmptyDocumentOfThatName) {
    WriteBytes("Velloran.vlp", "default\r\n");
    ::mkdir("books", 0700);
    for (const char* argument : {"NewBook.vlp", "books/NewBook.vlp"}) {
        ResetState();
        Open(argument);
        EXPECT_EQ(state().FileName, argument);
        EXPECT_EQ(chooserCalls, 0);
        EXPECT_TRUE(p.list.titles.empty());
    }
    // Nothing is made until the first save.
    EXPECT_FALSE(std::filesystem::exists(dir / "books/NewBook.vlp"));
}

TEST_F(CommandsTest, MissingOrFolderArgumentFallsBackToTheDefaultDocument) {
    WriteBytes("Velloran.vlp", "default\r\n");
    ::mkdir("folder.vlp", 0700);
    ::symlink("nowhere.vlp", "dangling.vlp");
    for (const char* argument : {"no-folder/missing.vlp", "folder.vlp", "dangling.vlp"}) {
        ResetState();
        Open(argument);
        EXPECT_EQ(state().FileName, "Velloran.vlp");
        EXPECT_THAT(p.list.titles, ElementsAre("default"));
    }
}

TEST_F(CommandsTest, DefaultEncipheredDocumentPromptsAndCancelStillDeciphers) {
    WriteBytes("Velloran.vle", Enciphered("secret", "") + "\r\n");
    int prompts = 0;
    p.dialogs.onKeyPrompt = [&] {
        ++prompts;
        return PromptResult{ModalResult::Cancel, ""};
    };
    Open(std::nullopt);
    EXPECT_EQ(state().FileName, "Velloran.vle");
    EXPECT_TRUE(state().Enciphered);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(p.sections.texts[0], "secret\r\n");  // the empty key leaves the text as read
}

TEST_F(CommandsTest, EncipheredArgumentDecipheredWithTheTypedKey) {
    WriteBytes("June.vle", Enciphered("Dear diary", "k3y") + "\r\n");
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "k3y"}; };
    Open("June.vle");
    EXPECT_EQ(p.sections.texts[0], "Dear diary\r\n");
    EXPECT_EQ(state().CipherKey, "k3y");
}

TEST_F(CommandsTest, EncipheredArgumentWithCancelStaysEnciphered) {
    const std::string scrambled = Enciphered("Dear diary", "k3y");
    WriteBytes("June.vle", scrambled + "\r\n");
    Open("June.vle");
    EXPECT_EQ(p.sections.texts[0], scrambled + "\r\n");
    EXPECT_FALSE(state().Enciphered);
}

TEST_F(CommandsTest, NoDocumentAsksAndCancelLeavesTheDefaultName) {
    Open("no-folder/missing.vlp");
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_EQ(state().FileName, "Velloran.vlp");
    EXPECT_TRUE(p.list.titles.empty());
}

TEST_F(CommandsTest, ChosenDocumentIsRead) {
    WriteBytes("picked.vlp", "picked\r\n");
    chosen = dir / "picked.vlp";
    Open(std::nullopt);
    EXPECT_EQ(state().FileName, dir / "picked.vlp");
    EXPECT_THAT(p.list.titles, ElementsAre("picked"));
}

TEST_F(CommandsTest, UnreadableArgumentIsReportedAndNothingIsSplit) {
    ::mkfifo("pipe.vlp", 0600);
    try {
        Open("pipe.vlp");
        FAIL() << "a pipe was read";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file pipe.vlp");
    }
    EXPECT_TRUE(p.list.titles.empty());
}

TEST_F(CommandsTest, DecriptDeciphersTheBufferAndSplits) {
    p.buffer.Append(Enciphered("[S] Title", "ab"));
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "ab"}; };
    EXPECT_TRUE(Decript(p.session));
    EXPECT_THAT(p.list.titles, ElementsAre("[S] Title", "[S] Title"));
    EXPECT_FALSE(state().Modified);
}

// Each way a document is cut into sections decides its encoding from the bytes it cuts, and
// leaves them as they are.
TEST_F(CommandsTest, EveryWayInDecidesTheEncodingAfresh) {
    const std::string utf8 = "caf\xc3\xa9";  // or "cafÃ©" in Windows-1252
    const std::string key = "K";
    WriteBytes("mine.vle", Enciphered(utf8, key) + "\r\n");
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::Cancel, ""}; };
    Open("mine.vle");
    EXPECT_EQ(state().DocumentEncoding, Encoding::Windows1252);  // still enciphered

    p.dialogs.onKeyPrompt = [&] { return PromptResult{ModalResult::OK, key}; };
    ASSERT_TRUE(Decript(p.session));
    EXPECT_EQ(state().DocumentEncoding, Encoding::Utf8);
    EXPECT_EQ(p.sections.texts[0], utf8 + "\r\n");

    // A byte of Windows-1252 typed into the section's bytes: Reload decides again.
    p.sections.texts[0] = "caf\xe9\r\n";
    ReloadSections(p.session);
    EXPECT_EQ(state().DocumentEncoding, Encoding::Windows1252);
    EXPECT_EQ(p.sections.texts[0], "caf\xe9\r\n");
}

TEST_F(CommandsTest, DecriptAsksBeforeDiscardingUnsavedChanges) {
    p.buffer.Append("as read");
    p.sections.texts[0] = "typed since\r\n";
    state().Modified = true;
    EXPECT_FALSE(Decript(p.session));  // the question is answered No
    ASSERT_EQ(p.dialogs.questions.size(), 1u);
    EXPECT_EQ(p.dialogs.questions[0], kDiscardChanges);
    EXPECT_EQ(p.dialogs.keyPrompts, 0);
    EXPECT_EQ(p.sections.texts[0], "typed since\r\n");
    EXPECT_TRUE(state().Modified);

    p.dialogs.onYesNo = [](const std::string&) { return true; };
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, ""}; };
    EXPECT_TRUE(Decript(p.session));
    EXPECT_EQ(p.sections.texts[0], "as read\r\n");
}

TEST_F(CommandsTest, DecriptOfUnmodifiedDocumentAsksNothing) {
    p.buffer.Append("x");
    EXPECT_FALSE(Decript(p.session));  // prompt cancelled for a plain document
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(p.dialogs.keyPrompts, 1);
}

TEST_F(CommandsTest, SaveEncriptWritesTheEncipheredNameAndAsksTwice) {
    WriteBytes("June.vlp", "plain\r\n");
    Open("June.vlp");
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "key"}; };
    SaveEncript(p.session);
    EXPECT_EQ(p.dialogs.keyPrompts, 2);
    EXPECT_EQ(ReadBytes("June.vle"), Enciphered("plain", "key") + "\r\n");
    EXPECT_EQ(ReadBytes("June.vlp"), "plain\r\n");
    EXPECT_EQ(state().FileName, "June.vlp");
}

class ChangedOnDiskTest : public CommandsTest {
  protected:
    static constexpr const char* kDoc = "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n";
    void OpenAndEdit() {
        WriteBytes("June.vlp", kDoc);
        Open("June.vlp");
        p.sections.texts[1] = "[S] One\r\nmine\r\n";
        state().Modified = true;
    }
    void ChangeBehindOurBack(const std::string& text) {
        // Another instance saves through a new file, as our own saves do.
        WriteBytes("June.vlp.new", text);
        ASSERT_EQ(::rename("June.vlp.new", "June.vlp"), 0);
    }
};

TEST_F(ChangedOnDiskTest, UnchangedFileIsSavedWithoutAQuestion) {
    OpenAndEdit();
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_TRUE(SaveDocument(p.session));  // our own save is no change by others
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(ReadBytes("June.vlp"), "Intro\r\n[S] One\r\nmine\r\n[S] Two\r\ntwo\r\n");
}

TEST_F(ChangedOnDiskTest, AFileWrittenAgainAsItWasIsNoChange) {
    OpenAndEdit();
    ChangeBehindOurBack(kDoc);
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_TRUE(p.dialogs.reports.empty());
}

TEST_F(ChangedOnDiskTest, AChangeInAnotherSectionIsMergedAndSavedWithoutAQuestion) {
    OpenAndEdit();
    ChangeBehindOurBack("Intro\r\n[S] One\r\none\r\n[S] Two\r\ntheirs\r\n");
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(ReadBytes("June.vlp"), "Intro\r\n[S] One\r\nmine\r\n[S] Two\r\ntheirs\r\n");
    ASSERT_EQ(p.dialogs.reports.size(), 1u);
    EXPECT_FALSE(p.dialogs.reports[0].reload);
    EXPECT_TRUE(p.dialogs.reports[0].flagged.empty());
    EXPECT_FALSE(state().Modified);
}

TEST_F(ChangedOnDiskTest, AChangeOfTheSameLinesIsMergedAndNothingIsSaved) {
    OpenAndEdit();
    const std::string theirs = "Intro\r\n[S] One\r\ntheirs\r\n[S] Two\r\ntwo\r\n";
    ChangeBehindOurBack(theirs);
    EXPECT_FALSE(SaveDocument(p.session));
    EXPECT_EQ(ReadBytes("June.vlp"), theirs);
    EXPECT_EQ(p.sections.texts[1],
              "[S] One\r\n<<<<<<< as changed here\r\nmine\r\n=======\r\ntheirs\r\n"
              ">>>>>>> as changed on disk\r\n");
    ASSERT_EQ(p.dialogs.reports.size(), 1u);
    EXPECT_THAT(p.dialogs.reports[0].flagged, ElementsAre(1));
    EXPECT_NE(p.dialogs.reports[0].summary.find("Nothing was saved"), std::string::npos);
    EXPECT_TRUE(state().Modified);
    EXPECT_TRUE(p.dialogs.notices.empty());
    // Merged once: the next save writes what the writer made of it.
    p.sections.texts[1] = "[S] One\r\nboth\r\n";
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_EQ(ReadBytes("June.vlp"), "Intro\r\n[S] One\r\nboth\r\n[S] Two\r\ntwo\r\n");
    EXPECT_TRUE(p.dialogs.questions.empty());
}

// A version that cannot be read is all the merge cannot take: the question stays, with the
// offer of a name of its own for ours.
TEST_F(ChangedOnDiskTest, AnUnreadableVersionIsAskedAboutAndOursMaySaveUnderANewName) {
    OpenAndEdit();
    ASSERT_EQ(::unlink("June.vlp"), 0);
    ASSERT_EQ(::mkdir("June.vlp", 0700), 0);
    p.dialogs.onSaveDocument = [](const std::string& name, bool) {
        return PromptResult{ModalResult::OK, name};
    };
    EXPECT_FALSE(SaveDocument(p.session));
    ASSERT_EQ(p.dialogs.questions.size(), 2u);
    EXPECT_NE(p.dialogs.questions[0].find("cannot be merged"), std::string::npos);
    EXPECT_EQ(p.dialogs.questions[1], kSaveUnderNewName);
    EXPECT_EQ(p.dialogs.saveDialogs, 0);  // both questions answered No
    EXPECT_TRUE(state().Modified);

    p.dialogs.questions.clear();
    p.dialogs.onYesNo = [](const std::string& q) { return q == kSaveUnderNewName; };
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_EQ(ReadBytes("June (edited here).vlp"),
              "Intro\r\n[S] One\r\nmine\r\n[S] Two\r\ntwo\r\n");
    EXPECT_EQ(state().FileName, "June (edited here).vlp");
    EXPECT_FALSE(state().Modified);
}

TEST_F(ChangedOnDiskTest, ADocumentThatDidNotExistIsNotAskedAbout) {
    Open("new.vlp");  // the chooser is cancelled, the default name stays
    WriteBytes("Velloran.vlp", "made meanwhile\r\n");
    p.sections.texts[0] = "mine\r\n";
    EXPECT_TRUE(SaveDocument(p.session));
    EXPECT_TRUE(p.dialogs.questions.empty());
}

}  // namespace
}  // namespace velloran
