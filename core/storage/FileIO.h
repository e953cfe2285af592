#pragma once

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/document/State.h"
#include "core/storage/FileAccess.h"

namespace velloran {

// How a write ended: done, or failed for the reason the system gave.
class WriteResult {
  public:
    static WriteResult Done() { return WriteResult(true, 0); }
    // error: the errno of the step that failed, 0 when it gave no reason, or one of the
    // refusals below.
    static WriteResult Failed(int error) { return WriteResult(false, error); }
    // Failed for the errno that the step which just failed left; taken before anything that
    // cleans up after it can change errno.
    static WriteResult FailedNow() { return Failed(errno); }

    explicit operator bool() const { return done_; }
    int error() const { return error_; }
    // The reason in the system's words ("No space left on device"); empty when done or when
    // there is none.
    std::string Reason() const;

  private:
    WriteResult(bool done, int error) : done_(done), error_(error) {}
    bool done_;
    int error_;
};

// WriteResult errors of the editor's own: a symbolic link at a made-up name, a folder for
// made-up names that is not the user's (Naming).
inline constexpr int kLinkInTheWay = -1;
inline constexpr int kNotOwnFolder = -2;

// Buffered writes to an open file descriptor; the first failure sticks.
class OutputFile {
  public:
    explicit OutputFile(int fd) : fd_(fd) {}
    // Hands the bytes to sink instead, in the pieces they would be written in; sink says whether
    // they were written.
    explicit OutputFile(std::function<bool(std::string_view)> sink) : sink_(std::move(sink)) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    // Writes out what is buffered; false when any write so far failed.
    bool Flush();
    bool Ok() const { return error_ == 0; }
    // The errno of the first write that failed, 0 while none has.
    int Error() const { return error_; }

  private:
    void WriteOut(std::string_view bytes);
    int fd_ = -1;
    std::function<bool(std::string_view)> sink_;
    int error_ = 0;
    std::string pending_;
};

// The permission bits of a new file: 0666 less the umask.
unsigned NewFileMode();

// The permission bits and group of the file at path, or nothing when there is none (or, for a
// made-up name, when it is a symbolic link).
std::optional<FileAccess> AccessOf(const std::string& path, Naming naming = Naming::kGiven);

// True when folder exists but is no folder of the user's own to make up names in: a symbolic
// link, or a folder of another user.
bool IsForeignFolder(const std::string& folder);
// True when path itself is a symbolic link.
bool IsSymbolicLink(const std::string& path);

// Replaces path with what produce writes, so that the old file stays whole until the new one is
// complete and on disk. A symbolic link is written through to its file when the user gave the
// name, never at a name the editor made up (see Naming). A file the user may not write is
// refused (root may write any). The way is chosen per file:
// - Renamed into place: a temporary file beside the target, flushed to disk, is renamed over it.
//   It gets the old file's mode, owner and group, extended attributes and ACLs first; a new file
//   gets 0666 less the umask.
// - Written in place, when a rename would lose something: the folder cannot take a new file, the
//   file has other hard links, another owner, or a group or attributes a new file cannot be given.
//   Its old bytes are first secured in the state folder (see InPlaceWrite.h) and put back when
//   the write fails; they stay there for the next start when the program is killed meanwhile.
// access, when given, sets the permission bits and group instead of the old file's.
// A failure, with the reason the system gave, leaves the old file as it was and nothing behind.
// An exception from produce likewise leaves the old file and removes what was opened, then goes
// on.
WriteResult ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce,
                        const std::optional<FileAccess>& access = std::nullopt,
                        Naming naming = Naming::kGiven);

// The file at the end of a chain of symbolic links (path itself when it is none).
std::string ResolveLinks(const std::string& path);

// Whole contents of a regular file, or nothing when it cannot be opened or read or holds more
// than maxBytes (or, for a made-up name, is a symbolic link).
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1),
                                         Naming naming = Naming::kGiven);

// The same for the file open at fd, read from where it stands.
std::optional<std::string> ReadWholeFile(int fd, std::size_t maxBytes);

// Files in a folder that others may write, where a name can be swapped for a link or another's
// file at any moment: each is opened once, relative to the folder held open, and judged by what
// was opened. Each returns a descriptor, or -1.
// name in folder, not through a symbolic link, when it is a regular file of this user's own
// (opened for reading, without waiting, so that a pipe or device cannot hold the run).
int OpenOwnFileAt(int folder, const std::string& name);
// name in parent, not through a symbolic link, when it is a folder of this user's own (O_PATH).
int OpenOwnFolderAt(int parent, const std::string& name);
// True when name in folder, not through a link, is the file open at fd.
bool SameFile(int fd, int folder, const std::string& name);
// True when nothing at all, a dangling link included, stands at name in folder.
bool NameIsFree(int folder, const std::string& name);

