#include "core/commands/Saving.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/commands/Commands.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/FileIO.h"

namespace velloran {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The file bytes of lines enciphered with one running index.
std::string Enciphered(std::vector<std::string> lines, const std::string& key) {
    KeyIndex index;
    std::string out;
    for (auto& line : lines) {
        EncipherLine(line, key, index);
        out += line + "\r\n";
    }
    return out;
}

// Runs f in a child process whose files cannot grow past 64 KiB; its exit code, or -1.
template <typename F>
int InChildWithFileLimit(F&& f) {
    pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(f());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

PromptResult Answer(ModalResult result, std::string text = {}) {
    return {result, std::move(text)};
}

class SavingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetState();
        ASSERT_FALSE(dir.empty());
    }

    std::string At(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> Entries(const std::string& folder) const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(folder)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    void Sections(std::vector<std::string> texts) {
        for (std::size_t k = 0; k < texts.size(); ++k) {
            p.sections.texts[k] = std::move(texts[k]);
        }
        st.LastSection = static_cast<int>(texts.size()) - 1;
    }
    // Every key prompt is confirmed with the next of these keys (the last one repeats).
    void Keys(std::vector<std::string> keys) {
        p.dialogs.onKeyPrompt = [this, keys] {
            std::size_t i = std::min(static_cast<std::size_t>(p.dialogs.keyPrompts), keys.size());
            return Answer(ModalResult::OK, keys[i - 1]);
        };
    }
    void EncipheredDocument(const std::string& key) {
        st.Enciphered = true;
        st.CipherKey = key;
    }

    State& st = state();
    PlainSession p;
    Session& s = p.session;
    testing::TempDir tmp;
    std::string dir = tmp.path();
};

// Plain saves ------------------------------------------------------------------------------

TEST_F(SavingTest, PlainSaveWritesLogicalLinesWithCrLfAndShowsTheTarget) {
    st.FileName = At("June.vlp");
    st.Modified = true;
    Sections({"intro\rsecond\n", "[S] One\r\nbody", "[S] Two\n\nlast\r\n"});
    p.sections.texts[3] = "[S] beyond LastSection\r\n";

    ASSERT_TRUE(SaveDocument(s));

    EXPECT_EQ(ReadBytes(At("June.vlp")),
              "intro\r\nsecond\r\n[S] One\r\nbody\r\n[S] Two\r\n\r\nlast\r\n");
    EXPECT_EQ(p.buffer.Lines(), (std::vector<std::string>{"intro", "second", "[S] One", "body",
                                                          "[S] Two", "", "last"}));
    EXPECT_FALSE(st.Modified);
    EXPECT_EQ(p.dialogs.notices, std::vector<std::string>{At("June.vlp")});
    EXPECT_EQ(p.dialogs.keyPrompts, 0);
    EXPECT_EQ(st.EncFileName, At("June.vle"));
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vlp"});
}

TEST_F(SavingTest, EmptyDocumentSavesAsOneCrLf) {
    st.FileName = At("empty.vlp");
    SplitSections(s);  // an empty buffer: slot 0 holds one empty line
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("empty.vlp")), "\r\n");
}

TEST_F(SavingTest, BytesOfEveryValueSurviveAPlainSave) {
    std::string line;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            line.push_back(static_cast<char>(c));
        }
    }
    st.FileName = At("bytes.vlp");
    Sections({line + "\r\n"});
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("bytes.vlp")), line + "\r\n");
}

// Enciphered saves -------------------------------------------------------------------------

TEST_F(SavingTest, EncipheredDocumentOpenedAsPlainNameWritesTheEncipheredName) {
    st.FileName = At("June.vlp");
    WriteBytes(At("June.vlp"), "plain original\r\n");
    st.Enciphered = true;
    Keys({"k\x01y"});
    Sections({"abc\r\n", "[S] Two\r\nxyz\r\n"});

    ASSERT_TRUE(SaveDocument(s));

    const std::string expected = Enciphered({"abc", "[S] Two", "xyz"}, "k\x01y");
    EXPECT_EQ(ReadBytes(At("June.vle")), expected);
    EXPECT_EQ(ReadBytes(At("June.vlp")), "plain original\r\n");
    EXPECT_EQ(st.FileName, At("June.vlp"));
    EXPECT_EQ(p.dialogs.notices, std::vector<std::string>{At("June.vle")});

    // The buffer holds the lines as written, and deciphers back to the text.
    DocumentBuffer written;
    written.AssignText(expected);
    EXPECT_EQ(p.buffer.Lines(), written.Lines());
    DecipherBuffer(s);
    EXPECT_EQ(p.buffer.Lines(), (std::vector<std::string>{"abc", "[S] Two", "xyz"}));

    // Every later save asks again and writes the enciphered name.
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(p.dialogs.keyPrompts, 2);
    EXPECT_EQ(ReadBytes(At("June.vle")), expected);
}

