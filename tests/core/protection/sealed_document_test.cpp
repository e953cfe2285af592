#include "core/protection/SealedDocument.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>

#include "core/commands/Commands.h"
#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "support/Documents.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;
using testing::ReadBytes;
using testing::WorkFolder;
using testing::WriteBytes;

const std::string kPass = "p\xc3\xa4ss phrase";  // "päss phrase" in UTF-8

std::string Unseal(const std::string& path, const std::string& passphrase = kPass) {
    return UnsealBytes(ReadBytes(path), passphrase, path);
}

std::string Salt(const std::string& path) {
    return ReadBytes(path).substr(26, 16);
}

// Each test runs in a fresh current folder with quick key derivation.
class SealedDocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetState();
        SealingParams() = kQuickestSealParams;
        p.dialogs.onKeyPrompt = [this] {
            if (keys.empty()) {
                return PromptResult{ModalResult::Cancel, ""};
            }
            std::string key = keys.front();
            keys.pop_front();
            return PromptResult{ModalResult::OK, key};
        };
        p.dialogs.onYesNo = [this](const std::string&) { return yes; };
    }

    void Sections(std::vector<std::string> texts) {
        for (std::size_t k = 0; k < texts.size(); ++k) {
            p.sections.texts[k] = std::move(texts[k]);
        }
        st.LastSection = static_cast<int>(texts.size()) - 1;
    }
    // A sealed file made by an earlier run.
    void Sealed(const std::string& path, const std::string& plain,
                const std::string& passphrase = kPass) {
        WriteBytes(path, SealBytes(*SealKey::Derive(passphrase, kQuickestSealParams), plain, 8));
    }
    void Open(const std::string& argument) {
        OpenStartDocument(s, argument, [] { return std::nullopt; });
    }
    bool SaveAs(const std::string& name) {
        p.dialogs.onSaveDocument = [name](const std::string&, bool) {
            return PromptResult{ModalResult::OK, name};
        };
        return SaveWithPrompt(s, false);
    }

    WorkFolder dir;
    PlainSession p;
    Session& s = p.session;
    State& st = s.st;
    std::deque<std::string> keys;  // typed at the key prompts in turn; then Cancel
    bool yes = false;              // the answer to every question
};

TEST_F(SealedDocumentTest, EveryByteAndLineEndSealsAsAPlainSaveWritesThemAndOpensBack) {
    const std::string bytes = testing::AllLineBytes();
    Sections({bytes + "\r\ncr\rlf\nlfcr\n\rcrcrlf\r\r\n", "[S] \x80\xff\r\nno final break"});
    st.FileName = "plain.vlp";
    ASSERT_TRUE(SaveDocument(s));
    const std::string plain = ReadBytes("plain.vlp");

    keys = {kPass};
    ASSERT_TRUE(SaveAs("June.vls"));
    EXPECT_EQ(Unseal("June.vls"), plain);
    EXPECT_THAT(p.dialogs.keyForms, ElementsAre(KeyText::Utf8));
    EXPECT_TRUE(st.Sealed);
    EXPECT_FALSE(st.Modified);
    EXPECT_EQ(p.dialogs.notices.back(), "June.vls");

    const std::vector<std::string> texts(p.sections.texts.begin(), p.sections.texts.begin() + 2);
    ResetState();
    PlainSession again;
    again.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, kPass}; };
    OpenStartDocument(again.session, "June.vls", [] { return std::nullopt; });
    EXPECT_EQ(again.session.buffer.Lines(), p.buffer.Lines());
    EXPECT_EQ(
        std::vector<std::string>(again.sections.texts.begin(), again.sections.texts.begin() + 2),
        (std::vector<std::string>{bytes + "\r\ncr\r\nlf\r\nlfcr\r\n\r\ncrcrlf\r\n\r\n",
                                  "[S] \x80\xff\r\nno final break\r\n"}));
    EXPECT_TRUE(state().Sealed);
    EXPECT_TRUE(state().UnopenedSealed.empty());
}

TEST_F(SealedDocumentTest, OpeningDecidesTheEncodingOfTheUnsealedBytes) {
    Sealed("June.vls",
           "\xc5\x81\xc3\xb3"
           "d\xc5\xba\r\n");
    keys = {kPass};
    Open("June.vls");
    EXPECT_EQ(st.DocumentEncoding, Encoding::Utf8);
    EXPECT_EQ(p.sections.texts[0],
              "\xc5\x81\xc3\xb3"
              "d\xc5\xba\r\n");
}

