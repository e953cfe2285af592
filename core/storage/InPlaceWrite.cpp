#include "core/storage/InPlaceWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <ctime>

#include "core/document/Error.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

// A copy is "secured-<device>-<inode>", so that every writer of one file, under any of its names,
// meets the same copy; it is made as "secured-<device>-<inode>~XXXXXX" and linked to its name
// once whole. Its content: kMagic, "<device> <inode> <size>\n", the file's path, a NUL, the bytes.
constexpr std::string_view kCopyPrefix = "secured-";
// A copy whose file is gone or is another file now is kept for the user under this prefix, where
// no writer meets it.
constexpr std::string_view kAsidePrefix = "unrestored-";
constexpr std::string_view kMagic = "velloran secured bytes 1\n";

struct Secured {
    std::string file;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    off_t size = 0;
    off_t offset = 0;  // where the bytes start in the copy
};

std::string Header(const Secured& s) {
    std::string header(kMagic);
    header += std::to_string(s.device) + " " + std::to_string(s.inode) + " " +
              std::to_string(s.size) + "\n";
    header += s.file;
    header += '\0';
    return header;
}

template <class Number>
bool ParseNumber(const char*& p, const char* end, char after, Number& value) {
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || next == end || *next != after) {
        return false;
    }
    p = next + 1;
    return true;
}

// The description of the whole copy open at fd, or nothing when it is not one.
std::optional<Secured> ReadHeader(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    std::string head(std::min<std::size_t>(static_cast<std::size_t>(st.st_size),
                                           kMagic.size() + 64 + PATH_MAX + 1),
                     '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t r =
            ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (r <= 0 && !(r < 0 && errno == EINTR)) {
            return std::nullopt;
        }
        got += static_cast<std::size_t>(std::max<ssize_t>(r, 0));
    }
    if (!head.starts_with(kMagic)) {
        return std::nullopt;
    }
    Secured s;
    const char* p = head.data() + kMagic.size();
    const char* end = head.data() + head.size();
    if (!ParseNumber(p, end, ' ', s.device) || !ParseNumber(p, end, ' ', s.inode) ||
        !ParseNumber(p, end, '\n', s.size)) {
        return std::nullopt;
    }
    const char* nul = std::find(p, end, '\0');
    if (nul == end || nul == p) {
        return std::nullopt;
    }
    s.file.assign(p, nul);
    s.offset = static_cast<off_t>(nul + 1 - head.data());
    if (s.size < 0 || s.offset + s.size != st.st_size) {
        return std::nullopt;
    }
    return s;
}

bool WriteAllAt(int fd, const char* p, std::size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        p += w;
        at += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Copies n bytes from in at from to out at to, sharing the disk blocks where the file system can.
bool CopyRange(int in, off_t from, int out, off_t to, off_t n) {
    while (n > 0) {
        const ssize_t done = ::copy_file_range(in, &from, out, &to, static_cast<std::size_t>(n), 0);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            break;  // not between these files (EXDEV, EINVAL, ...): copied through memory below
        }
        if (done == 0) {
            return false;  // in is shorter than it was
        }
        n -= done;
    }
    // Nothing is allocated: this also puts bytes back while an exception is on its way.
    char buffer[64 << 10];
    while (n > 0) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(n, sizeof buffer));
        const ssize_t r = ::pread(in, buffer, want, from);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0 || !WriteAllAt(out, buffer, static_cast<std::size_t>(r), to)) {
            return false;
        }
        from += r;
        to += r;
        n -= r;
    }
    return true;
}

// Puts the bytes of the copy open at copyFd back into the file open at fd, to disk.
bool PutBack(int copyFd, const Secured& s, int fd) {
    return CopyRange(copyFd, s.offset, fd, 0, s.size) && ::ftruncate(fd, s.size) == 0 &&
           ::fsync(fd) == 0;
}