TEST_F(SavingTest, CancelledPromptOfEncipheredDocumentUsesTheKeyInForce) {
    st.FileName = At("June.vle");
    EncipheredDocument("key");
    Sections({"text\r\n"});
    ASSERT_TRUE(SaveDocument(s));  // no prompt callback: cancelled
    EXPECT_EQ(ReadBytes(At("June.vle")), Enciphered({"text"}, "key"));
    EXPECT_TRUE(p.dialogs.questions.empty());
}

// Under an enciphered name nothing is written in clear: not after a cancelled prompt without a
// key in force, nor with an empty key.
TEST_F(SavingTest, EncipheredNameWithoutAKeyWritesNothing) {
    struct Row {
        const char* name;
        bool enciphered;  // the document is enciphered already, without a key
        std::optional<std::string> typed;
        std::string_view message;
    };
    const Row rows[] = {
        {"new .vle name, Cancel", false, std::nullopt, kNoKeyNothingSaved},
        {"default .vle chosen at start, Cancel", true, std::nullopt, kNoKeyNothingSaved},
        {"new .vle name, empty key", false, "", kEmptyCipherKey},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetState();
        p.dialogs = {};
        st.FileName = At("secret.vle");
        st.Enciphered = row.enciphered;
        if (row.typed) {
            Keys({*row.typed});
        }
        Sections({"Dear diary\r\n"});
        st.Modified = true;
        try {
            SaveDocument(s);
            ADD_FAILURE() << "saved";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), Format(row.message, At("secret.vle")));
        }
        EXPECT_FALSE(fs::exists(At("secret.vle")));
        EXPECT_TRUE(st.Modified);
        EXPECT_TRUE(p.dialogs.notices.empty());
    }
}

// A key that deciphered bytes into line breaks cannot be the right one: the text shown is not
// the file's, and enciphered again it would leave the file unreadable with any key.
TEST_F(SavingTest, TextDecipheredIntoLineBreaksReplacesTheFileOnlyAfterAQuestion) {
    const std::string right = "ok";
    const std::string file = Enciphered({"Intro", "[S] One", "text"}, right);
    WriteBytes(At("June.vle"), file);
    // A one-byte key that turns the file's first byte into LF.
    const std::string wrong(1, static_cast<char>(file[0] - '\n'));
    Keys({wrong});
    st.FileName = At("June.vle");
    OpenChosenDocument(s);
    ASSERT_GT(st.DecipheredBreaks, 0u);
    ASSERT_EQ(p.dialogs.messages.size(), 1u);
    EXPECT_NE(p.dialogs.messages[0].find("line break"), std::string::npos);
    EXPECT_NE(p.dialogs.messages[0].find("most likely wrong"), std::string::npos);

    EXPECT_FALSE(SaveDocument(s));  // the question's default is No
    EXPECT_EQ(p.dialogs.questions,
              std::vector<std::string>{
                  Format(Format(kReplaceAfterWrongKey, At("June.vle")), At("June.vle"))});
    EXPECT_EQ(ReadBytes(At("June.vle")), file);

    // Decript reads the file again, since the text shown is known not to be its text; with the
    // right key, no word and no question.
    Keys({right});
    p.dialogs.messages.clear();
    p.dialogs.questions.clear();
    ASSERT_TRUE(Decript(s));
    EXPECT_EQ(st.DecipheredBreaks, 0u);
    EXPECT_TRUE(p.dialogs.messages.empty());
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(ReadBytes(At("June.vle")), file);
}