TEST_F(SealedDocumentTest, SamePassphraseKeepsTheKeyAndEverySaveDiffers) {
    Sections({"same text\r\n"});
    st.FileName = "June.vls";
    keys = {kPass, kPass};
    ASSERT_TRUE(SaveDocument(s));
    const auto key = st.SealKeyInUse;
    const std::string first = ReadBytes("June.vls");
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(p.dialogs.keyPrompts, 2);
    EXPECT_EQ(st.SealKeyInUse, key);  // not derived again
    EXPECT_EQ(ReadBytes("June.vls").substr(0, 42), first.substr(0, 42));
    EXPECT_NE(ReadBytes("June.vls"), first);
    EXPECT_TRUE(p.dialogs.questions.empty());
}

TEST_F(SealedDocumentTest, DifferentPassphraseIsConfirmedFirst) {
    Sections({"text\r\n"});
    st.FileName = "June.vls";
    keys = {kPass, "another", "another"};
    ASSERT_TRUE(SaveDocument(s));
    const std::string before = ReadBytes("June.vls");
    const auto key = st.SealKeyInUse;
    st.Modified = true;

    EXPECT_FALSE(SaveDocument(s));  // No
    EXPECT_THAT(p.dialogs.questions, ElementsAre(std::string(kKeyDiffersDocument)));
    EXPECT_EQ(ReadBytes("June.vls"), before);
    EXPECT_EQ(st.SealKeyInUse, key);
    EXPECT_TRUE(st.Modified);

    yes = true;
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(Unseal("June.vls", "another"), "text\r\n");
    EXPECT_THROW(Unseal("June.vls"), WrongKey);
    EXPECT_NE(Salt("June.vls"), before.substr(26, 16));
}

TEST_F(SealedDocumentTest, CancelGoesOnWithTheKeyInUseAndWithoutOneWritesNothing) {
    Sections({"text\r\n"});
    st.FileName = "June.vls";
    st.Modified = true;
    try {
        SaveDocument(s);
        FAIL() << "saved";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), Format(kNoKeyNothingSaved, "June.vls"));
    }
    EXPECT_EQ(dir.EntryCount(), 1u);  // the configuration folder alone
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(p.dialogs.notices.empty());

    keys = {kPass};
    ASSERT_TRUE(SaveDocument(s));
    Sections({"more text\r\n"});
    ASSERT_TRUE(SaveDocument(s));  // cancelled: the key in use
    EXPECT_EQ(Unseal("June.vls"), "more text\r\n");
}

TEST_F(SealedDocumentTest, EmptyPassphraseIsRefused) {
    Sections({"text\r\n"});
    st.FileName = "June.vls";
    keys = {""};
    try {
        SaveDocument(s);
        FAIL() << "saved";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), std::string(kEmptySealKey));
    }
    EXPECT_EQ(ReadBytes("June.vls"), "");
    EXPECT_FALSE(st.SealKeyInUse);
}

// The key prompt's field shows "Encript Key" before anything is typed: confirmed as it stands,
// or emptied, it is no key to seal or encipher with, and nothing is written.
TEST_F(SealedDocumentTest, ThePromptsOwnTextOrNothingIsNoKey) {
    struct Row {
        const char* file;
        const char* typed;
        std::string_view said;
    };
    for (const Row& row :
         {Row{"June.vls", "Encript Key", kPromptTextAsKey}, Row{"June.vls", "", kEmptySealKey},
          Row{"June.vle", "Encript Key", kPromptTextAsKey}, Row{"June.vle", "", kEmptyCipherKey}}) {
        SCOPED_TRACE(std::string(row.file) + " '" + row.typed + "'");
        ResetState();
        Sections({"text\r\n"});
        st.FileName = row.file;
        keys = {row.typed};
        try {
            SaveDocument(s);
            ADD_FAILURE() << "saved";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), std::string(row.said));
        }
        EXPECT_FALSE(IsExistingFile(row.file));
        EXPECT_FALSE(st.SealKeyInUse);
        EXPECT_TRUE(st.CipherKey.empty());
    }
}

// A legacy document enciphered with the prompt's text opens with it; it is saved again only
// under a key of the writer's own.
TEST_F(SealedDocumentTest, ALegacyDocumentEncipheredWithThePromptsTextStillOpens) {
    const std::string enciphered =
        testing::EncipherInPlace("[S] Old\r\nold text\r\n", "Encript Key");
    WriteBytes("Old.vle", enciphered);
    keys = {"Encript Key"};
    Open("Old.vle");
    EXPECT_EQ(p.sections.texts[1], "[S] Old\r\nold text\r\n");
    EXPECT_THROW(SaveDocument(s), Error);  // cancelled: the key in force is the prompt's text
    EXPECT_EQ(ReadBytes("Old.vle"), enciphered);
    keys = {"own key"};
    yes = true;
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes("Old.vle"), testing::EncipherInPlace("[S] Old\r\nold text\r\n", "own key"));
}

