// How a file is replaced: refused, renamed into place or written in place, and what it keeps.

#include "core/storage/FileIO.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/document/Error.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/InPlaceWrite.h"
#include "core/storage/StateFolder.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::AsNobody;
using testing::Give;
using testing::kNobody;
using testing::kNoGroup;
using testing::kOtherGroup;
using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

const std::string kOld = "old bytes\r\n";
const std::string kNew = "new bytes, longer than the old ones\r\n";

bool Replace(const std::string& path, const std::string& bytes) {
    return static_cast<bool>(ReplaceFile(path, [&](OutputFile& out) { out.Write(bytes); }));
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& e : std::filesystem::directory_iterator(folder, ignored)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

// A folder that everyone may pass through, with a state folder of its own as XDG_STATE_HOME
// that every user may make its "velloran" folder in.
class FileSystemSaves : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(state.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(state.c_str(), 0777), 0);
    }
    void NeedsAnOrdinaryUser() {
        if (!testing::CanDropPrivileges()) {
            GTEST_SKIP() << "needs root, to run the save as the unprivileged user nobody";
        }
    }
    // What the state folder holds: nothing once every write has finished.
    std::set<std::string> Secured() const { return Entries(state + "/velloran"); }

    TempDir dir;
    std::string state = dir / "state";
    ScopedEnv stateHome{"XDG_STATE_HOME", state};
};