// A Save As that does not go on names nothing new: while its prompts are open the run goes on,
// and what it records must still be the document as it is.
TEST_F(SavingTest, SaveAsThatDoesNotGoOnKeepsTheNameAndTheKeys) {
    struct Row {
        const char* name;
        const char* newName;
        ModalResult key;
        bool throws;
    };
    const Row rows[] = {
        {"sealed name, key cancelled", "June.vls", ModalResult::Cancel, true},
        {"enciphered name, key cancelled", "June.vle", ModalResult::Cancel, true},
        {"into a missing folder", "missing/June.vlp", ModalResult::Cancel, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetState();
        p.dialogs = {};
        st.FileName = At("June.vlp");
        Sections({"text\r\n"});
        st.Modified = true;
        std::string fileNameDuringPrompt;
        p.dialogs.onSaveDocument = [&](const std::string&, bool) {
            return Answer(ModalResult::OK, At(row.newName));
        };
        p.dialogs.onKeyPrompt = [&] {
            fileNameDuringPrompt = st.FileName;
            return Answer(row.key);
        };
        bool threw = false;
        try {
            SaveWithPrompt(s, false);
        } catch (const Error&) {
            threw = true;
        }
        EXPECT_EQ(threw, row.throws);
        EXPECT_EQ(st.FileName, At("June.vlp"));
        if (p.dialogs.keyPrompts > 0) {
            EXPECT_EQ(fileNameDuringPrompt, At("June.vlp"));
        }
        EXPECT_FALSE(st.Enciphered);
        EXPECT_TRUE(st.CipherKey.empty());
        EXPECT_TRUE(st.Modified);
    }
}

// Another program replaces a protected document while a prompt of its save is open (the modal
// prompt holds the watcher off): its section is merged in before the write, not buried by it.
TEST_F(SavingTest, AChangeOnDiskWhileAPromptIsOpenIsMergedBeforeTheWrite) {
    struct Row {
        const char* name;
        const char* file;
        bool copy;      // a "-copy" backup, whose key is asked a second time
        int replaceAt;  // the prompt of the save during which the file is replaced
    };
    const Row rows[] = {
        {"enciphered, key prompt", "R.vle", false, 1},
        {"sealed, key prompt", "R.vls", false, 1},
        {"enciphered, second prompt of the copy", "R.vle", true, 2},
    };
    const SealParams params = SealingParams();
    SealingParams() = kQuickestSealParams;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetState();
        p.dialogs = {};
        const std::string path = At(row.file);
        st.FileName = path;
        Sections({"Intro\r\n", "[S] One\r\none\r\n"});
        Keys({"key"});
        ASSERT_TRUE(SaveDocument(s));

        p.sections.texts[1] = "[S] One\r\nmine\r\n";
        st.Modified = true;
        st.BackupCurr = row.copy;
        const int before = p.dialogs.keyPrompts;
        p.dialogs.onKeyPrompt = [&] {
            if (p.dialogs.keyPrompts - before == row.replaceAt) {
                const std::string theirs = "Intro\r\n[S] One\r\none\r\n[S] New\r\nnew\r\n";
                if (row.file == std::string("R.vls")) {
                    WriteSealedFile(path + ".new", *st.SealKeyInUse,
                                    [&](SealWriter& w) { w.Write(theirs); });
                } else {
                    WriteBytes(path + ".new",
                               Enciphered({"Intro", "[S] One", "one", "[S] New", "new"}, "key"));
                }
                EXPECT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
            }
            return Answer(ModalResult::OK, "key");
        };
        ASSERT_TRUE(SaveDocument(s));
        EXPECT_EQ(p.dialogs.keyPrompts - before, row.copy ? 2 : 1);
        EXPECT_EQ(*ReadWithKeysInUse(st, path), "Intro\r\n[S] One\r\nmine\r\n[S] New\r\nnew\r\n");
        EXPECT_EQ(p.dialogs.reports.size(), 1u);
        if (row.copy) {
            EXPECT_EQ(ReadBytes(At("R-copy.vle")), ReadBytes(path));
        }
    }
    SealingParams() = params;
}

// Backups ----------------------------------------------------------------------------------

TEST_F(SavingTest, BackupsBesideTheDocumentHoldOldAndNewVersions) {
    st.FileName = At("June.vlp");
    WriteBytes(At("June.vlp"), "old\r\n");
    st.BackupPrev = st.BackupCurr = true;
    Sections({"new\r\n"});

    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("June-prev.vlp")), "old\r\n");
    EXPECT_EQ(ReadBytes(At("June-copy.vlp")), "new\r\n");
    EXPECT_EQ(ReadBytes(At("June.vlp")), "new\r\n");
    EXPECT_EQ(st.DocFolder, dir);

    // The previous-version copy is made once a run; the copy follows every save.
    EXPECT_FALSE(st.BackupPrev);
    Sections({"newer\r\n"});
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("June-prev.vlp")), "old\r\n");
    EXPECT_EQ(ReadBytes(At("June-copy.vlp")), "newer\r\n");
    EXPECT_EQ(Entries(dir),
              (std::vector<std::string>{"June-copy.vlp", "June-prev.vlp", "June.vlp"}));
}

