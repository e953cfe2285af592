// Saves that are killed or whose writes fail must never cost the document on disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/InPlaceWrite.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A version of the document as it must be found on disk: compared by size first, then by hash.
struct Version {
    char name;
    std::size_t size;
    std::size_t hash;
};

Version Describe(char name, std::string_view bytes) {
    return {name, bytes.size(), std::hash<std::string_view>{}(bytes)};
}

// The version the file holds, or '?' when it is neither. Mapped, not read, since it runs after
// every kill.
char Identify(const std::string& path, const Version& a, const Version& b) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return '?';
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    char found = '?';
    for (const Version* v : {&a, &b}) {
        if (size != v->size) {
            continue;
        }
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const std::string_view bytes(static_cast<const char*>(map), size);
            found = std::hash<std::string_view>{}(bytes) == v->hash ? v->name : '?';
            ::munmap(map, size);
        }
        break;
    }
    ::close(fd);
    return found;
}

// About 50 MiB of CR LF lines in sections, different for each version. Long lines keep the
// per-line work of a save small beside its writing, which is where the kills have to land.
std::string MakeVersion(char name) {
    constexpr std::size_t kSize = 50u << 20;
    const std::string prose(name == 'A' ? 1000 : 1001, name);
    std::string bytes;
    bytes.reserve(kSize + 2 * prose.size());
    for (unsigned i = 0; bytes.size() < kSize; ++i) {
        if (i % 1000 == 0) {
            bytes += "[S] section " + std::to_string(i) + "\r\n";
        }
        bytes += std::to_string(i) + prose + "\r\n";
    }
    return bytes;
}

// Versions A and B of a document, as buffers to write and as they must be found on disk.
struct TwoVersions {
    TwoVersions() {
        std::string bytes = MakeVersion('A');
        a = Describe('A', bytes);
        bufferA.AssignText(std::move(bytes));
        bytes = MakeVersion('B');
        b = Describe('B', bytes);
        bufferB.AssignText(std::move(bytes));
    }
    Version a;
    Version b;
    DocumentBuffer bufferA;
    DocumentBuffer bufferB;
};

std::size_t TemporaryFiles(const std::string& folder, const std::string& name) {
    const std::string prefix = "." + name + "~";
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename().string().starts_with(prefix) ? 1 : 0;
    }
    return count;
}