// A listing leaves out "." and ".." and reads the folder named, never the current one for an
// empty name: callers remove what they find there.
TEST(FolderNamesTest, ListFolderByPathOrHeldOpenAndNothingForAnEmptyPath) {
    TempDir dir;
    WriteBytes(dir / "a", "");
    ASSERT_EQ(::mkdir((dir / "b").c_str(), 0700), 0);
    const std::set<std::string> expected{"a", "b"};
    auto set = [](const std::vector<std::string>& v) { return std::set(v.begin(), v.end()); };
    EXPECT_EQ(set(FolderNames(dir.path())), expected);
    const UniqueFd held(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(set(FolderNames(held.get())), expected);
    EXPECT_EQ(set(FolderNames(held.get())), expected);  // the descriptor stays usable
    EXPECT_TRUE(FolderNames(dir / "missing").empty());
    EXPECT_TRUE(FolderNames(-1).empty());
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_TRUE(FolderNames("").empty());
    std::filesystem::current_path(cwd);
}

// Refused saves ------------------------------------------------------------------------------

TEST_F(FileSystemSaves, DocumentTheUserMayNotWriteIsRefusedAndKeepsItsBytes) {
    NeedsAnOrdinaryUser();
    struct Row {
        const char* name;
        uid_t owner;
        mode_t mode;
    };
    for (const Row& row : {Row{"read-only document of the user", kNobody, 0444},
                           Row{"another user's document", 0, 0644}}) {
        SCOPED_TRACE(row.name);
        const std::string folder = dir / row.name;
        const std::string doc = folder + "/June.vlp";
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_TRUE(Give(folder, kNobody, kNoGroup, 0755));
        WriteBytes(doc, kOld);
        ASSERT_TRUE(Give(doc, row.owner, kNoGroup, row.mode));
        const ino_t inode = StatOf(doc).st_ino;

        EXPECT_EQ(AsNobody([&]() -> std::string {
                      DocumentBuffer buffer;
                      buffer.Append("new");
                      try {
                          WriteDocument(doc, buffer);
                      } catch (const Error& e) {
                          return e.what() == "Cannot create file " + doc ? "" : e.what();
                      }
                      return "saved";
                  }),
                  "");
        EXPECT_EQ(ReadBytes(doc), kOld);
        EXPECT_EQ(StatOf(doc).st_ino, inode);
        EXPECT_EQ(StatOf(doc).st_mode & 07777, row.mode);
        EXPECT_EQ(Entries(folder), std::set<std::string>{"June.vlp"});
    }
    EXPECT_TRUE(Secured().empty());
}

// The way each file is written ---------------------------------------------------------------

enum class Way { kRenamed, kInPlace };

struct WayCase {
    const char* name;
    bool asNobody;
    std::vector<gid_t> groups;  // nobody's supplementary groups
    uid_t folderOwner;
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool secondLink;
    Way way;
};

// clang-format off
const WayCase kWayCases[] = {
    // name                                          nobody  groups         folder   owner    group        mode  link   way
    {"own document in own folder",                   true,   {},            kNobody, kNobody, kNoGroup,    0640, false, Way::kRenamed},
    {"folder the user cannot write",                 true,   {},            0,       kNobody, kNoGroup,    0644, false, Way::kInPlace},
    {"second hard link",                             false,  {},            0,       0,       0,           0644, true,  Way::kInPlace},
    {"group the user is in",                         true,   {kOtherGroup}, kNobody, kNobody, kOtherGroup, 0640, false, Way::kRenamed},
    {"group the user is not in",                     true,   {},            kNobody, kNobody, 0,           0640, false, Way::kInPlace},
    {"another owner's document the user may write",  true,   {},            kNobody, 0,       0,           0666, false, Way::kInPlace},
    {"root saving another user's document",          false,  {},            kNobody, kNobody, kOtherGroup, 0600, false, Way::kRenamed},
    {"root saving a read-only document",             false,  {},            0,       0,       0,           0444, false, Way::kRenamed},
};
// clang-format on

// Every way keeps the file's owner, group, mode and other names, and leaves nothing behind.
TEST_F(FileSystemSaves, EachFileIsRenamedOnlyWhenNothingIsLost) {
    for (const WayCase& c : kWayCases) {
        SCOPED_TRACE(c.name);
        if (c.asNobody && !testing::CanDropPrivileges()) {
            continue;
        }
        const std::string folder = dir / c.name;
        const std::string doc = folder + "/June.vlp";
        const std::string other = folder + "/Other name.vlp";
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        WriteBytes(doc, kOld);
        ASSERT_TRUE(Give(doc, c.owner, c.group, c.mode));
        if (c.secondLink) {
            ASSERT_EQ(::link(doc.c_str(), other.c_str()), 0);
        }
        ASSERT_TRUE(Give(folder, c.folderOwner, kNoGroup, 0755));
        const struct stat before = StatOf(doc);
        const std::set<std::string> names = Entries(folder);
        // A state folder for each user.
        const std::string userState = folder + " state";
        ASSERT_EQ(::mkdir(userState.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(userState.c_str(), 0777), 0);
        ScopedEnv stateOfTheUser("XDG_STATE_HOME", userState);

        auto save = [&]() -> std::string { return Replace(doc, kNew) ? "" : "not saved"; };
        ASSERT_EQ(c.asNobody ? AsNobody(save, c.groups) : save(), "");

        const struct stat after = StatOf(doc);
        EXPECT_EQ(ReadBytes(doc), kNew);
        EXPECT_EQ(after.st_ino == before.st_ino, c.way == Way::kInPlace);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (c.secondLink) {
            EXPECT_EQ(ReadBytes(other), kNew);
        }
        EXPECT_EQ(Entries(folder), names);
        EXPECT_TRUE(Entries(userState + "/velloran").empty());
    }
}

// The extended attributes of a file, the system's security labels left out.
std::map<std::string, std::string> Attributes(const std::string& path) {
    std::map<std::string, std::string> out;
    char names[4096];
    const ssize_t n = ::listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const std::string name = names + at;
        char value[4096];
        const ssize_t size = ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
        if (!name.starts_with("security.") && size >= 0) {
            out[name] = std::string(value, static_cast<std::size_t>(size));
        }
    }
    return out;
}

// The bytes of a POSIX ACL as the kernel keeps it in system.posix_acl_access: the owner, the
// group and others with their mode bits, plus read for the user id given, with its mask.
std::string AclReading(uid_t reader) {
    auto entry = [](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
        std::string e(8, '\0');
        std::memcpy(e.data(), &tag, 2);
        std::memcpy(e.data() + 2, &perm, 2);
        std::memcpy(e.data() + 4, &id, 4);
        return e;
    };
    constexpr std::uint32_t kUndefined = 0xFFFFFFFF;
    return std::string("\x02\0\0\0", 4) + entry(0x01, 6, kUndefined) + entry(0x02, 4, reader) +
           entry(0x04, 4, kUndefined) + entry(0x10, 4, kUndefined) + entry(0x20, 0, kUndefined);
}

// A folder on a file system that keeps user.* attributes and ACLs: the temporary folder, memory
// or the build folder, the first that does.
std::unique_ptr<TempDir> FolderWithAttributes() {
    for (const std::filesystem::path& base :
         {std::filesystem::temp_directory_path(), std::filesystem::path("/dev/shm"),
          std::filesystem::current_path()}) {
        auto folder = std::make_unique<TempDir>(base);
        const std::string probe = *folder / "probe";
        WriteBytes(probe, "");
        const std::string acl = AclReading(kNobody);
        if (!folder->path().empty() && ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0 &&
            ::setxattr(probe.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0) {
            ::unlink(probe.c_str());
            return folder;
        }
    }
    return nullptr;
}

TEST_F(FileSystemSaves, RenameKeepsAttributesAndAclsAndAddsNone) {
    const auto folder = FolderWithAttributes();
    if (!folder) {
        GTEST_SKIP() << "no file system here keeps user.* attributes and ACLs (tried the "
                        "temporary folder, /dev/shm and the build folder)";
    }
    const std::string acl = AclReading(kNobody);
    // With a default ACL on the folder a new file starts with an access ACL of its own.
    const std::string inherited = AclReading(kOtherGroup);
    ASSERT_EQ(::setxattr(folder->path().c_str(), "system.posix_acl_default", inherited.data(),
                         inherited.size(), 0),
              0);
    struct Row {
        const char* name;
        std::map<std::string, std::string> attributes;
    };
    for (const Row& row : {Row{"attribute and ACL",
                               {{"user.velloran.note", std::string("kept\0bytes", 10)},
                                {"system.posix_acl_access", acl}}},
                           Row{"none", {}}}) {
        SCOPED_TRACE(row.name);
        const std::string doc = *folder / (std::string(row.name) + ".vlp");
        WriteBytes(doc, kOld);
        ::removexattr(doc.c_str(), "system.posix_acl_access");
        for (const auto& [name, value] : row.attributes) {
            ASSERT_EQ(::setxattr(doc.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
                << name;
        }
        ASSERT_EQ(Attributes(doc), row.attributes);
        const ino_t inode = StatOf(doc).st_ino;

        ASSERT_TRUE(Replace(doc, kNew));
        EXPECT_EQ(ReadBytes(doc), kNew);
        EXPECT_NE(StatOf(doc).st_ino, inode) << "not renamed";
        EXPECT_EQ(Attributes(doc), row.attributes);
    }
}

// Names --------------------------------------------------------------------------------------

// Root in a folder of its own, where the kernel follows every link: the editor itself refuses.
// Nor does it fill a file another user may have put in its way, or write it into other names.
TEST_F(FileSystemSaves, NamesTheEditorMadeUpAreNeverFollowedThroughLinks) {
    NeedsAnOrdinaryUser();  // to give files to another user
    const std::string victim = dir / "victim";
    ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
    const std::string important = victim + "/important.txt";
    const std::string backup = "June-prev.vlp";
    auto link = [](const std::string& to, const std::string& at) {
        return ::symlink(to.c_str(), at.c_str()) == 0;
    };
    struct Row {
        const char* name;
        std::function<bool(const std::string& folder)> plant;
        int error;  // 0: written as a new file of the user's own
    };
    const Row rows[] = {
        {"link to another file",
         [&](const std::string& f) { return link(important, f + "/" + backup); }, kLinkInTheWay},
        {"link to no file yet",
         [&](const std::string& f) { return link(victim + "/new.txt", f + "/" + backup); },
         kLinkInTheWay},
        {"another user's file, open to all",
         [&](const std::string& f) {
             WriteBytes(f + "/" + backup, kOld);
             return Give(f + "/" + backup, kNobody, kNoGroup, 0666);
         },
         0},
        {"file of the user's with a second name",
         [&](const std::string& f) {
             WriteBytes(f + "/" + backup, kOld);
             return ::link((f + "/" + backup).c_str(), (f + "/second").c_str()) == 0;
         },
         0},
    };
    const FileAccess access{0600, std::nullopt};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(important, kOld);
        const std::string folder = dir / row.name;
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_TRUE(row.plant(folder));
        // What was there before, to see that the write did not fill it.
        const UniqueFd before(::open((folder + "/" + backup).c_str(), O_RDONLY | O_CLOEXEC));

        const WriteResult written = ReplaceFile(
            folder + "/" + backup, [&](OutputFile& out) { out.Write(kNew); }, access,
            Naming::kMadeUp);
        EXPECT_EQ(written.error(), row.error) << written.Reason();
        EXPECT_EQ(ReadBytes(important), kOld);
        EXPECT_FALSE(std::filesystem::exists(victim + "/new.txt"));
        if (before) {
            char bytes[64];
            const ssize_t n = ::pread(before.get(), bytes, sizeof bytes, 0);
            EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), kOld);
        }
        if (row.error == 0) {
            struct stat st {};
            ASSERT_EQ(::lstat((folder + "/" + backup).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_uid, 0u);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_EQ(st.st_nlink, 1u);
            EXPECT_EQ(ReadBytes(folder + "/" + backup), kNew);
        }
    }
}

TEST_F(FileSystemSaves, LongestNamesAreSavedAndTheirLeftoversSwept) {
    for (std::size_t length : {248u, 255u}) {
        SCOPED_TRACE(std::to_string(length) + "-byte name");
        TempDir folder;
        const std::string name = std::string(length - 4, 'n') + ".vlp";
        const std::string doc = folder / name;
        ASSERT_TRUE(Replace(doc, kOld)) << "new file";
        ASSERT_TRUE(Replace(doc, kNew)) << "replaced";
        EXPECT_EQ(ReadBytes(doc), kNew);
        // A killed save's temporary file, under the shortened name the saves use.
        const std::string leftover =
            "." + name.substr(0, std::min<std::size_t>(length, 247)) + "~Ab12Cd";
        WriteBytes(folder / leftover, "left by a killed save");
        ASSERT_TRUE(Replace(doc, kOld));
        EXPECT_EQ(Entries(folder.path()), std::set<std::string>{name});
    }
}

TEST_F(FileSystemSaves, TemporaryFileOfASaveStillWritingIsNotRemoved) {
    const std::string doc = dir / "June.vlp";
    WriteBytes(doc, kOld);
    WriteBytes(dir / ".June.vlp~dead01", "left by a killed save");
    // Locked as the save that is still writing it holds it.
    const UniqueFd live(
        ::open((dir / ".June.vlp~live01").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(::flock(live.get(), LOCK_EX), 0);
    ASSERT_TRUE(Replace(doc, kNew));
    EXPECT_EQ(Entries(dir.path()),
              (std::set<std::string>{".June.vlp~live01", "June.vlp", "state"}));
}

// Failures -----------------------------------------------------------------------------------

// A document written the way given: in place when it has a second name.
std::string Document(const std::string& folder, Way way) {
    const std::string doc = folder + "/June.vlp";
    WriteBytes(doc, kOld);
    if (way == Way::kInPlace) {
        ::link(doc.c_str(), (folder + "/Other name.vlp").c_str());
    }
    return doc;
}

std::string Document(const TempDir& folder, Way way) {
    return Document(folder.path(), way);
}

TEST_F(FileSystemSaves, FailuresPutTheOldBytesBackAndLeaveNothingOpen) {
    // Several MiB, so that part of them reaches the file before the failure.
    const std::string big(3 << 20, 'b');
    for (Way way : {Way::kRenamed, Way::kInPlace}) {
        SCOPED_TRACE(way == Way::kRenamed ? "renamed" : "in place");
        TempDir folder;
        const std::string doc = Document(folder, way);
        const std::set<std::string> names = Entries(folder.path());
        auto openFiles = [] { return Entries("/proc/self/fd").size(); };
        const std::size_t open = openFiles();

        EXPECT_THROW(ReplaceFile(doc,
                                 [&](OutputFile& out) {
                                     out.Write(big);
                                     throw std::bad_alloc();
                                 }),
                     std::bad_alloc);
        EXPECT_EQ(ReadBytes(doc), kOld) << "after an exception";
        EXPECT_EQ(Entries(folder.path()), names);
        EXPECT_EQ(openFiles(), open);

        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1 << 20, 1 << 20};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(Replace(doc, big) ? 1 : 0);
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a full disk went unseen";
        EXPECT_EQ(ReadBytes(doc), kOld) << "after a full disk";
        EXPECT_EQ(Entries(folder.path()), names);
    }
    EXPECT_TRUE(Secured().empty());
}

// Writes killed in the middle ----------------------------------------------------------------

// A child process that writes kNew over doc in place and stops, once part of it has reached the
// file, until it is let go or killed.
class HeldWrite {
  public:
    explicit HeldWrite(const std::string& doc) {
        int reached[2];
        if (::pipe(reached) != 0 || ::pipe(go_) != 0) {
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            ::close(reached[0]);
            ::close(go_[1]);
            const WriteResult ok = ReplaceFile(doc, [&](OutputFile& out) {
                out.Write(std::string(2 << 20, 'x'));  // past the buffer: on the file
                [[maybe_unused]] ssize_t said = ::write(reached[1], "w", 1);
                char c;
                [[maybe_unused]] ssize_t heard = ::read(go_[0], &c, 1);
                out.Write(kNew);
            });
            ::_exit(ok ? 0 : 1);
        }
        ::close(reached[1]);
        ::close(go_[0]);
        char c = 0;
        writing_ = ::read(reached[0], &c, 1) == 1;
        ::close(reached[0]);
    }
    ~HeldWrite() { Finish(); }
    bool Writing() const { return writing_; }
    // The exit status once it has been let go to finish.
    int Finish() {
        if (go_[1] >= 0) {
            [[maybe_unused]] ssize_t said = ::write(go_[1], "g", 1);
            ::close(go_[1]);
            go_[1] = -1;
        }
        return Wait();
    }
    void Kill() {
        ::kill(child_, SIGKILL);
        Wait();
        ::close(go_[1]);
        go_[1] = -1;
    }

  private:
    int Wait() {
        if (child_ > 0) {
            ::waitpid(child_, &status_, 0);
            child_ = -1;
        }
        return status_;
    }
    int go_[2] = {-1, -1};
    pid_t child_ = -1;
    bool writing_ = false;
    int status_ = -1;
};

TEST_F(FileSystemSaves, WriteStillRunningIsLeftAloneAndItsCopyIsPrivate) {
    const std::string doc = Document(dir, Way::kInPlace);
    HeldWrite write(doc);
    ASSERT_TRUE(write.Writing());
    EXPECT_EQ(StatOf(state + "/velloran").st_mode & 07777, 0700u);
    const std::set<std::string> copies = Secured();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(StatOf(state + "/velloran/" + *copies.begin()).st_mode & 07777, 0600u);

    EXPECT_TRUE(RestoreInterruptedWrites().empty());
    EXPECT_FALSE(Replace(doc, kOld)) << "a second writer of the same file went on";
    EXPECT_EQ(Secured(), copies);
    EXPECT_EQ(ReadBytes(doc).substr(0, 4), "xxxx") << "the running write was disturbed";

    const int status = write.Finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadBytes(doc), std::string(2 << 20, 'x') + kNew);
    EXPECT_TRUE(Secured().empty());
}

// The old bytes of a killed write go back into its file, and never into another file that has
// since taken its name: those are kept aside for the user, reported at every start.
TEST_F(FileSystemSaves, KilledWriteIsPutBackIntoItsOwnFileOnly) {
    enum After { kNothing, kReplaced, kSavedUnderItsOtherName };
    for (After after : {kNothing, kReplaced, kSavedUnderItsOtherName}) {
        SCOPED_TRACE(after == kNothing    ? "left as the write left it"
                     : after == kReplaced ? "replaced by another file"
                                          : "saved under its other name, the first one gone");
        TempDir folder;
        const std::string doc = Document(folder, Way::kInPlace);
        const std::string other = folder / "Other name.vlp";
        ASSERT_EQ(::link(doc.c_str(), (folder / "Third name.vlp").c_str()), 0);
        {
            HeldWrite write(doc);
            ASSERT_TRUE(write.Writing());
            write.Kill();
        }
        if (after == kReplaced) {
            WriteBytes(folder / "newer.vlp", "written since\r\n");
            ASSERT_EQ(::rename((folder / "newer.vlp").c_str(), doc.c_str()), 0);
        } else if (after == kSavedUnderItsOtherName) {
            ASSERT_EQ(::unlink(doc.c_str()), 0);
            ASSERT_TRUE(Replace(other, kNew));
            EXPECT_EQ(ReadBytes(other), kNew);
            ASSERT_EQ(Secured().size(), 1u);
            EXPECT_EQ(Secured().begin()->substr(0, 11), "unrestored-") << "met by the save";
        }
        for (int start = 0; start < 2; ++start) {
            const auto found = RestoreInterruptedWrites();
            if (after == kNothing && start == 1) {
                EXPECT_TRUE(found.empty());
                continue;
            }
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].file, doc);
            EXPECT_EQ(found[0].restored, after == kNothing);
            if (after != kNothing) {
                EXPECT_EQ(FileNamePart(found[0].copy).substr(0, 11), "unrestored-");
                EXPECT_TRUE(ReadBytes(found[0].copy).ends_with(kOld)) << "not whole";
            }
        }
        if (after == kNothing) {
            EXPECT_EQ(ReadBytes(doc), kOld);
            EXPECT_EQ(ReadBytes(other), kOld);
        } else if (after == kReplaced) {
            EXPECT_EQ(ReadBytes(doc), "written since\r\n");
        }
        EXPECT_EQ(Secured().size(), after == kNothing ? 0u : 1u);
        std::filesystem::remove_all(state + "/velloran");
    }
}