// Whatever the umask and the earlier backups allowed, the backups show no more than the document;
// where their group cannot be the document's, the group may do what others may.
TEST_F(SavingTest, BackupsGetTheDocumentsPermissionBits) {
    struct Row {
        const char* name;
        bool asNobody;
        mode_t mode;
        gid_t group;
        mode_t backups;
    };
    const Row rows[] = {
        {"private document", false, 0600, 0, 0600},
        {"document its group may read", false, 0640, testing::kOtherGroup, 0640},
        {"group the user is not in", true, 0640, 0, 0600},
        {"group the user is not in, others may read", true, 0644, 0, 0644},
    };
    const mode_t umask = ::umask(022);
    ::chmod(dir.c_str(), 0755);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.asNobody && !testing::CanDropPrivileges()) {
            continue;
        }
        const std::string folder = At(row.name);
        const uid_t user = row.asNobody ? testing::kNobody : 0;
        fs::create_directory(folder);
        ASSERT_TRUE(testing::Give(folder, user, testing::kNoGroup, 0755));
        fs::create_directory(folder + " state");
        ASSERT_TRUE(testing::Give(folder + " state", user, testing::kNoGroup, 0700));
        const testing::ScopedEnv stateHome("XDG_STATE_HOME", folder + " state");
        st.FileName = folder + "/June.vlp";
        WriteBytes(st.FileName, "old\r\n");
        WriteBytes(folder + "/June-copy.vlp", "earlier copy\r\n");
        ASSERT_TRUE(testing::Give(st.FileName, user, row.group, row.mode));
        ASSERT_TRUE(testing::Give(folder + "/June-copy.vlp", user, testing::kNoGroup, 0644));
        st.BackupPrev = st.BackupCurr = true;
        Sections({"new\r\n"});

        auto save = [&]() -> std::string { return SaveDocument(s) ? "" : "not saved"; };
        ASSERT_EQ(row.asNobody ? testing::AsNobody(save) : save(), "");
        for (const char* backup : {"/June-prev.vlp", "/June-copy.vlp"}) {
            struct stat bst;
            ASSERT_EQ(::stat((folder + backup).c_str(), &bst), 0) << backup;
            EXPECT_EQ(bst.st_mode & 07777, row.backups) << backup;
            EXPECT_EQ(bst.st_gid, row.asNobody ? testing::kNoGroup : row.group) << backup;
        }
        EXPECT_EQ(ReadBytes(folder + "/June-prev.vlp"), "old\r\n");
        EXPECT_EQ(ReadBytes(folder + "/June-copy.vlp"), "new\r\n");
    }
    ::umask(umask);
}

// In a shared sticky folder, files another user put under the backups' names cannot be replaced:
// the save goes on, and the user is told, as of a link there, that no backup was made.
TEST_F(SavingTest, BackupsStoppedByAnotherUsersFilesAreSaid) {
    if (!testing::CanDropPrivileges()) {
        GTEST_SKIP() << "needs root, to save as the unprivileged user nobody";
    }
    ::chmod(dir.c_str(), 0755);
    const std::string shared = At("shared");
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string state = At("state");
    fs::create_directory(state);
    ASSERT_TRUE(testing::Give(state, testing::kNobody, testing::kNoGroup, 0700));
    const testing::ScopedEnv stateHome("XDG_STATE_HOME", state);
    for (const char* suffix : {"-prev", "-copy"}) {
        SCOPED_TRACE(suffix);
        ResetState();
        p.dialogs = {};
        const std::string planted = shared + "/June" + suffix + ".vlp";
        WriteBytes(planted, "planted\r\n");  // root's, another user to nobody
        ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
        st.FileName = shared + "/June.vlp";
        WriteBytes(st.FileName, "old\r\n");
        ASSERT_TRUE(testing::Give(st.FileName, testing::kNobody, testing::kNoGroup, 0644));
        (std::string(suffix) == "-prev" ? st.BackupPrev : st.BackupCurr) = true;
        Sections({"new\r\n"});
        const std::string said = testing::AsNobody([&]() -> std::string {
            if (!SaveDocument(s)) {
                return "not saved";
            }
            return p.dialogs.messages.size() == 1 ? p.dialogs.messages[0] : "told nothing";
        });
        EXPECT_EQ(said.rfind("No backup was made as " + planted + ": a file of another user", 0),
                  0u)
            << said;
        EXPECT_EQ(ReadBytes(st.FileName), "new\r\n");
        EXPECT_EQ(ReadBytes(planted), "planted\r\n");
        ::unlink(planted.c_str());
    }
}