void SleepFor(std::chrono::nanoseconds delay) {
    timespec ts{static_cast<time_t>(delay.count() / 1000000000),
                static_cast<long>(delay.count() % 1000000000)};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

// Starts a child that runs work and exits (2 when work throws); returns as work starts.
pid_t StartChild(const std::function<void()>& work) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        if (::write(ready[1], "s", 1) != 1) {
            ::_exit(3);
        }
        ::close(ready[1]);
        try {
            work();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    char started = 0;
    const bool ok = child > 0 && ::read(ready[0], &started, 1) == 1;
    ::close(ready[0]);
    return ok ? child : pid_t{-1};
}

// Nanoseconds from start() to the end of the child it starts, which must exit successfully.
long long DurationInChild(const std::function<pid_t()>& start) {
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = start();
    int status = -1;
    if (child > 0) {
        ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                started)
        .count();
}

// Kills child with SIGKILL; false when it had already ended by itself.
bool Kill(pid_t child) {
    ::kill(child, SIGKILL);
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
           WTERMSIG(status) == SIGKILL;
}

// Runs f in a child whose files cannot grow past limit bytes, as on a full disk; f's exit code,
// or -1 when the child did not exit normally.
int InChildWithFileLimit(rlim_t limit, const std::function<int()>& f) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::_exit(f());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::size_t EntryCount(const std::string& folder) {
    std::error_code missing;
    auto it = std::filesystem::directory_iterator(folder, missing);
    return static_cast<std::size_t>(std::distance(it, std::filesystem::directory_iterator{}));
}

class CrashSafety : public ::testing::Test {
  protected:
    void SetUp() override { ResetState(); }

    State& st = state();
    PlainSession p;
    Session& s = p.session;
    TempDir dir;
};

// Version A is written with WriteDocument from a buffer, B with SaveDocument from the sections,
// so both ways to the disk are killed.
TEST_F(CrashSafety, KilledSavesLeaveTheOldOrTheNewVersionWhole) {
    // A killed process loses nothing that reached the page cache, so the disk adds no case.
    const testing::TempDir folder{testing::TempDir::MemoryBase()};
    ASSERT_FALSE(folder.path().empty());
    const std::string target = folder / "big.vlp";
    st.FileName = target;

    const TwoVersions versions;
    const Version& a = versions.a;
    const Version& b = versions.b;
    const DocumentBuffer& bufferA = versions.bufferA;
    const DocumentBuffer& bufferB = versions.bufferB;
    p.buffer = bufferB;
    SplitSections(s);  // B also stands in the sections, for SaveDocument
    ASSERT_GT(st.LastSection, 1);
    p.buffer.Clear();

    // Each save replaces what another one wrote, so the overwrite question is always answered Yes.
    p.dialogs.onYesNo = [](const std::string&) { return true; };
    enum Way { kWrite, kSave };
    auto save = [&](char version, Way way) {
        if (way == kWrite) {
            WriteDocument(target, version == 'A' ? bufferA : bufferB);
        } else if (!SaveDocument(s)) {
            throw Error("the save did not go on");
        }
    };
    // Starts a child that saves first the way given, then the two versions in turn until it is
    // killed (or exits after the first save, when once is set); returns as the first save starts.
    auto startSaving = [&](char first, Way way, bool once) {
        return StartChild([&] {
            save(first, way);
            for (char version = first; !once;) {
                version = version == 'A' ? 'B' : 'A';
                save(version, kWrite);
            }
        });
    };
    // How long one save takes in a child on this machine, to spread the kills over.
    auto duration = [&](char version, Way way) {
        return DurationInChild([&] { return startSaving(version, way, true); });
    };
    const long long writeB = duration('B', kWrite);
    const long long writeA = duration('A', kWrite);
    const long long saveB = duration('B', kSave);
    ASSERT_EQ(Identify(target, a, b), 'B');
    save('A', kWrite);

    // A write is killed anywhere in it, its rename included. SaveDocument spends most of its time
    // joining the sections, which cannot touch the disk, so its kills go to its writing end.
    using Delay = std::uniform_int_distribution<long long>;
    Delay inWriteA(0, writeA * 5 / 4);
    Delay inWriteB(0, writeB * 5 / 4);
    Delay inSaveB(std::max(0LL, saveB - 2 * writeB), saveB + writeB / 4);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    char onDisk = 'A';
    int keptOld = 0;
    int tookNew = 0;
    for (int kill = 0; kill < 50; ++kill) {
        const char next = onDisk == 'A' ? 'B' : 'A';
        const Way way = next == 'B' && kill % 10 == 1 ? kSave : kWrite;
        const pid_t child = startSaving(next, way, false);
        ASSERT_GT(child, 0);
        Delay& delay = way == kSave ? inSaveB : next == 'A' ? inWriteA : inWriteB;
        SleepFor(std::chrono::nanoseconds(delay(random)));
        ASSERT_TRUE(Kill(child)) << "the saving child ended by itself";

        const char found = Identify(target, a, b);
        ASSERT_TRUE(found == 'A' || found == 'B') << "kill " << kill << " tore the document";
        (found == onDisk ? keptOld : tookNew) += 1;
        ASSERT_LE(TemporaryFiles(folder.path(), "big.vlp"), 1u);

        // The next save succeeds and sweeps away what the killed one left.
        onDisk = found == 'A' ? 'B' : 'A';
        save(onDisk, kWrite);
        ASSERT_EQ(TemporaryFiles(folder.path(), "big.vlp"), 0u);
    }
    EXPECT_EQ(Identify(target, a, b), onDisk);
    EXPECT_EQ(EntryCount(folder.path()), 1u);
    RecordProperty("KeptOldVersion", keptOld);
    RecordProperty("TookNewVersion", tookNew);
}

// A document with a second name is written over itself: its old bytes, secured before the first
// one is overwritten, are put back at the next start whenever a kill cut the write short.
TEST_F(CrashSafety, KilledWritesInPlaceArePutBackAtTheNextStart) {
    const testing::TempDir folder{testing::TempDir::MemoryBase()};
    ASSERT_FALSE(folder.path().empty());
    const testing::ScopedEnv stateHome("XDG_STATE_HOME", folder / "state");
    const std::string target = folder / "big.vlp";
    const std::string secured = folder / "state/velloran";

    const TwoVersions versions;
    const Version& a = versions.a;
    const Version& b = versions.b;
    const DocumentBuffer& bufferA = versions.bufferA;
    const DocumentBuffer& bufferB = versions.bufferB;
    WriteDocument(target, bufferA);
    ASSERT_EQ(::link(target.c_str(), (folder / "other name.vlp").c_str()), 0);

    // Writes the version given, then (unless once) the two in turn until it is killed.
    auto write = [&](char first, bool once) {
        return StartChild([&] {
            for (char version = first;; version = version == 'A' ? 'B' : 'A') {
                WriteDocument(target, version == 'A' ? bufferA : bufferB);
                if (once) {
                    return;
                }
            }
        });
    };
    const long long writeB = DurationInChild([&] { return write('B', true); });
    const long long writeA = DurationInChild([&] { return write('A', true); });
    ASSERT_EQ(Identify(target, a, b), 'A');

    using Delay = std::uniform_int_distribution<long long>;
    Delay inWriteA(0, writeA * 5 / 4);
    Delay inWriteB(0, writeB * 5 / 4);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    char onDisk = 'A';
    int restored = 0;
    int tookNew = 0;
    for (int kill = 0; kill < 30; ++kill) {
        const char next = onDisk == 'A' ? 'B' : 'A';
        const pid_t child = write(next, false);
        ASSERT_GT(child, 0);
        SleepFor(std::chrono::nanoseconds((next == 'A' ? inWriteA : inWriteB)(random)));
        ASSERT_TRUE(Kill(child)) << "the writing child ended by itself";

        for (const InterruptedWrite& w : RestoreInterruptedWrites()) {
            ASSERT_TRUE(w.restored) << w.file;
            ASSERT_EQ(w.file, target);
            restored += 1;
        }
        const char found = Identify(target, a, b);
        ASSERT_TRUE(found == 'A' || found == 'B') << "kill " << kill << " tore the document";
        tookNew += found == next ? 1 : 0;
        ASSERT_EQ(EntryCount(secured), 0u) << "kill " << kill << " left a copy behind";
        ASSERT_EQ(EntryCount(folder.path()), 3u);  // the document, its other name, state
        onDisk = found;
    }
    EXPECT_GT(restored, 0) << "no kill fell inside a write";
    EXPECT_EQ(Identify(folder / "other name.vlp", a, b), onDisk);
    RecordProperty("Restored", restored);
    RecordProperty("TookNewVersion", tookNew);
}

// Whether the state folder holds a copy of old bytes (not one still being made).
bool CopyLeft(const std::string& folder) {
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("secured-") && name.find('~') == std::string::npos) {
            return true;
        }
    }
    return false;
}

