#include "FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "InPlaceWrite.h"

namespace velloran {
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::string InFolder(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : (folder == "/" ? folder : folder + "/") + name;
}

// "." + name + "~": the prefix of the temporary files of name, which is cut (between UTF-8
// characters) where the whole temporary name would not fit in a folder entry.
std::string TempPrefix(const std::string& name) {
    constexpr std::size_t kRoom = NAME_MAX - std::string_view(".~XXXXXX").size();
    std::size_t keep = std::min(name.size(), kRoom);
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return "." + name.substr(0, keep) + "~";
}

// Temporary files left by saves that were killed before their rename; a save still writing one
// holds its lock.
void RemoveStaleTemps(const std::string& folder, const std::string& name, const std::string& keep) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) {
        return;
    }
    const std::string prefix = TempPrefix(name);
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
        std::string entry = e->d_name;
        if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0 &&
            entry != keep) {
            stale.push_back(entry);
        }
    }
    ::closedir(dir);
    for (const auto& entry : stale) {
        RemoveIfUnlocked(InFolder(folder, entry));
    }
}

// The names listed by list(buffer, size), a listxattr call; none where attributes are not
// supported, nothing when they cannot be listed.
template <class List>
std::optional<std::vector<std::string>> AttributeNames(List list) {
    std::string names;
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size <= 0) {
            if (size == 0 || errno == ENOTSUP) {
                return std::vector<std::string>{};
            }
            return std::nullopt;
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = list(names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) {  // ERANGE: attributes were added meanwhile
            return std::nullopt;
        }
    }
    std::vector<std::string> out;
    for (std::size_t at = 0; at < names.size();) {
        const std::size_t end = names.find('\0', at);
        out.push_back(names.substr(at, end - at));
        at = end == std::string::npos ? names.size() : end + 1;
    }
    return out;
}

// The value got(buffer, size) reads, a getxattr call; nothing when it cannot be read.
template <class Get>
std::optional<std::string> AttributeValue(Get get) {
    std::string value;
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0) {
            return std::nullopt;
        }
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = get(value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
}