// Another user plants a link or a folder in a shared sticky folder to lead a backup over a file
// of the user's. The editor resolved links by hand, so the kernel's protected_symlinks never
// applied; it follows none here. The save goes on and the user is told once.
TEST_F(SavingTest, BackupsAreNeverLedElsewhereByAnotherUser) {
    if (!testing::CanDropPrivileges()) {
        GTEST_SKIP() << "needs root, to plant files as the unprivileged user nobody";
    }
    const std::string victim = At("victim");
    fs::create_directory(victim);
    const std::string important = victim + "/important.txt";
    ::chmod(dir.c_str(), 0755);
    struct Row {
        const char* name;
        int backupType;
        bool enciphered;
        const char* planted;  // in the shared folder, by nobody
        bool asFolder;        // a folder of nobody's, else a link to important or its folder
        const char* told;     // the start of what the user is told, if anything
    };
    const Row rows[] = {
        {"link at the -prev name", 0, false, "June-prev.vlp", false, "No backup was made as "},
        {"link at the -copy name", 0, false, "June-copy.vlp", false, "No backup was made as "},
        {"backup folder that is a link", 1, false, "Backup", false, "No backups are made in "},
        {"backup folder of another user", 1, false, "Backup", true, "No backups are made in "},
        {"link at the enciphered name", 0, true, "June.vle", false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetState();
        p.dialogs.messages.clear();
        const std::string shared = At(row.name);
        fs::create_directory(shared);
        ::chmod(shared.c_str(), 01777);
        WriteBytes(important, "important\r\n");
        const std::string planted = shared + "/" + row.planted;
        const std::string to = std::string(row.planted) == "Backup" ? victim : important;
        ASSERT_EQ(testing::AsNobody([&]() -> std::string {
                      const bool ok = row.asFolder ? ::mkdir(planted.c_str(), 0777) == 0
                                                   : ::symlink(to.c_str(), planted.c_str()) == 0;
                      return ok ? "" : "not planted";
                  }),
                  "");
        st.FileName = shared + "/June.vlp";
        WriteBytes(st.FileName, "old\r\n");
        st.BackupPrev = st.BackupCurr = true;
        st.BackupType = row.backupType;
        if (row.enciphered) {
            Keys({"key"});
            st.Enciphered = true;
        }
        Sections({"new\r\n"});

        if (row.told) {
            ASSERT_TRUE(SaveDocument(s));
            EXPECT_EQ(ReadBytes(st.FileName), "new\r\n");
            ASSERT_EQ(p.dialogs.messages.size(), 1u);
            EXPECT_EQ(p.dialogs.messages[0].rfind(row.told + planted, 0), 0u)
                << p.dialogs.messages[0];
            st.BackupPrev = true;
            ASSERT_TRUE(SaveDocument(s));
            EXPECT_EQ(p.dialogs.messages.size(), 1u) << "told again";
        } else {
            try {
                SaveDocument(s);
                ADD_FAILURE() << "saved through the link";
            } catch (const Error& e) {
                EXPECT_EQ(e.what(), "Cannot create file " + planted);
                EXPECT_NE(e.detail().find("symbolic link"), std::string::npos) << e.detail();
            }
        }
        EXPECT_EQ(ReadBytes(important), "important\r\n");
        EXPECT_EQ(Entries(victim), std::vector<std::string>{"important.txt"});
        EXPECT_TRUE(row.asFolder || fs::is_symlink(planted));
    }
}

TEST_F(SavingTest, BackupFolderInsideTheDocumentFolderIsCreated) {
    fs::create_directory(At("docs"));
    st.FileName = At("docs/June.vlp");
    WriteBytes(st.FileName, "old\r\n");
    st.BackupPrev = st.BackupCurr = true;
    st.BackupType = 1;
    st.BackupFolder = "backup";
    Sections({"new\r\n"});

    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("docs/backup/June-prev.vlp")), "old\r\n");
    EXPECT_EQ(ReadBytes(At("docs/backup/June-copy.vlp")), "new\r\n");
    EXPECT_EQ(st.DocFolder, At("docs"));
}

TEST_F(SavingTest, BackupFolderGivenWhole) {
    st.FileName = At("June.vlp");
    WriteBytes(st.FileName, "old\r\n");
    st.BackupPrev = st.BackupCurr = true;
    st.BackupType = 2;
    st.BackupFolder = At("elsewhere");
    Sections({"new\r\n"});

    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("elsewhere/June-prev.vlp")), "old\r\n");
    EXPECT_EQ(ReadBytes(At("elsewhere/June-copy.vlp")), "new\r\n");
}

TEST_F(SavingTest, BackupFolderWithMissingParentFailsSilently) {
    st.FileName = At("June.vlp");
    WriteBytes(st.FileName, "old\r\n");
    st.BackupPrev = st.BackupCurr = true;
    st.BackupType = 2;
    st.BackupFolder = At("missing/backup");
    Sections({"new\r\n"});

    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("June.vlp")), "new\r\n");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vlp"});
    EXPECT_FALSE(st.Modified);
    EXPECT_EQ(p.dialogs.notices.size(), 1u);
}

TEST_F(SavingTest, FirstSaveWithoutOldFileMakesNoPrevButClearsTheSwitch) {
    st.FileName = At("new.vlp");
    st.BackupPrev = true;
    Sections({"text\r\n"});
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_FALSE(st.BackupPrev);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"new.vlp"});
}