// The user mends a document that a kill tore, with another program that writes in place too,
// before the next start: one byte changed anywhere, with the file's time set back, is enough for
// the old bytes never to go over it, wherever the kill fell.
TEST_F(CrashSafety, KilledWritesInPlaceAreNeverPutBackOverAMendedFile) {
    const testing::TempDir folder{testing::TempDir::MemoryBase()};
    ASSERT_FALSE(folder.path().empty());
    const testing::ScopedEnv stateHome("XDG_STATE_HOME", folder / "state");
    const std::string target = folder / "big.vlp";
    const std::string secured = folder / "state/velloran";

    const TwoVersions versions;
    WriteDocument(target, versions.bufferA);
    ASSERT_EQ(::link(target.c_str(), (folder / "other name.vlp").c_str()), 0);
    auto write = [&](bool once) {
        return StartChild([&] {
            do {
                WriteDocument(target, versions.bufferB);
            } while (!once);
        });
    };
    const long long writeB = DurationInChild([&] { return write(true); });
    std::uniform_int_distribution<long long> inWrite(0, writeB * 5 / 4);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int mended = 0;
    for (int kill = 0; kill < 10; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        WriteDocument(target, versions.bufferA);
        const pid_t child = write(false);
        ASSERT_GT(child, 0);
        SleepFor(std::chrono::nanoseconds(inWrite(random)));
        ASSERT_TRUE(Kill(child)) << "the writing child ended by itself";
        if (!CopyLeft(secured)) {
            EXPECT_TRUE(RestoreInterruptedWrites().empty());  // killed outside the write
            continue;
        }
        struct stat before {};
        ASSERT_EQ(::stat(target.c_str(), &before), 0);
        const off_t at = std::uniform_int_distribution<off_t>(0, before.st_size - 1)(random);
        const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
        char byte = 0;
        ASSERT_EQ(::pread(fd, &byte, 1, at), 1);
        byte = static_cast<char>(byte ^ 0x20);
        ASSERT_EQ(::pwrite(fd, &byte, 1, at), 1);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);

        const auto found = RestoreInterruptedWrites();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_FALSE(found[0].restored) << "the old bytes went over the mended file";
        EXPECT_EQ(found[0].kept, KeptBecause::kChanged);
        struct stat after {};
        char kept = 0;
        ASSERT_EQ(::fstat(fd, &after), 0);
        ASSERT_EQ(::pread(fd, &kept, 1, at), 1);
        ::close(fd);
        EXPECT_EQ(kept, byte);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        std::filesystem::remove(found[0].copy);  // as the user would, once it is looked at
        mended += 1;
    }
    EXPECT_GT(mended, 0) << "no kill fell inside a write";
    RecordProperty("Mended", mended);
}

