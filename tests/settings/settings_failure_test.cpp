// A settings file that cannot be written keeps what it held.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "core/document/Error.h"
#include "settings/ConfigFolder.h"
#include "settings/Settings.h"
#include "support/Unprivileged.h"

namespace {

using velloran::SaveSettings;
using velloran::Settings;

class SettingsFailure : public ConfigFolderTest {};

// A full disk, as RLIMIT_FSIZE below the size of the file: the first key's rewrite already fails.
TEST_F(SettingsFailure, SaveOverTheFileSizeLimitKeepsTheOldFileWhole) {
    std::string old = "[Velloran]\r\nLeft=7\r\n[Other program]\r\n";
    old += "Notes=" + std::string(8192, 'n') + "\r\n";
    WriteIni(old);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveSettings(Settings{});
        } catch (const velloran::Error& e) {
            ::_exit(std::string(e.what()) == "Unable to write to QMV.ini" ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as saved, 2: another message";
    EXPECT_EQ(ReadIni(), old);
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

// An ordinary user's settings file that is read-only is refused; one that is writable in a folder
// the user cannot write is written over in place.
TEST_F(SettingsFailure, ReadOnlySettingsFileIsRefusedAndKeepsItsBytes) {
    using namespace velloran::testing;
    if (!CanDropPrivileges()) {
        GTEST_SKIP() << "needs root, to save as the unprivileged user nobody";
    }
    struct Row {
        const char* name;
        uid_t folderOwner;
        mode_t mode;
        bool saved;
    };
    for (const Row& row : {Row{"read-only file", kNobody, 0444, false},
                           Row{"folder the user cannot write", 0, 0644, true}}) {
        SCOPED_TRACE(row.name);
        const std::string old = "[Velloran]\r\nLeft=7\r\n";
        WriteIni(old);
        ASSERT_TRUE(Give(Root(), 0, 0, 0755));
        ASSERT_TRUE(Give(IniPath(), kNobody, kNoGroup, row.mode));
        ASSERT_TRUE(Give(ConfigDir(), row.folderOwner, kNoGroup, 0755));
        const std::string state = Root() + "/state " + std::to_string(row.mode);
        ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
        ASSERT_TRUE(Give(state, kNobody, kNoGroup, 0700));
        const ScopedEnv stateHome("XDG_STATE_HOME", state);

        EXPECT_EQ(AsNobody([&]() -> std::string {
                      try {
                          SaveSettings(Settings{});
                      } catch (const velloran::Error& e) {
                          return row.saved || e.what() != std::string("Unable to write to QMV.ini")
                                     ? e.what()
                                     : "";
                      }
                      return row.saved ? "" : "saved";
                  }),
                  "");
        EXPECT_EQ(ReadIni() == old, !row.saved);
        EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
    }
}

}  // namespace