TEST_F(SavingTest, TargetWithoutFolderBacksUpInTheCurrentFolder) {
    const fs::path home = fs::current_path();
    fs::current_path(dir);
    st.FileName = "June.vlp";
    WriteBytes("June.vlp", "old\r\n");
    st.BackupPrev = true;
    st.BackupType = 1;
    st.BackupFolder = "bak";
    Sections({"new\r\n"});
    const bool saved = SaveDocument(s);
    fs::current_path(home);

    ASSERT_TRUE(saved);
    EXPECT_EQ(st.DocFolder, ".");
    EXPECT_EQ(ReadBytes(At("bak/June-prev.vlp")), "old\r\n");
}

TEST_F(SavingTest, DocumentFolderOfRootKeepsItsSeparator) {
    st.BackupPrev = true;
    MakeBackups(s, "/velloran-no-such-document.vlp");  // nothing to copy, nothing written
    EXPECT_EQ(st.DocFolder, "/");
    st.BackupPrev = true;
    MakeBackups(s, At("sub//June.vlp"));
    EXPECT_EQ(st.DocFolder, At("sub"));
}

TEST_F(SavingTest, BackupNamePutsTheSuffixBeforeTheLastFourCharacters) {
    EXPECT_EQ(BackupName("/d/June.vlp", "-prev"), "/d/June-prev.vlp");
    EXPECT_EQ(BackupName("June.vle", "-copy"), "June-copy.vle");
    EXPECT_EQ(BackupName("abcd", "-x"), "-xabcd");
    EXPECT_EQ(BackupName("abc", "-x"), "-xabc");
}

TEST_F(SavingTest, EncipheredSaveWithCopyAsksTwiceAndNamesTheCopyVle) {
    st.FileName = At("June.vlp");
    st.Enciphered = true;
    st.BackupCurr = true;
    Keys({"key"});
    Sections({"one\r\n", "[S] two\r\n"});

    ASSERT_TRUE(SaveDocument(s));
    EXPECT_EQ(p.dialogs.keyPrompts, 2);
    EXPECT_EQ(ReadBytes(At("June-copy.vle")), ReadBytes(At("June.vle")));
    EXPECT_EQ(ReadBytes(At("June-copy.vle")), Enciphered({"one", "[S] two"}, "key"));
}

TEST_F(SavingTest, CopyThatCannotBeMadeKeepsTheEarlierCopy) {
    WriteBytes(At("June-copy.vlp"), "earlier copy\r\n");
    st.FileName = At("June.vle");
    st.Enciphered = true;
    Keys({"\x0a"});  // 0 + 10 is LF
    Sections({std::string(1, '\0') + "\r\n"});
    WriteBackupCopy(s, At("June-copy.vlp"));
    EXPECT_EQ(ReadBytes(At("June-copy.vlp")), "earlier copy\r\n");

    st = State{};
    st.FileName = At("June.vlp");
    Sections({std::string(1 << 20, 'x') + "\r\n"});
    EXPECT_EQ(InChildWithFileLimit([&] {
                  WriteBackupCopy(s, At("June-copy.vlp"));
                  return 0;
              }),
              0);
    EXPECT_EQ(ReadBytes(At("June-copy.vlp")), "earlier copy\r\n");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June-copy.vlp"});

    WriteBackupCopy(s, At("missing/June-copy.vlp"));  // silently nothing
}

// Save Document dialog ---------------------------------------------------------------------

TEST_F(SavingTest, SaveDocumentDialogOutcomes) {
    st.FileName = At("June.vlp");
    st.Modified = true;
    Sections({"text\r\n"});
    std::string shownName;
    bool shownDoNotExit = false;
    ModalResult answer = ModalResult::No;
    p.dialogs.onSaveDocument = [&](const std::string& name, bool doNotExit) {
        shownName = name;
        shownDoNotExit = doNotExit;
        return Answer(answer, At("Other.vlp"));
    };

    EXPECT_TRUE(SaveWithPrompt(s, true));  // Do Not Save
    EXPECT_EQ(shownName, At("June.vlp"));
    EXPECT_TRUE(shownDoNotExit);
    EXPECT_TRUE(Entries(dir).empty());
    EXPECT_TRUE(st.Modified);

    answer = ModalResult::Cancel;  // Do Not Exit
    EXPECT_FALSE(SaveWithPrompt(s, true));
    answer = ModalResult::None;  // closed otherwise
    EXPECT_FALSE(SaveWithPrompt(s, false));
    EXPECT_FALSE(shownDoNotExit);
    EXPECT_TRUE(Entries(dir).empty());
    EXPECT_EQ(st.FileName, At("June.vlp"));

    answer = ModalResult::OK;
    EXPECT_TRUE(SaveWithPrompt(s, false));
    EXPECT_EQ(st.FileName, At("Other.vlp"));
    EXPECT_EQ(ReadBytes(At("Other.vlp")), "text\r\n");
    EXPECT_FALSE(st.Modified);
}