// Gives the new file at fd the extended attributes of the file at from, POSIX ACLs included
// (system.posix_acl_access), and takes away those it got from elsewhere (a folder's default ACL),
// but for the system's own security labels. False when any cannot be given.
bool CopyAttributes(const std::string& from, int fd) {
    const char* source = from.c_str();
    const auto wanted =
        AttributeNames([&](char* b, std::size_t n) { return ::listxattr(source, b, n); });
    const auto present =
        AttributeNames([&](char* b, std::size_t n) { return ::flistxattr(fd, b, n); });
    if (!wanted || !present) {
        return false;
    }
    for (const auto& name : *wanted) {
        const char* key = name.c_str();
        const auto value =
            AttributeValue([&](char* b, std::size_t n) { return ::getxattr(source, key, b, n); });
        if (!value) {
            return false;
        }
        if (AttributeValue([&](char* b, std::size_t n) { return ::fgetxattr(fd, key, b, n); }) !=
                value &&
            ::fsetxattr(fd, key, value->data(), value->size(), 0) != 0) {
            return false;
        }
    }
    for (const auto& name : *present) {
        if (!name.starts_with("security.") &&
            std::find(wanted->begin(), wanted->end(), name) == wanted->end() &&
            ::fremovexattr(fd, name.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

bool GiveGroup(int fd, gid_t group) {
    struct stat st;
    return ::fstat(fd, &st) == 0 &&
           (st.st_gid == group || ::fchown(fd, static_cast<uid_t>(-1), group) == 0);
}

// Gives the new file at fd what the file it replaces (old, at target) has, so that the rename
// loses nothing; false when something cannot be given.
bool GiveMetadata(int fd, const std::string& target, const struct stat* old,
                  const std::optional<FileAccess>& access) {
    if (old) {
        // Only root gets here with a file of another owner.
        if ((old->st_uid != ::geteuid() && ::fchown(fd, old->st_uid, old->st_gid) != 0) ||
            (!access && !GiveGroup(fd, old->st_gid)) || !CopyAttributes(target, fd)) {
            return false;
        }
    }
    if (access) {
        return GiveAccess(fd, *access);
    }
    return ::fchmod(fd, old ? old->st_mode & 07777 : NewFileMode()) == 0;
}

enum class Outcome { kDone, kFailed, kInPlace };

// Writes a temporary file beside target and renames it over target. kInPlace when the temporary
// file cannot be made or given what old has, so that target must be written in place instead.
Outcome WriteAndRename(const std::string& target, const struct stat* old,
                       const std::function<void(OutputFile&)>& produce,
                       const std::optional<FileAccess>& access) {
    const std::string folder = FolderPart(target);
    const std::string name = FileNamePart(target);
    LockedFile temp(InFolder(folder, TempPrefix(name) + "XXXXXX"));
    if (!temp.Ok() || !GiveMetadata(temp.fd(), target, old, access)) {
        return old ? Outcome::kInPlace : Outcome::kFailed;
    }
    OutputFile out(temp.fd());
    produce(out);
    // Renamed while still open and locked, so that no other save's sweep removes it first.
    if (!out.Flush() || ::fsync(temp.fd()) != 0 ||
        ::rename(temp.path().c_str(), target.c_str()) != 0) {
        return Outcome::kFailed;
    }
    temp.Keep();
    SyncFolder(folder);
    RemoveStaleTemps(folder, name, FileNamePart(temp.path()));
    return Outcome::kDone;
}

// A regular file of at most maxBytes opened for reading, with its status in st; -1 for anything
// else. Opened without waiting, so that a FIFO without a writer is refused rather than hanging.
int OpenRegularFile(const std::string& path, std::size_t maxBytes, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool SyncFolder(const std::string& folder) {
    int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        return false;
    }
    const bool synced = ::fsync(dfd) == 0 || errno == EINVAL;
    ::close(dfd);
    return synced;
}

bool LockExclusive(int fd, bool wait) {
    int r;
    while ((r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    return r == 0;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

LockedFile::LockedFile(std::string pattern) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        path_ = pattern;
        fd_.Reset(::mkostemp(path_.data(), O_CLOEXEC));
        if (!fd_) {
            return;
        }
        // Where the file system has no locks, sweeps cannot lock the file either and keep it.
        LockExclusive(fd_.get(), true);
        // A sweep may have removed it between its creation and the lock.
        struct stat st;
        if (::fstat(fd_.get(), &st) == 0 && st.st_nlink > 0) {
            return;
        }
    }
    fd_.Reset();
}

LockedFile::~LockedFile() {
    if (fd_ && !kept_) {
        ::unlink(path_.c_str());
    }
}

void RemoveIfUnlocked(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat held;
    struct stat named;
    if (fd && LockExclusive(fd.get(), false) && ::fstat(fd.get(), &held) == 0 &&
        S_ISREG(held.st_mode) && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        ::unlink(path.c_str());
    }
}

unsigned NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool GiveAccess(int fd, const FileAccess& access) {
    mode_t mode = access.mode & 0777;
    if (access.group && !GiveGroup(fd, *access.group)) {
        mode = (mode & 0707) | ((mode & 07) << 3);
    }
    return ::fchmod(fd, mode) == 0;
}

void OutputFile::Write(std::string_view bytes) {
    if (!ok_) {
        return;
    }
    if (bytes.size() >= kChunk) {
        WriteOut(pending_);
        pending_.clear();
        WriteOut(bytes);
        return;
    }
    if (pending_.size() + bytes.size() > kChunk) {
        WriteOut(pending_);
        pending_.clear();
    }
    if (pending_.capacity() < kChunk) {
        pending_.reserve(kChunk);
    }
    pending_.append(bytes);
}

void OutputFile::WriteOut(std::string_view bytes) {
    if (ok_ && !bytes.empty()) {
        ok_ = sink_ ? sink_(bytes) : WriteAll(fd_, bytes.data(), bytes.size());
    }
}

bool OutputFile::Flush() {
    WriteOut(pending_);
    pending_.clear();
    return ok_;
}

std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        std::vector<char> target(static_cast<std::size_t>(PATH_MAX) + 1);
        ssize_t n = ::readlink(current.c_str(), target.data(), PATH_MAX);
        if (n < 0) {
            return current;
        }
        std::string next(target.data(), static_cast<std::size_t>(n));
        if (!next.empty() && next[0] != '/') {
            std::string folder = FolderPart(current);
            if (!folder.empty()) {
                next = (folder == "/" ? folder : folder + "/") + next;
            }
        }
        current = next;
    }
    return current;
}

bool ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce,
                 const std::optional<FileAccess>& access) {
    const std::string target = ResolveLinks(path);
    if (FileNamePart(target).empty()) {
        return false;
    }
    struct stat old;
    if (::stat(target.c_str(), &old) != 0) {
        return errno == ENOENT &&
               WriteAndRename(target, nullptr, produce, access) == Outcome::kDone;
    }
    if (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return false;
    }
    // A new file cannot take the other names of the old one, nor, for an ordinary user, its owner.
    if (old.st_nlink == 1 && (old.st_uid == ::geteuid() || ::geteuid() == 0)) {
        const Outcome renamed = WriteAndRename(target, &old, produce, access);
        if (renamed != Outcome::kInPlace) {
            return renamed == Outcome::kDone;
        }
    }
    return WriteInPlace(target, produce, access);
}

std::optional<FileAccess> AccessOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileAccess{st.st_mode & 0777, st.st_gid};
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    struct stat st;
    const int fd = OpenRegularFile(path, maxBytes, st);
    if (fd < 0) {
        return std::nullopt;
    }
    // Read what fstat announced straight into place, then go on in chunks in case the file grew.
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    std::vector<char> chunk;
    for (;;) {
        char* into;
        std::size_t room;
        if (got < bytes.size()) {
            into = bytes.data() + got;
            room = bytes.size() - got;
        } else {
            chunk.resize(kChunk / 16);
            into = chunk.data();
            room = chunk.size();
        }
        ssize_t r = ::read(fd, into, room);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return std::nullopt;
        }
        if (r == 0) {
            break;
        }
        if (into == chunk.data()) {
            if (bytes.size() + static_cast<std::size_t>(r) > maxBytes) {
                ::close(fd);
                return std::nullopt;
            }
            bytes.append(chunk.data(), static_cast<std::size_t>(r));
        }
        got += static_cast<std::size_t>(r);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

std::optional<MappedFile> MappedFile::Open(const std::string& path, std::size_t maxBytes) {
    struct stat st;
    const int fd = OpenRegularFile(path, maxBytes, st);
    if (fd < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return MappedFile(nullptr, 0);  // nothing to map
    }
    // Populated at once: one call instead of a fault for every few pages.
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED) {
        return std::nullopt;
    }
    return MappedFile(data, size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
    if (data_) {
        ::munmap(data_, size_);
    }
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
        static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsExistingFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool MakeFolders(const std::string& folder, unsigned mode) {
    if (folder.empty()) {
        return true;
    }
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    if (errno != ENOENT) {
        return false;
    }
    const std::string parent = FolderPart(folder);
    if (parent != folder && !MakeFolders(parent, mode)) {
        return false;
    }
    return ::mkdir(folder.c_str(), mode) == 0 ||
           (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

std::string FolderPart(std::string_view path) {
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return std::string(path.substr(0, slash));
}

std::string FileNamePart(std::string_view path) {
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace velloran