TEST_F(SealedDocumentTest, EncipheredDocumentSavedUnderASealedNameBecomesSealed) {
    WriteBytes("June.vle", "scrambled\r\n");
    st.Enciphered = true;
    st.CipherKey = "legacy";
    st.FileName = "June.vle";
    Sections({"Dear diary\r\n"});
    keys = {kPass};
    ASSERT_TRUE(SaveAs("June.vls"));
    EXPECT_EQ(Unseal("June.vls"), "Dear diary\r\n");
    EXPECT_EQ(ReadBytes("June.vle"), "scrambled\r\n");
    EXPECT_THAT(p.dialogs.keyForms, ElementsAre(KeyText::Utf8));
    EXPECT_TRUE(st.Sealed);
    EXPECT_FALSE(st.Enciphered);
}

TEST_F(SealedDocumentTest, SealedDocumentUnderAPlainNameIsWrittenOnlyAfterAQuestion) {
    Sealed("June.vls", "secret\r\n");
    keys = {kPass};
    Open("June.vls");
    ASSERT_TRUE(st.Sealed);

    EXPECT_FALSE(SaveAs("June.vlp"));
    EXPECT_THAT(p.dialogs.questions, ElementsAre(Format(kSaveUnsealed, "June.vlp")));
    EXPECT_EQ(ReadBytes("June.vlp"), "");
    EXPECT_EQ(st.FileName, "June.vls");  // a save that did not go on names nothing new

    yes = true;
    ASSERT_TRUE(SaveAs("June.vlp"));
    EXPECT_EQ(ReadBytes("June.vlp"), "secret\r\n");
    EXPECT_FALSE(st.Sealed);
    ASSERT_TRUE(SaveDocument(s));  // asked once
    EXPECT_EQ(p.dialogs.questions.size(), 2u);
}

TEST_F(SealedDocumentTest, WrongKeysAreSaidAndAskedAgainUntilTheRightOne) {
    Sealed("June.vls", "Intro\r\n[S] One\r\n");
    keys = {"guess", "p\xc3\xa4ss", kPass};
    Open("June.vls");
    EXPECT_THAT(p.dialogs.messages,
                ElementsAre("Wrong key for June.vls", "Wrong key for June.vls"));
    EXPECT_THAT(p.list.titles, ElementsAre("Intro", "[S] One"));
    EXPECT_EQ(p.dialogs.keyPrompts, 3);
    EXPECT_TRUE(st.SealKeyInUse->Matches(kPass));
    EXPECT_FALSE(st.Modified);
}

// A sealed file this run could not open is never replaced by the empty sections shown for it
// unless the user says so; the question's default is No.
class UnopenedSealedTest : public SealedDocumentTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(UnopenedSealedTest, IsReplacedOnlyAfterAQuestion) {
    const std::string how = GetParam();
    Sealed("June.vls", "years of diary\r\n");
    if (how == "damaged") {
        std::string bytes = ReadBytes("June.vls");
        bytes.back() ^= 1;
        WriteBytes("June.vls", bytes);
        keys = {kPass};
        EXPECT_THROW(Open("June.vls"), Error);
    } else {
        keys = {"wrong"};  // then Cancel
        Open("June.vls");
    }
    const std::string old = ReadBytes("June.vls");
    EXPECT_TRUE(p.list.titles.empty());
    EXPECT_EQ(p.sections.texts[0], "");
    const int prompts = p.dialogs.keyPrompts;

    p.sections.texts[0] = "typed into the empty document\r\n";
    st.Modified = true;
    EXPECT_FALSE(SaveDocument(s));
    EXPECT_THAT(p.dialogs.questions, ElementsAre(Format(kReplaceUnopened, "June.vls")));
    EXPECT_EQ(ReadBytes("June.vls"), old);
    EXPECT_EQ(p.dialogs.keyPrompts, prompts);  // stopped before the key
    EXPECT_TRUE(st.Modified);

    // Another spelling of the same file is the same file.
    EXPECT_FALSE(SaveAs("./June.vls"));
    EXPECT_EQ(ReadBytes("June.vls"), old);