// Failures ---------------------------------------------------------------------------------

TEST_F(SavingTest, TargetInMissingFolderFailsAfterTheBackups) {
    fs::create_directory(At("bak"));
    st.FileName = At("missing/June.vlp");
    st.Modified = true;
    st.BackupCurr = true;
    st.BackupType = 2;
    st.BackupFolder = At("bak");
    Sections({"text\r\n"});

    try {
        SaveDocument(s);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file " + At("missing/June.vlp")).c_str());
    }
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(p.dialogs.notices.empty());
    EXPECT_EQ(ReadBytes(At("bak/June-copy.vlp")), "text\r\n");
}

TEST_F(SavingTest, TargetThatIsAFolderFailsAndStaysAFolder) {
    fs::create_directory(At("June.vlp"));
    st.FileName = At("June.vlp");
    st.Modified = true;
    Sections({"text\r\n"});
    p.dialogs.onSaveDocument = [&](const std::string& name, bool) {
        return Answer(ModalResult::OK, name);
    };
    EXPECT_THROW(SaveWithPrompt(s, true), Error);
    EXPECT_TRUE(fs::is_directory(At("June.vlp")));
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(p.dialogs.notices.empty());
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vlp"});
}

TEST_F(SavingTest, SaveCutShortByFileSizeLimitLeavesTheOldDocument) {
    const std::string old = "the old document\r\n[S] kept byte for byte\r\n";
    st.FileName = At("June.vlp");
    WriteBytes(st.FileName, old);
    Sections({std::string(1 << 20, 'x') + "\r\n"});

    EXPECT_EQ(InChildWithFileLimit([&] {
                  try {
                      SaveDocument(s);
                      return 1;
                  } catch (const Error& e) {
                      return std::string(e.what()) == "Cannot create file " + At("June.vlp") ? 0
                                                                                             : 2;
                  }
              }),
              0);
    EXPECT_EQ(ReadBytes(At("June.vlp")), old);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vlp"});
}

// The message stays the one the user knows; the system's reason comes with it, so that the
// writer knows what to free or fix.
TEST_F(SavingTest, FailedSaveSaysWhy) {
    struct Row {
        const char* name;
        const char* target;
        int error;
        bool underFileLimit = false;
        bool secondLink = false;
    };
    const Row rows[] = {
        {"folder that does not exist", "missing/June.vlp", ENOENT},
        {"regular file where a folder is expected", "file/June.vlp", ENOTDIR},
        {"folder where the document is expected", "folder", EISDIR},
        {"file size limit, renamed into place", "June.vlp", EFBIG, true},
        {"file size limit, written in place", "Linked.vlp", EFBIG, true, true},
    };
    WriteBytes(At("file"), "a file\r\n");
    fs::create_directory(At("folder"));
    const testing::ScopedEnv stateHome("XDG_STATE_HOME", At("state"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        st.FileName = At(row.target);
        if (row.underFileLimit) {
            WriteBytes(st.FileName, "old\r\n");
        }
        if (row.secondLink) {
            ASSERT_EQ(::link(st.FileName.c_str(), At("Other name.vlp").c_str()), 0);
        }
        Sections({std::string(row.underFileLimit ? 1 << 20 : 8, 'x') + "\r\n"});
        auto save = [&]() -> std::string {
            try {
                SaveDocument(s);
                return "saved";
            } catch (const Error& e) {
                if (e.what() != "Cannot create file " + st.FileName) {
                    return e.what();
                }
                return e.detail() == std::strerror(row.error) ? "" : e.detail();
            }
        };
        if (row.underFileLimit) {
            EXPECT_EQ(InChildWithFileLimit([&] { return save().empty() ? 0 : 1; }), 0);
            EXPECT_EQ(ReadBytes(st.FileName), "old\r\n");
        } else {
            EXPECT_EQ(save(), "");
        }
    }
}

// A key that cannot encipher the document --------------------------------------------------

TEST_F(SavingTest, KeyThatMakesALineBreakIsRefusedBeforeAnythingIsWritten) {
    st.FileName = At("June.vle");
    WriteBytes(st.FileName, "old enciphered\r\n");
    st.Modified = true;
    st.BackupPrev = st.BackupCurr = true;
    p.buffer.Append("as before");
    EncipheredDocument("good");
    // 200 + 66 = 266, which wraps to LF.
    Keys({"B"});
    p.dialogs.onYesNo = [](const std::string&) { return true; };
    Sections({"ok\r\n", std::string("[S] ") + '\xc8' + "\r\n"});

    try {
        SaveDocument(s);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), std::string(kKeyCannotEncipher));
    }
    EXPECT_NE(std::string(kKeyCannotEncipher).find("another key"), std::string::npos);
    EXPECT_EQ(ReadBytes(At("June.vle")), "old enciphered\r\n");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vle"});
    EXPECT_EQ(p.buffer.Lines(), std::vector<std::string>{"as before"});
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(st.BackupPrev);
    EXPECT_EQ(st.CipherKey, "good");
    EXPECT_TRUE(p.dialogs.notices.empty());
}

