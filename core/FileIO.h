#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "FileAccess.h"
#include "State.h"

namespace velloran {

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
    bool Ok() const { return ok_; }

  private:
    void WriteOut(std::string_view bytes);
    int fd_ = -1;
    std::function<bool(std::string_view)> sink_;
    bool ok_ = true;
    std::string pending_;
};

// The permission bits of a new file: 0666 less the umask.
unsigned NewFileMode();

// The permission bits and group of the file at path (through symbolic links), or nothing when
// there is none.
std::optional<FileAccess> AccessOf(const std::string& path);

// Replaces path with what produce writes, so that the old file stays whole until the new one is
// complete and on disk. A symbolic link is written through to its file. A file the user may not
// write is refused (root may write any). The way is chosen per file:
// - Renamed into place: a temporary file beside the target, flushed to disk, is renamed over it.
//   It gets the old file's mode, owner and group, extended attributes and ACLs first; a new file
//   gets 0666 less the umask.
// - Written in place, when a rename would lose something: the folder cannot take a new file, the
//   file has other hard links, another owner, or a group or attributes a new file cannot be given.
//   Its old bytes are first secured in the state folder (see InPlaceWrite.h) and put back when
//   the write fails; they stay there for the next start when the program is killed meanwhile.
// access, when given, sets the permission bits and group instead of the old file's.
// False on any failure, with the old file as it was and nothing left behind. An exception from
// produce likewise leaves the old file and removes what was opened, then goes on.
bool ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce,
                 const std::optional<FileAccess>& access = std::nullopt);

// The file at the end of a chain of symbolic links (path itself when it is none).
std::string ResolveLinks(const std::string& path);

// Whole contents of a regular file, or nothing when it cannot be opened or read or holds more
// than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1));

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
// Makes the folder's entries (a rename, a removal) durable. False when they may not be: the
// folder cannot be opened or its sync failed (a file system that cannot sync folders at all,
// EINVAL, counts as done, there being nothing more to do there).
bool SyncFolder(const std::string& folder);

// An open file descriptor, closed when it goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
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
    explicit LockedFile(std::string pattern);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool Ok() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    // The file stays when this goes: it was renamed or linked into its place.
    void Keep() { kept_ = true; }

  private:
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

// "dir/name" -> "dir"; "/name" -> "/"; "name" -> "".
std::string FolderPart(std::string_view path);
// "dir/name" -> "name".
std::string FileNamePart(std::string_view path);

}  // namespace velloran