// Failing writes -------------------------------------------------------------------------------

// What a child reports of a save: bit 0 an error with the expected message, bit 1 Modified still
// set, bit 2 a notice shown.
int SaveOutcome(Session& s, const std::string& message) {
    int outcome = 0;
    try {
        SaveDocument(s);
    } catch (const Error& e) {
        outcome |= e.what() == message ? 1 : 8;
    }
    outcome |= s.st.Modified ? 2 : 0;
    const auto& notices = static_cast<CallbackDialogs&>(s.dialogs).notices;
    outcome |= notices.empty() ? 0 : 4;
    return outcome;
}

TEST_F(CrashSafety, DocumentFolderThatIsAFileFailsAndNothingIsReportedSaved) {
    WriteBytes(dir / "docs", "a file, not a folder");
    st.FileName = dir / "docs/June.vlp";
    st.Modified = true;
    p.sections.texts[0] = "text\r\n";

    EXPECT_EQ(SaveOutcome(s, "Cannot create file " + st.FileName), 1 | 2);
    EXPECT_EQ(ReadBytes(dir / "docs"), "a file, not a folder");
    EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST_F(CrashSafety, DocumentOverTheFileSizeLimitKeepsEveryOldFile) {
    const std::string old = "old document\r\n";
    WriteBytes(dir / "June.vlp", old);
    WriteBytes(dir / "June-copy.vlp", "earlier copy\r\n");
    st.FileName = dir / "June.vlp";
    st.Modified = true;
    st.BackupCurr = true;
    p.sections.texts[0] = std::string(1 << 20, 'x') + "\r\n";

    EXPECT_EQ(InChildWithFileLimit(
                  64 << 10, [&] { return SaveOutcome(s, "Cannot create file " + st.FileName); }),
              1 | 2);
    EXPECT_EQ(ReadBytes(dir / "June.vlp"), old);
    EXPECT_EQ(ReadBytes(dir / "June-copy.vlp"), "earlier copy\r\n");
    EXPECT_EQ(dir.EntryCount(), 2u);
}

// Backups fail silently and the document is saved all the same.
TEST_F(CrashSafety, BackupFolderThatIsAFileLosesOnlyTheBackups) {
    for (int type : {1, 2}) {
        SCOPED_TRACE("BackupType " + std::to_string(type));
        TempDir d;
        WriteBytes(d / "June.vlp", "old\r\n");
        WriteBytes(d / "bak", "a file, not a folder");
        ResetState();
        PlainSession q;
        q.session.st.FileName = d / "June.vlp";
        q.session.st.Modified = true;
        q.session.st.BackupPrev = q.session.st.BackupCurr = true;
        q.session.st.BackupType = type;
        q.session.st.BackupFolder = type == 1 ? "bak" : d / "bak";
        q.sections.texts[0] = "new\r\n";

        EXPECT_EQ(SaveOutcome(q.session, ""), 4);
        EXPECT_EQ(ReadBytes(d / "June.vlp"), "new\r\n");
        EXPECT_EQ(ReadBytes(d / "bak"), "a file, not a folder");
        EXPECT_EQ(d.EntryCount(), 2u);
    }
}

TEST_F(CrashSafety, PreviousVersionOverTheFileSizeLimitKeepsTheEarlierOne) {
    WriteBytes(dir / "June.vlp", std::string(1 << 20, 'o') + "\r\n");
    WriteBytes(dir / "June-prev.vlp", "earlier prev\r\n");
    st.FileName = dir / "June.vlp";
    st.Modified = true;
    st.BackupPrev = st.BackupCurr = true;
    p.sections.texts[0] = "new\r\n";

    EXPECT_EQ(InChildWithFileLimit(64 << 10, [&] { return SaveOutcome(s, ""); }), 4);
    EXPECT_EQ(ReadBytes(dir / "June-prev.vlp"), "earlier prev\r\n");
    EXPECT_EQ(ReadBytes(dir / "June-copy.vlp"), "new\r\n");
    EXPECT_EQ(ReadBytes(dir / "June.vlp"), "new\r\n");
    EXPECT_EQ(dir.EntryCount(), 3u);
}

}  // namespace
}  // namespace velloran
