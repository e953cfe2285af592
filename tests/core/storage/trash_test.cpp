#include "core/storage/Trash.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/storage/FileIO.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

struct Trashed {
    std::optional<std::string> path;
    std::string why;
};

Trashed Trash(const std::string& folder, const std::string& name) {
    const UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const UniqueFd file(OpenOwnFileAt(dir.get(), name));
    Trashed out;
    out.path = MoveToTrash(dir.get(), name, file.get(), folder + "/" + name, out.why);
    return out;
}

// The home trash on the file's own disk, as file managers read it: the file under files/, a
// record under info/ with its escaped path, a second file of the same name beside the first.
TEST(Trash, TakesAFileWithTheRecordThatPutsItBack) {
    const TempDir dir;
    const ScopedEnv data("XDG_DATA_HOME", dir / "data");
    const std::string folder = dir / "my book";
    ASSERT_TRUE(MakeFolders(folder, 0755));
    for (const char* text : {"first", "second"}) {
        WriteBytes(folder + "/June (conflicted copy).vlp", text);
        const Trashed moved = Trash(folder, "June (conflicted copy).vlp");
        ASSERT_TRUE(moved.path) << moved.why;
        EXPECT_EQ(ReadBytes(*moved.path), text);
        EXPECT_FALSE(FileExists(folder + "/June (conflicted copy).vlp"));
    }
    const std::string trash = dir / "data/Trash";
    EXPECT_EQ(ReadBytes(trash + "/files/June (conflicted copy).2.vlp"), "second");
    const std::string record = ReadBytes(trash + "/info/June (conflicted copy).vlp.trashinfo");
    EXPECT_EQ(record.substr(0, record.find("DeletionDate=")),
              "[Trash Info]\nPath=" + folder.substr(0, folder.rfind('/')) +
                  "/my%20book/June%20%28conflicted%20copy%29.vlp\n");
    EXPECT_NE(record.find("\nDeletionDate=2"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(trash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A trash that is a link, or not a folder, takes nothing: the file stays, and nothing is put at
// the top of the disk instead.
TEST(Trash, TakesNothingIntoATrashThatIsNoFolderOfTheUsers) {
    const TempDir dir;
    const ScopedEnv data("XDG_DATA_HOME", dir / "data");
    ASSERT_TRUE(MakeFolders(dir / "data", 0700));
    ASSERT_TRUE(MakeFolders(dir / "elsewhere", 0700));
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "data/Trash").c_str()), 0);
    WriteBytes(dir / "copy.vlp", "text");
    const Trashed moved = Trash(dir.path(), "copy.vlp");
    EXPECT_FALSE(moved.path);
    EXPECT_FALSE(moved.why.empty());
    EXPECT_EQ(ReadBytes(dir / "copy.vlp"), "text");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));
}

// A file on another disk than the home trash goes to the trash at that disk's top, its record
// telling the path from there. /dev/shm serves as the other disk where it is one.
TEST(Trash, TakesAFileOnAnotherDiskToTheTrashAtItsTop) {
    const TempDir dir;
    const ScopedEnv data("XDG_DATA_HOME", dir / "data");
    struct stat shm {};
    struct stat above {};
    struct stat home {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat("/dev", &above) != 0 ||
        ::stat(dir.path().c_str(), &home) != 0 || shm.st_dev == home.st_dev ||
        shm.st_dev == above.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no other writable disk at /dev/shm";
    }
    const std::string top = "/dev/shm";
    const std::string trash = top + "/.Trash-" + std::to_string(::geteuid());
    const bool hadTrash = FileExists(trash);
    const std::string name = "velloran-trash-test-" + std::to_string(::getpid()) + ".vlp";
    WriteBytes(top + "/" + name, "text");
    const Trashed moved = Trash(top, name);
    ASSERT_TRUE(moved.path) << moved.why;
    EXPECT_EQ(*moved.path, trash + "/files/" + name);
    EXPECT_EQ(ReadBytes(*moved.path), "text");
    const std::string record = ReadBytes(trash + "/info/" + name + ".trashinfo");
    EXPECT_EQ(record.substr(0, record.find("DeletionDate=")), "[Trash Info]\nPath=" + name + "\n");
    if (hadTrash) {
        ::unlink(moved.path->c_str());
        ::unlink((trash + "/info/" + name + ".trashinfo").c_str());
    } else {
        std::filesystem::remove_all(trash);
    }
}

}  // namespace
}  // namespace velloran
