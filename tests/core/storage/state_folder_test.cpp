#include "core/storage/StateFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(StateFolder, FollowsXdgStateHomeElseTheHomeFolder) {
    const ScopedEnv home("HOME", "/home/ann/");
    struct Row {
        const char* name;
        const char* value;
        const char* folder;
    };
    for (const Row& row : {Row{"absolute", "/var/state/", "/var/state/velloran"},
                           Row{"relative, ignored", "state", "/home/ann/.local/state/velloran"},
                           Row{"empty, ignored", "", "/home/ann/.local/state/velloran"}}) {
        SCOPED_TRACE(row.name);
        const ScopedEnv state("XDG_STATE_HOME", row.value);
        EXPECT_EQ(StateFolder(), row.folder);
    }
}

TEST(StateFolder, IsMadeAndKeptPrivateAndNeverTakenFromAnotherUser) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir / "missing/state");
    const auto made = MakeStateFolder("recovery");
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, dir / "missing/state/velloran/recovery");
    for (const char* folder : {"missing", "missing/state", "missing/state/velloran",
                               "missing/state/velloran/recovery"}) {
        EXPECT_EQ(ModeOf(dir / folder), 0700u) << folder;
    }

    ASSERT_EQ(::chmod((dir / "missing/state/velloran").c_str(), 0755), 0);
    ASSERT_TRUE(MakeStateFolder());
    EXPECT_EQ(ModeOf(dir / "missing/state/velloran"), 0700u) << "left open to others";

    if (testing::CanDropPrivileges()) {
        ASSERT_TRUE(testing::Give(dir / "missing/state/velloran", testing::kNobody,
                                  testing::kNoGroup, 0700));
        EXPECT_FALSE(MakeStateFolder()) << "another user's folder was taken";
    }
}

}  // namespace
}  // namespace velloran
