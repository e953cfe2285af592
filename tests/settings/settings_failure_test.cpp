// A settings file that cannot be written keeps what it held.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "core/Error.h"
#include "settings/ConfigFolder.h"
#include "settings/Settings.h"

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

}  // namespace