// A regular file's bytes mapped read-only instead of copied, for looking through a large file
// once. It opens what ReadWholeFile opens and refuses what it refuses. A file that another
// program shortens in place while it is mapped raises SIGBUS when the lost bytes are touched;
// a file replaced by renaming, as saves replace documents, stays whole.
class MappedFile {
  public:
    static std::optional<MappedFile> Open(const std::string& path,
                                          std::size_t maxBytes = static_cast<std::size_t>(-1));
    MappedFile(MappedFile&& other) noexcept;
    ~MappedFile();

    std::string_view Bytes() const { return {static_cast<const char*>(data_), size_}; }

  private:
    MappedFile(void* data, std::size_t size) : data_(data), size_(size) {}
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// The identity of the file at path (through symbolic links), or nothing when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path);

bool FileExists(const std::string& path);
// Exists and is not a folder: a folder named as a document counts as no document.
bool IsExistingFile(const std::string& path);
bool IsRegularFile(const std::string& path);
// Creates one folder level; false when it could not be created (also when it exists).
bool MakeDirectory(const std::string& path);
// Creates folder and any missing folders above it with mode (less the umask); true when it is a
// folder afterwards. An empty folder is the current one.
bool MakeFolders(const std::string& folder, unsigned mode);

// Building blocks of the writes above, shared with everything that keeps files safe on disk.

// Writes all n bytes, going on after interrupted or partial writes; false on any failure.
bool WriteAll(int fd, const char* p, std::size_t n);
// The same at offset at, as pwrite writes, leaving the file offset alone.
bool WriteAllAt(int fd, const char* p, std::size_t n, off_t at);
// Reads all n bytes at offset at, as pread reads; false on any failure, or when the file ends
// before them.
bool ReadAllAt(int fd, char* p, std::size_t n, off_t at);
// The names a folder holds, "." and ".." left out; none when it cannot be listed (an empty
// path included: the current folder is ".").
std::vector<std::string> FolderNames(const std::string& folder);
// The same for a folder held open (an O_PATH descriptor will do), which stays open.
std::vector<std::string> FolderNames(int folder);
// Makes the folder's entries (a rename, a removal) durable. False when they may not be: the
// folder cannot be opened or its sync failed (a file system that cannot sync folders at all,
// EINVAL, counts as done, there being nothing more to do there).
bool SyncFolder(const std::string& folder);
// The same for a folder held open (an O_PATH descriptor will do).
bool SyncFolder(int folder);

// An open file descriptor, closed when it goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset(int fd = -1);
    // Hands the descriptor over, to be closed by its new holder.
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Takes the exclusive flock(2) lock of the open file, waiting for it or not; false when it is
// held elsewhere (or the file system has no locks).
bool LockExclusive(int fd, bool wait);

// A new file made from pattern ("...XXXXXX", mode 0600) that holds an exclusive lock for as long
// as it is open, so that no sweep of leftovers (RemoveIfUnlocked) takes it for a killed writer's.
// It is closed, and removed unless kept, when it goes.
class LockedFile {
  public:
    explicit LockedFile(std::string pattern) : LockedFile(AT_FDCWD, std::move(pattern)) {}
    // pattern names the file in the folder open at folder, which must stay open as long as this
    // lives; path() is then that name.
    LockedFile(int folder, std::string pattern);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool Ok() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    // The file stays when this goes: it was renamed or linked into its place.
    void Keep() { kept_ = true; }

  private:
    int folder_;
    UniqueFd fd_;
    std::string path_;
    bool kept_ = false;
};

// Gives the file at fd the permission bits of access and, where it can, its group; false when
// the bits cannot be set.
bool GiveAccess(int fd, const FileAccess& access);

// Removes path when no process holds a lock on it: the leftover of a killed writer. A file that
// cannot be opened or locked is kept.
void RemoveIfUnlocked(const std::string& path);
// The same for name in the folder open at folder.
void RemoveIfUnlocked(int folder, const std::string& name);

// "dir/name" -> "dir"; "/name" -> "/"; "name" -> "".
std::string FolderPart(std::string_view path);
// "dir/name" -> "name".
std::string FileNamePart(std::string_view path);

}  // namespace velloran