    yes = true;
    keys = {kPass};
    ASSERT_TRUE(SaveAs("June.vls"));
    EXPECT_EQ(Unseal("June.vls"), "typed into the empty document\r\n");
    ASSERT_TRUE(SaveDocument(s));  // replaced once, no longer unopened
    EXPECT_EQ(p.dialogs.questions.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Start, UnopenedSealedTest, ::testing::Values("cancelled", "damaged"));

TEST_F(SealedDocumentTest, DecriptReadsTheSealedFileAgainAndCountsItOpened) {
    Sealed("June.vls", "on disk\r\n");
    Open("June.vls");  // cancelled
    ASSERT_FALSE(st.UnopenedSealed.empty());
    EXPECT_FALSE(Decript(s));  // cancelled again: nothing changes
    EXPECT_TRUE(p.list.titles.empty());

    keys = {kPass};
    ASSERT_TRUE(Decript(s));
    EXPECT_THAT(p.list.titles, ElementsAre("on disk"));
    EXPECT_TRUE(st.UnopenedSealed.empty());
    const auto key = st.SealKeyInUse;

    // Typed changes are only replaced by the file's text after the question.
    p.sections.texts[0] = "typed\r\n";
    st.Modified = true;
    keys = {kPass};
    yes = true;
    ASSERT_TRUE(Decript(s));
    EXPECT_THAT(p.dialogs.questions, ElementsAre(std::string(kDiscardChanges)));
    EXPECT_EQ(p.sections.texts[0], "on disk\r\n");
    EXPECT_EQ(st.SealKeyInUse, key);  // the same passphrase for the same file: not derived again
    ASSERT_TRUE(SaveDocument(s));     // cancelled prompt: the key in use; no question
    EXPECT_EQ(p.dialogs.questions.size(), 1u);
}

TEST_F(SealedDocumentTest, BackupsOfASealedDocumentAreSealed) {
    Sealed("June.vls", "old\r\n");
    keys = {kPass};
    Open("June.vls");
    const std::string old = ReadBytes("June.vls");
    ASSERT_EQ(::chmod("June.vls", 0600), 0);
    const mode_t umask = ::umask(022);
    st.BackupPrev = st.BackupCurr = true;
    Sections({"new\r\n"});
    keys = {kPass};
    ASSERT_TRUE(SaveDocument(s));
    ::umask(umask);
    EXPECT_EQ(ReadBytes("June-prev.vls"), old);
    EXPECT_EQ(Unseal("June-copy.vls"), "new\r\n");
    EXPECT_EQ(Unseal("June.vls"), "new\r\n");
    EXPECT_EQ(p.dialogs.keyPrompts, 2);  // opening and saving: the copy asks no more
    for (const char* backup : {"June-prev.vls", "June-copy.vls"}) {
        struct stat bst {};
        ::stat(backup, &bst);
        EXPECT_EQ(bst.st_mode & 07777, 0600u) << backup << " shows more than the document";
    }
}

TEST_F(SealedDocumentTest, KeyFromAWeakerFileIsDerivedAgainAtTheNextSave) {
    Sealed("June.vls", "text\r\n");
    keys = {kPass, kPass};
    Open("June.vls");
    const std::string salt = Salt("June.vls");
    SealingParams() = {2, 16384};
    ASSERT_TRUE(SaveDocument(s));
    const std::string saved = ReadBytes("June.vls");
    EXPECT_NE(saved.substr(26, 16), salt);
    EXPECT_EQ(saved[10], 2);
    EXPECT_EQ(st.SealKeyInUse->params(), (SealParams{2, 16384}));
    EXPECT_EQ(Unseal("June.vls"), "text\r\n");
}

TEST_F(SealedDocumentTest, SaveEncriptOfASealedNameAsksOnceAndWritesNoLegacyFile) {
    Sections({"text\r\n"});
    st.FileName = "June.vls";
    keys = {kPass};
    SaveEncript(s);
    EXPECT_EQ(p.dialogs.keyPrompts, 1);
    EXPECT_EQ(Unseal("June.vls"), "text\r\n");
    EXPECT_EQ(ReadBytes("June.vle"), "");
}

// Another save with the same passphrase seals under a salt of its own: still merged. One with
// another passphrase cannot be read, and is asked about.
TEST_F(SealedDocumentTest, SealedFileChangedOnDiskIsMergedWithThePassphraseInUse) {
    Sealed("June.vls", "ours\r\n[S] One\r\none\r\n");
    keys = {kPass};
    Open("June.vls");
    p.sections.texts[0] = "ours, edited\r\n";
    st.Modified = true;
    Sealed("June.vls.new", "ours\r\n[S] One\r\ntheirs\r\n");
    ASSERT_EQ(::rename("June.vls.new", "June.vls"), 0);
    keys = {kPass};  // the save's own prompt
    EXPECT_TRUE(SaveDocument(s));
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(Unseal("June.vls"), "ours, edited\r\n[S] One\r\ntheirs\r\n");

    Sealed("June.vls.new", "other\r\n", "another passphrase");
    ASSERT_EQ(::rename("June.vls.new", "June.vls"), 0);
    EXPECT_FALSE(SaveDocument(s));
    ASSERT_EQ(p.dialogs.questions.size(), 2u);
    EXPECT_EQ(p.dialogs.questions[0],
              Format(Format(kChangedOnDiskUnmergeable, "June.vls"), Format(kWrongKey, "June.vls")));
    EXPECT_EQ(Unseal("June.vls", "another passphrase"), "other\r\n");
}

}  // namespace
}  // namespace velloran