TEST_F(SavingTest, CarriageReturnFromAControlKeyByteIsRefusedToo) {
    st.FileName = At("June.vle");
    st.Enciphered = true;
    Keys({"\x0c"});  // 1 + 12 is CR
    Sections({std::string("a") + '\x01' + "\r\n"});
    EXPECT_THROW(SaveDocument(s), Error);
    EXPECT_TRUE(Entries(dir).empty());
}

// A key that differs from the one in force -------------------------------------------------

TEST_F(SavingTest, DifferentKeyDeclinedStopsTheSaveAndKeepsTheKey) {
    st.FileName = At("June.vle");
    WriteBytes(st.FileName, "old\r\n");
    st.Modified = true;
    st.BackupPrev = true;
    p.buffer.Append("as before");
    EncipheredDocument("secret");
    Keys({"secreT"});
    Sections({"text\r\n"});

    EXPECT_FALSE(SaveDocument(s));
    ASSERT_EQ(p.dialogs.questions.size(), 1u);
    EXPECT_NE(p.dialogs.questions[0].find("differs from the one in use"), std::string::npos);
    EXPECT_EQ(ReadBytes(At("June.vle")), "old\r\n");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"June.vle"});
    EXPECT_EQ(p.buffer.Lines(), std::vector<std::string>{"as before"});
    EXPECT_TRUE(st.Modified);
    EXPECT_TRUE(st.BackupPrev);
    EXPECT_EQ(st.CipherKey, "secret");
    EXPECT_TRUE(p.dialogs.notices.empty());

    // An exit that asked for the save does not go on to close.
    p.dialogs.onSaveDocument = [](const std::string& name, bool) {
        return Answer(ModalResult::OK, name);
    };
    EXPECT_FALSE(SaveWithPrompt(s, true));
}

TEST_F(SavingTest, DifferentKeyConfirmedEnciphersWithIt) {
    st.FileName = At("June.vle");
    EncipheredDocument("secret");
    Keys({"other"});
    p.dialogs.onYesNo = [](const std::string&) { return true; };
    Sections({"text\r\n"});
    EXPECT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("June.vle")), Enciphered({"text"}, "other"));
    EXPECT_EQ(st.CipherKey, "other");
}

TEST_F(SavingTest, NoQuestionForTheSameKeyOrWhenNoKeyWasInForce) {
    st.FileName = At("June.vle");
    Sections({"text\r\n"});
    Keys({"first", "first"});
    EXPECT_TRUE(SaveDocument(s));  // no key in force yet
    EXPECT_TRUE(SaveDocument(s));  // the same key again
    EXPECT_TRUE(p.dialogs.questions.empty());
    EXPECT_EQ(ReadBytes(At("June.vle")), Enciphered({"text"}, "first"));
}

// The copy asks for its own key; a different one is confirmed for the copy alone, and the key
// in force stays the document's.
TEST_F(SavingTest, CopyWithDifferentKeyAsksAndLeavesTheDocumentKeyInForce) {
    st.FileName = At("June.vle");
    st.BackupCurr = true;
    EncipheredDocument("doc");
    Sections({"text\r\n"});
    Keys({"doc", "copy"});

    EXPECT_TRUE(SaveDocument(s));  // declined for the copy: no copy, the document is saved
    EXPECT_EQ(p.dialogs.questions.size(), 1u);
    EXPECT_EQ(ReadBytes(At("June.vle")), Enciphered({"text"}, "doc"));
    EXPECT_FALSE(fs::exists(At("June-copy.vle")));
    EXPECT_EQ(st.CipherKey, "doc");
    EXPECT_FALSE(st.Modified);

    p.dialogs.keyPrompts = 0;
    p.dialogs.onYesNo = [](const std::string&) { return true; };
    EXPECT_TRUE(SaveDocument(s));
    EXPECT_EQ(ReadBytes(At("June-copy.vle")), Enciphered({"text"}, "copy"));
    EXPECT_EQ(st.CipherKey, "doc");
}

}  // namespace
}  // namespace velloran