void RemoveCopy(const std::string& path) {
    ::unlink(path.c_str());
    SyncFolder(FolderPart(path));
}

bool IsFileOf(const struct stat& st, const Secured& s) {
    return static_cast<std::uint64_t>(st.st_dev) == s.device &&
           static_cast<std::uint64_t>(st.st_ino) == s.inode;
}

// Moves the copy at path where no writer meets it: its file is gone, or its name and inode now
// belong to another file, which its bytes must never overwrite. The copy's new path.
std::string SetAside(const std::string& path) {
    const std::string folder = FolderPart(path);
    const std::string aside = folder + "/" + std::string(kAsidePrefix) +
                              FileNamePart(path).substr(kCopyPrefix.size()) + "-" +
                              std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid());
    if (::link(path.c_str(), aside.c_str()) != 0) {
        return path;
    }
    RemoveCopy(path);
    return aside;
}

// The copy at path, left by a writer of the file open at fd that was killed: its bytes go back
// into the file and the copy is removed. True when no copy is left; false also while another
// writer of the same file, still running, holds it.
bool PutBackLeftover(const std::string& path, int fd) {
    const UniqueFd copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!copy) {
        return errno == ENOENT;
    }
    struct stat st;
    if (!LockExclusive(copy.get(), false) || ::fstat(copy.get(), &st) != 0) {
        return false;
    }
    if (st.st_nlink == 0) {
        return true;  // its writer finished meanwhile
    }
    const auto secured = ReadHeader(copy.get());
    if (!secured) {
        RemoveCopy(path);  // not a whole copy: nothing to put back
        return true;
    }
    struct stat named;
    if (::stat(secured->file.c_str(), &named) != 0 || !IsFileOf(named, *secured) ||
        ::fstat(fd, &st) != 0 || !IsFileOf(st, *secured)) {
        SetAside(path);
        return true;
    }
    if (!PutBack(copy.get(), *secured, fd)) {
        return false;
    }
    RemoveCopy(path);
    return true;
}

// The old bytes of one file, kept in the state folder, and locked, while it is written over.
// Putting them back and removing them allocate nothing, so that they may run during unwinding.
class SecuredCopy {
  public:
    bool Make(const std::string& file, int fd);
    bool PutBack(int fd) const { return velloran::PutBack(fd_.get(), secured_, fd); }
    void Remove();

  private:
    std::string folder_;
    std::string path_;
    UniqueFd fd_;
    Secured secured_;
};

bool SecuredCopy::Make(const std::string& file, int fd) {
    const auto folder = MakeStateFolder();
    struct stat st;
    if (!folder || ::fstat(fd, &st) != 0) {
        return false;
    }
    folder_ = *folder;
    path_ = folder_ + "/" + std::string(kCopyPrefix) + std::to_string(st.st_dev) + "-" +
            std::to_string(st.st_ino);
    // Another writer of this file may link its own copy first: the next round meets it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!PutBackLeftover(path_, fd) || ::fstat(fd, &st) != 0) {
            return false;
        }
        secured_ = {file, static_cast<std::uint64_t>(st.st_dev),
                    static_cast<std::uint64_t>(st.st_ino), st.st_size, 0};
        const std::string header = Header(secured_);
        secured_.offset = static_cast<off_t>(header.size());
        LockedFile partial(path_ + "~XXXXXX");
        if (!partial.Ok() || !WriteAll(partial.fd(), header.data(), header.size()) ||
            !CopyRange(fd, 0, partial.fd(), secured_.offset, secured_.size) ||
            ::fsync(partial.fd()) != 0) {
            return false;
        }
        if (::link(partial.path().c_str(), path_.c_str()) == 0) {
            // The lock belongs to the open file, which the duplicate keeps open.
            fd_.Reset(::fcntl(partial.fd(), F_DUPFD_CLOEXEC, 0));
            if (!fd_) {
                RemoveCopy(path_);
                return false;
            }
            SyncFolder(folder_);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

void SecuredCopy::Remove() {
    // A copy left behind would be put back over the new bytes at the next start; an empty one
    // is not a whole copy and never is.
    if (::unlink(path_.c_str()) != 0) {
        [[maybe_unused]] int ignored = ::ftruncate(fd_.get(), 0);
    }
    SyncFolder(folder_);
    fd_.Reset();
}

}  // namespace

