#include "core/storage/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
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

#include "core/storage/InPlaceWrite.h"

namespace velloran {
namespace {

constexpr std::size_t kChunk = 1 << 20;

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
void RemoveStaleTemps(int folder, const std::string& name, const std::string& keep) {
    const std::string prefix = TempPrefix(name);
    for (const std::string& entry : FolderNames(folder)) {
        if (entry.size() == prefix.size() + 6 && entry.starts_with(prefix) && entry != keep) {
            RemoveIfUnlocked(folder, entry);
        }
    }
}

// The names dir lists, "." and ".." left out; dir is closed.
std::vector<std::string> NamesOf(DIR* dir) {
    std::vector<std::string> names;
    if (!dir) {
        return names;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    return names;
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

// The file a new one takes its metadata from: by its path, or open, so that nothing can put
// another file in its place meanwhile.
struct OldFile {
    const struct stat* st = nullptr;
    std::string path;
    int fd = -1;
};

// Gives the new file at fd the extended attributes of the file from, POSIX ACLs included
// (system.posix_acl_access), and takes away those it got from elsewhere (a folder's default ACL),
// but for the system's own security labels. False when any cannot be given.
bool CopyAttributes(const OldFile& from, int fd) {
    const char* source = from.path.c_str();
    const auto wanted = AttributeNames([&](char* b, std::size_t n) {
        return from.fd >= 0 ? ::flistxattr(from.fd, b, n) : ::listxattr(source, b, n);
    });
    const auto present =
        AttributeNames([&](char* b, std::size_t n) { return ::flistxattr(fd, b, n); });
    if (!wanted || !present) {
        return false;
    }
    for (const auto& name : *wanted) {
        const char* key = name.c_str();
        const auto value = AttributeValue([&](char* b, std::size_t n) {
            return from.fd >= 0 ? ::fgetxattr(from.fd, key, b, n) : ::getxattr(source, key, b, n);
        });
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

// Gives the new file at fd what the file it replaces has (none when old.st is null), so that the
// rename loses nothing; false when something cannot be given.
bool GiveMetadata(int fd, const OldFile& old, const std::optional<FileAccess>& access) {
    const struct stat* st = old.st;
    if (st) {
        // Only root gets here with a file of another owner.
        if ((st->st_uid != ::geteuid() && ::fchown(fd, st->st_uid, st->st_gid) != 0) ||
            (!access && !GiveGroup(fd, st->st_gid)) || !CopyAttributes(old, fd)) {
            return false;
        }
    }
    if (access) {
        return GiveAccess(fd, *access);
    }
    return ::fchmod(fd, st ? st->st_mode & 07777 : NewFileMode()) == 0;
}

// The folder a file is written in, held open so that every step finds the same folder whatever
// becomes of its path meanwhile.
struct OpenFolder {
    UniqueFd fd;  // O_PATH
    struct stat st {};
};

// Opens folder ("" for the current one) for names in it; for the backup folder it must be no
// symbolic link and belong to the user.
WriteResult Open(const std::string& folder, Naming naming, OpenFolder& into) {
    const bool own = naming == Naming::kMadeUpInOwnFolder;
    into.fd.Reset(::open(folder.empty() ? "." : folder.c_str(),
                         O_PATH | O_CLOEXEC | (own ? O_NOFOLLOW : O_DIRECTORY)));
    if (!into.fd || ::fstat(into.fd.get(), &into.st) != 0) {
        return WriteResult::FailedNow();
    }
    if (S_ISLNK(into.st.st_mode)) {
        return WriteResult::Failed(kLinkInTheWay);
    }
    if (!S_ISDIR(into.st.st_mode)) {
        return WriteResult::Failed(ENOTDIR);
    }
    if (own && into.st.st_uid != ::geteuid()) {
        return WriteResult::Failed(kNotOwnFolder);
    }
    return WriteResult::Done();
}

enum class Outcome { kDone, kFailed, kInPlace };

// Writes a temporary file beside name in folder and renames it over name. kInPlace when the
// temporary file cannot be made or given what old has, so that the file must be written in
// place instead. error takes the errno of a step that failed.
Outcome WriteAndRename(const OpenFolder& folder, const std::string& name, const OldFile& old,
                       const std::function<void(OutputFile&)>& produce,
                       const std::optional<FileAccess>& access, int& error) {
    const int at = folder.fd.get();
    LockedFile temp(at, TempPrefix(name) + "XXXXXX");
    if (!temp.Ok() || !GiveMetadata(temp.fd(), old, access)) {
        error = errno;
        return old.st ? Outcome::kInPlace : Outcome::kFailed;
    }
    OutputFile out(temp.fd());
    produce(out);
    // Renamed while still open and locked, so that no other save's sweep removes it first.
    if (!out.Flush()) {
        error = out.Error();
        return Outcome::kFailed;
    }
    if (::fsync(temp.fd()) != 0 || ::renameat(at, temp.path().c_str(), at, name.c_str()) != 0) {
        error = errno;
        return Outcome::kFailed;
    }
    temp.Keep();
    SyncFolder(at);
    RemoveStaleTemps(at, name, temp.path());
    return Outcome::kDone;
}

WriteResult Renamed(Outcome outcome, int error) {
    return outcome == Outcome::kDone ? WriteResult::Done() : WriteResult::Failed(error);
}

// A regular file of at most maxBytes opened for reading, with its status in st; -1 for anything
// else. Opened without waiting, so that a FIFO without a writer is refused rather than hanging.
int OpenRegularFile(const std::string& path, std::size_t maxBytes, struct stat& st,
                    Naming naming = Naming::kGiven) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                                            (naming == Naming::kGiven ? 0 : O_NOFOLLOW));
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

// The rest of the regular file open at fd, st being what fstat gave for it.
std::optional<std::string> ReadOpenFile(int fd, const struct stat& st, std::size_t maxBytes) {
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
            return std::nullopt;
        }
        if (r == 0) {
            break;
        }
        if (into == chunk.data()) {
            if (bytes.size() + static_cast<std::size_t>(r) > maxBytes) {
                return std::nullopt;
            }
            bytes.append(chunk.data(), static_cast<std::size_t>(r));
        }
        got += static_cast<std::size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

// A name of 6 letters and digits in place of pattern's last six characters, new in folder.
int CreateUnique(int folder, std::string& pattern) {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (pattern.size() < 6) {
        errno = EINVAL;
        return -1;
    }
    const std::size_t at = pattern.size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            return -1;
        }
        for (std::size_t i = 0; i < sizeof random; ++i) {
            pattern[at + i] = kLetters[random[i] % kLetters.size()];
        }
        const int fd = ::openat(folder, pattern.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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

namespace {

// All n bytes through transfer, pread or pwrite, going on after interruptions and short counts.
template <class Transfer, class Byte>
bool AllAt(Transfer transfer, int fd, Byte* p, std::size_t n, off_t at) {
    while (n > 0) {
        const ssize_t done = transfer(fd, p, n, at);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        p += done;
        at += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

bool WriteAllAt(int fd, const char* p, std::size_t n, off_t at) {
    return AllAt(::pwrite, fd, p, n, at);
}

bool ReadAllAt(int fd, char* p, std::size_t n, off_t at) {
    return AllAt(::pread, fd, p, n, at);
}

std::vector<std::string> FolderNames(const std::string& folder) {
    return NamesOf(::opendir(folder.c_str()));
}

std::vector<std::string> FolderNames(int folder) {
    // A descriptor of its own: closedir closes what fdopendir was given.
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir && listing >= 0) {
        ::close(listing);
    }
    return NamesOf(dir);
}

bool SyncFolder(const std::string& folder) {
    const UniqueFd open(
        ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return open && SyncFolder(open.get());
}

bool SyncFolder(int folder) {
    const UniqueFd readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable) {
        return false;
    }
    // A file system that cannot sync folders at all has nothing more to do there.
    return ::fsync(readable.get()) == 0 || errno == EINVAL;
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

LockedFile::LockedFile(int folder, std::string pattern) : folder_(folder) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        path_ = pattern;
        fd_.Reset(CreateUnique(folder_, path_));
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
        ::unlinkat(folder_, path_.c_str(), 0);
    }
}

void RemoveIfUnlocked(const std::string& path) {
    RemoveIfUnlocked(AT_FDCWD, path);
}

void RemoveIfUnlocked(int folder, const std::string& name) {
    const char* at = name.c_str();
    const UniqueFd fd(::openat(folder, at, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat held;
    struct stat named;
    if (fd && LockExclusive(fd.get(), false) && ::fstat(fd.get(), &held) == 0 &&
        S_ISREG(held.st_mode) && ::fstatat(folder, at, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        ::unlinkat(folder, at, 0);
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
    if (!Ok()) {
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
    if (Ok() && !bytes.empty() &&
        !(sink_ ? sink_(bytes) : WriteAll(fd_, bytes.data(), bytes.size()))) {
        error_ = errno != 0 ? errno : EIO;
    }
}

bool OutputFile::Flush() {
    WriteOut(pending_);
    pending_.clear();
    return Ok();
}

std::string WriteResult::Reason() const {
    if (done_ || error_ == 0) {
        return {};
    }
    if (error_ == kLinkInTheWay) {
        return "It is a symbolic link, and a name the editor makes up itself is never written "
               "through one";
    }
    if (error_ == kNotOwnFolder) {
        return "Its folder belongs to another user";
    }
    char buffer[256];
    // The GNU strerror_r, which gives its text back rather than always filling the buffer.
    return ::strerror_r(error_, buffer, sizeof buffer);
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

WriteResult ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce,
                        const std::optional<FileAccess>& access, Naming naming) {
    const bool given = naming == Naming::kGiven;
    const std::string target = given ? ResolveLinks(path) : path;
    const std::string name = FileNamePart(target);
    if (name.empty()) {
        return WriteResult::Failed(EISDIR);
    }
    OpenFolder folder;
    if (const WriteResult opened = Open(FolderPart(target), naming, folder); !opened) {
        return opened;
    }
    const int at = folder.fd.get();
    int error = 0;
    struct stat old;
    if (::fstatat(at, name.c_str(), &old, given ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return WriteResult::FailedNow();
        }
        return Renamed(WriteAndRename(folder, name, {}, produce, access, error), error);
    }
    if (S_ISLNK(old.st_mode)) {
        return WriteResult::Failed(kLinkInTheWay);
    }
    if (!S_ISREG(old.st_mode)) {
        return WriteResult::Failed(S_ISDIR(old.st_mode) ? EISDIR : 0);
    }
    const uid_t user = ::geteuid();
    OldFile from{&old, target};
    UniqueFd opened;
    if (!given) {
        // Another user's file, or one with other names, may have been put there for the write to
        // fill or to lend its owner and access to the new file: a file of the user's replaces it.
        const bool own = old.st_uid == user || (user == 0 && old.st_uid == folder.st.st_uid);
        // Its attributes are read from the very file checked.
        struct stat st;
        if (own && old.st_nlink == 1) {
            opened.Reset(
                ::openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        }
        if (!opened || ::fstat(opened.get(), &st) != 0 || st.st_dev != old.st_dev ||
            st.st_ino != old.st_ino) {
            return Renamed(WriteAndRename(folder, name, {}, produce, access, error), error);
        }
        from.fd = opened.get();
    }
    if (::faccessat(at, name.c_str(), W_OK, AT_EACCESS | (given ? 0 : AT_SYMLINK_NOFOLLOW)) != 0) {
        return WriteResult::FailedNow();
    }
    // A new file cannot take the other names of the old one, nor, for an ordinary user, its owner.
    if (old.st_nlink == 1 && (old.st_uid == user || user == 0)) {
        const Outcome renamed = WriteAndRename(folder, name, from, produce, access, error);
        if (renamed != Outcome::kInPlace) {
            return Renamed(renamed, error);
        }
    }
    return WriteInPlace(target, produce, access, &old);
}

std::optional<FileAccess> AccessOf(const std::string& path, Naming naming) {
    struct stat st;
    if ((naming == Naming::kGiven ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0 ||
        S_ISLNK(st.st_mode)) {
        return std::nullopt;
    }
    return FileAccess{st.st_mode & 0777, st.st_gid};
}

bool IsForeignFolder(const std::string& folder) {
    OpenFolder open;
    const WriteResult opened = Open(folder, Naming::kMadeUpInOwnFolder, open);
    return opened.error() == kLinkInTheWay || opened.error() == kNotOwnFolder;
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         Naming naming) {
    struct stat st;
    const UniqueFd fd(OpenRegularFile(path, maxBytes, st, naming));
    if (!fd) {
        return std::nullopt;
    }
    return ReadOpenFile(fd.get(), st, maxBytes);
}

std::optional<std::string> ReadWholeFile(int fd, std::size_t maxBytes) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    return ReadOpenFile(fd, st, maxBytes);
}

int OpenOwnFileAt(int folder, const std::string& name) {
    UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        return -1;
    }
    return fd.Release();
}

int OpenOwnFolderAt(int parent, const std::string& name) {
    UniqueFd fd(::openat(parent, name.c_str(), O_PATH | O_CLOEXEC | O_NOFOLLOW));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return -1;
    }
    return fd.Release();
}

bool SameFile(int fd, int folder, const std::string& name) {
    struct stat open;
    struct stat there;
    return ::fstat(fd, &open) == 0 &&
           ::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == there.st_dev && open.st_ino == there.st_ino;
}

bool NameIsFree(int folder, const std::string& name) {
    struct stat st;
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
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