// Sets the modification time of path to when (and its access time with it).
bool SetTime(const std::string& path, const timespec& when) {
    const timespec times[2] = {when, when};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// Writes bytes over the file at path at offset, as an editor writing in place does.
bool WriteOver(const std::string& path, const std::string& bytes, off_t at, bool truncate) {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | (truncate ? O_TRUNC : 0)));
    return fd &&
           ::pwrite(fd.get(), bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size());
}

// A killed write, and the file mended since by another program that writes in place too (as
// editors do with a file of several names): its old bytes must never go over the mended file,
// however little the other program changed, but be kept for the user, at every start.
TEST_F(FileSystemSaves, KilledWriteIsNeverPutBackOverAFileChangedSince) {
    struct Row {
        const char* name;
        std::function<bool(const std::string& doc)> change;
    };
    const Row rows[] = {
        {"written over by another program",
         [](const std::string& doc) { return WriteOver(doc, "mended by hand\r\n", 0, true); }},
        {"the same bytes written over it again, later",
         [](const std::string& doc) {
             const struct stat st = StatOf(doc);
             timespec later = st.st_mtim;
             later.tv_sec += 1;
             return WriteOver(doc, ReadBytes(doc), 0, false) && SetTime(doc, later);
         }},
        {"one byte changed, its time set back",
         [](const std::string& doc) {
             const struct stat st = StatOf(doc);
             return WriteOver(doc, "y", st.st_size / 2, false) && SetTime(doc, st.st_mtim);
         }},
        {"cut short, its time set back",
         [](const std::string& doc) {
             const struct stat st = StatOf(doc);
             return ::truncate(doc.c_str(), st.st_size - 1) == 0 && SetTime(doc, st.st_mtim);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        const std::string doc = Document(folder, Way::kInPlace);
        {
            HeldWrite write(doc);
            ASSERT_TRUE(write.Writing());
            write.Kill();
        }
        ASSERT_TRUE(row.change(doc));
        const std::string mended = ReadBytes(doc);
        for (int start = 0; start < 2; ++start) {
            const auto found = RestoreInterruptedWrites();
            ASSERT_EQ(found.size(), 1u);
            EXPECT_FALSE(found[0].restored);
            EXPECT_EQ(found[0].kept, KeptBecause::kChanged);
            EXPECT_EQ(DescribeInterruptedWrite(found[0]),
                      Format(Format(kWriteChangedSince, doc), found[0].copy));
            EXPECT_EQ(FileNamePart(found[0].copy).substr(0, 11), "unrestored-");
            EXPECT_TRUE(ReadBytes(found[0].copy).ends_with(kOld)) << "not whole";
            EXPECT_TRUE(ReadBytes(doc) == mended) << "the old bytes went over the mended file";
        }
        std::filesystem::remove_all(state + "/velloran");
    }
}

// The current folder for as long as this lives.
class InFolder {
  public:
    explicit InFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

  private:
    std::filesystem::path previous_;
};

// A killed write of a document named relative to the current folder is put back at a start from
// anywhere; one whose document cannot be reached now (its folder gone, or another disk where its
// own is not mounted) is kept as it is and told at every start, then put back once it can be.
TEST_F(FileSystemSaves, KilledWriteOutOfReachIsPutBackOnceItCanBe) {
    enum Away { kRestartedElsewhere, kFolderGone, kOtherDisk };
    for (Away away : {kRestartedElsewhere, kFolderGone, kOtherDisk}) {
        SCOPED_TRACE(away == kRestartedElsewhere ? "named relative to a folder left since"
                     : away == kFolderGone       ? "its folder gone for now"
                                                 : "another disk in its folder's place");
        const TempDir base(away == kOtherDisk ? TempDir::MemoryBase()
                                              : std::filesystem::temp_directory_path());
        if (away == kOtherDisk && StatOf(base.path()).st_dev == StatOf(dir.path()).st_dev) {
            std::fprintf(stderr, "skipped: no second file system here for another disk\n");
            continue;
        }
        const std::string folder = base / "docs";
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string doc = std::filesystem::canonical(Document(folder, Way::kInPlace));
        {
            std::optional<InFolder> here;
            if (away == kRestartedElsewhere) {
                here.emplace(folder);
            }
            HeldWrite write(away == kRestartedElsewhere ? "June.vlp" : doc);
            ASSERT_TRUE(write.Writing());
            write.Kill();
        }
        const std::string gone = folder + " away";
        if (away != kRestartedElsewhere) {
            ASSERT_EQ(::rename(folder.c_str(), gone.c_str()), 0);
        }
        const TempDir otherDisk(dir.path());
        if (away == kOtherDisk) {
            WriteBytes(otherDisk / "June.vlp", "a file of the other disk\r\n");
            ASSERT_EQ(::symlink(otherDisk.path().c_str(), folder.c_str()), 0);
        }
        for (int start = 0; away != kRestartedElsewhere && start < 2; ++start) {
            const auto found = RestoreInterruptedWrites();
            ASSERT_EQ(found.size(), 1u);
            EXPECT_FALSE(found[0].restored);
            EXPECT_EQ(found[0].kept, KeptBecause::kUnreachable);
            EXPECT_EQ(DescribeInterruptedWrite(found[0]),
                      Format(Format(kWriteUnreachable, doc), found[0].copy));
            EXPECT_EQ(FileNamePart(found[0].copy).substr(0, 8), "secured-");
            EXPECT_EQ(ReadBytes(gone + "/June.vlp").substr(0, 4), "xxxx");
        }
        if (away == kOtherDisk) {
            EXPECT_EQ(ReadBytes(folder + "/June.vlp"), "a file of the other disk\r\n");
            ASSERT_EQ(::unlink(folder.c_str()), 0);
        }
        if (away != kRestartedElsewhere) {
            ASSERT_EQ(::rename(gone.c_str(), folder.c_str()), 0);
        }
        const auto found = RestoreInterruptedWrites();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_TRUE(found[0].restored) << DescribeInterruptedWrite(found[0]);
        EXPECT_EQ(found[0].file, doc);
        EXPECT_EQ(ReadBytes(doc), kOld);
        EXPECT_TRUE(Secured().empty());
    }
}

// A copy the previous version made, which recorded nothing of what it wrote, is put back as
// before while nothing can have changed the file since its write; otherwise it is kept aside.
TEST_F(FileSystemSaves, CopyOfThePreviousVersionIsPutBackOnlyWhileNothingElseCanHaveWritten) {
    struct Row {
        const char* name;
        time_t madeBefore;  // seconds
        bool restored;
    };
    for (const Row& row : {Row{"made as the write began", 0, true},
                           Row{"made an hour before the file last changed", 3600, false}}) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        const std::string doc = Document(folder, Way::kInPlace);
        const auto made = MakeStateFolder();
        ASSERT_TRUE(made);
        const struct stat st = StatOf(doc);
        const std::string copy =
            *made + "/secured-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
        WriteBytes(copy, "velloran secured bytes 1\n" + std::to_string(st.st_dev) + " " +
                             std::to_string(st.st_ino) + " " + std::to_string(kOld.size()) + "\n" +
                             doc + std::string(1, '\0') + kOld);
        ASSERT_EQ(::chmod(copy.c_str(), 0600), 0);
        timespec when{};
        ::clock_gettime(CLOCK_REALTIME, &when);
        when.tv_sec -= row.madeBefore;
        ASSERT_TRUE(SetTime(copy, when));
        ASSERT_TRUE(WriteOver(doc, "NEW", 0, false));  // the write killed after three bytes

        const auto found = RestoreInterruptedWrites();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].restored, row.restored);
        EXPECT_EQ(ReadBytes(doc), row.restored ? kOld : "NEW bytes\r\n");
        if (!row.restored) {
            EXPECT_EQ(DescribeInterruptedWrite(found[0]),
                      Format(Format(kWriteUnsure, doc), found[0].copy));
            EXPECT_TRUE(ReadBytes(found[0].copy).ends_with(kOld));
        }
        EXPECT_EQ(Secured().size(), row.restored ? 0u : 1u);
        std::filesystem::remove_all(state + "/velloran");
    }
}

}  // namespace
}  // namespace velloran