WriteResult WriteInPlace(const std::string& target, const std::function<void(OutputFile&)>& produce,
                         const std::optional<FileAccess>& access, const struct stat* expected) {
    // Each failure takes its errno as it returns, before the locals clean up and may change it.
    const UniqueFd fd(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        return WriteResult::FailedNow();
    }
    if (!S_ISREG(st.st_mode) ||
        (expected && (st.st_dev != expected->st_dev || st.st_ino != expected->st_ino))) {
        return WriteResult::Failed(0);
    }
    if (access && !GiveAccess(fd.get(), *access)) {
        return WriteResult::FailedNow();
    }
    SecuredCopy copy;
    errno = 0;  // some refusals in there leave no errno of their own
    if (!copy.Make(target, fd.get())) {
        return WriteResult::FailedNow();
    }
    // The old bytes go back unless the new ones reached the disk, also when produce throws.
    struct Undo {
        SecuredCopy& copy;
        int fd;
        bool done = false;
        ~Undo() {
            if (!done && copy.PutBack(fd)) {
                copy.Remove();
            }
        }
    } undo{copy, fd.get()};

    if (::lseek(fd.get(), 0, SEEK_SET) != 0) {
        return WriteResult::FailedNow();
    }
    OutputFile out(fd.get());
    produce(out);
    if (!out.Flush()) {
        return WriteResult::Failed(out.Error());
    }
    off_t end = -1;
    if ((end = ::lseek(fd.get(), 0, SEEK_CUR)) < 0 || ::ftruncate(fd.get(), end) != 0 ||
        ::fsync(fd.get()) != 0) {
        return WriteResult::FailedNow();
    }
    undo.done = true;
    copy.Remove();
    return WriteResult::Done();
}

std::string DescribeInterruptedWrite(const InterruptedWrite& write) {
    return write.restored ? Format(kWriteUndone, write.file)
                          : Format(Format(kWriteKeptAside, write.file), write.copy);
}

std::vector<InterruptedWrite> RestoreInterruptedWrites() {
    std::vector<InterruptedWrite> found;
    const std::string folder = StateFolder();
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name.starts_with(kCopyPrefix) || name.starts_with(kAsidePrefix)) {
                names.emplace_back(name);
            }
        }
        ::closedir(dir);
    }
    for (const auto& name : names) {
        const std::string path = folder + "/" + name;
        if (name.starts_with(kAsidePrefix)) {
            if (const UniqueFd copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
                copy) {
                if (const auto secured = ReadHeader(copy.get())) {
                    found.push_back({secured->file, path, false});
                }
            }
            continue;
        }
        if (name.find('~') != std::string::npos) {
            RemoveIfUnlocked(path);  // a copy that was still being made: the file is untouched
            continue;
        }
        const UniqueFd copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat st;
        if (!copy || !LockExclusive(copy.get(), false) || ::fstat(copy.get(), &st) != 0 ||
            st.st_nlink == 0) {
            continue;  // its writer is still at work, or has just finished
        }
        const auto secured = ReadHeader(copy.get());
        if (!secured) {
            RemoveCopy(path);
            continue;
        }
        InterruptedWrite write{secured->file, path, false};
        const UniqueFd fd(
            ::open(secured->file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !IsFileOf(st, *secured)) {
            write.copy = SetAside(path);
        } else if (PutBack(copy.get(), *secured, fd.get())) {
            RemoveCopy(path);
            write.restored = true;
        }
        found.push_back(std::move(write));
    }
    return found;
}

}  // namespace velloran
