#include "core/storage/InPlaceWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <ctime>

#include "core/document/Error.h"
#include "core/storage/Checksum.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

// A copy is "secured-<device>-<inode>", so that every writer of one file, under any of its names,
// meets the same copy; it is made as "secured-<device>-<inode>~XXXXXX" and linked to its name
// once whole. Its content: kMagic, "<device> <inode> <size> <seconds> <nanoseconds>\n" (the
// file's size and modification time before the write), the file's absolute path, a NUL, the old
// bytes, then the records of what the write did (below). A copy made by the previous version
// holds kMagic1, "<device> <inode> <size>\n", the path as it was given, a NUL and the bytes.
constexpr std::string_view kCopyPrefix = "secured-";
// A copy whose file is gone, is another file now or was changed since is kept for the user under
// this prefix, where no writer meets it; after it, why, unless the file is gone or replaced.
constexpr std::string_view kAsidePrefix = "unrestored-";
constexpr std::string_view kChangedTag = "changed-";
constexpr std::string_view kUnsureTag = "unsure-";
constexpr std::string_view kMagic = "velloran secured bytes 2\n";
constexpr std::string_view kMagic1 = "velloran secured bytes 1\n";

// The new bytes are recorded by blocks of this size, and written in steps that start at multiples
// of it: a write that a kill cuts short stops between the page cache's pages, so between blocks.
constexpr std::size_t kBlock = 4096;

struct Secured {
    int version = 2;
    std::string file;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    off_t size = 0;
    timespec mtime{};  // the file's before the write (version 2)
    off_t offset = 0;  // where the bytes start in the copy
    // Where the records start (version 2).
    off_t Records() const { return offset + size; }
};

std::string Header(const Secured& s) {
    std::string header(kMagic);
    header += std::to_string(s.device) + " " + std::to_string(s.inode) + " " +
              std::to_string(s.size) + " " + std::to_string(s.mtime.tv_sec) + " " +
              std::to_string(s.mtime.tv_nsec) + "\n";
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
                                           kMagic.size() + 128 + PATH_MAX + 1),
                     '\0');
    if (!ReadAllAt(fd, head.data(), head.size(), 0)) {
        return std::nullopt;
    }
    Secured s;
    const char* p = head.data() + kMagic.size();
    const char* end = head.data() + head.size();
    if (head.starts_with(kMagic)) {
        if (!ParseNumber(p, end, ' ', s.device) || !ParseNumber(p, end, ' ', s.inode) ||
            !ParseNumber(p, end, ' ', s.size) || !ParseNumber(p, end, ' ', s.mtime.tv_sec) ||
            !ParseNumber(p, end, '\n', s.mtime.tv_nsec) || s.mtime.tv_nsec < 0 ||
            s.mtime.tv_nsec >= 1000000000) {
            return std::nullopt;
        }
    } else if (head.starts_with(kMagic1)) {
        s.version = 1;
        if (!ParseNumber(p, end, ' ', s.device) || !ParseNumber(p, end, ' ', s.inode) ||
            !ParseNumber(p, end, '\n', s.size)) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    const char* nul = std::find(p, end, '\0');
    if (nul == end || nul == p) {
        return std::nullopt;
    }
    s.file.assign(p, nul);
    s.offset = static_cast<off_t>(nul + 1 - head.data());
    if (s.size < 0 || s.offset + s.size > st.st_size ||
        (s.version == 1 && s.offset + s.size != st.st_size)) {
        return std::nullopt;
    }
    return s;
}

// ---- the records of what a write did

// A record: its kind, the length of what follows (4 bytes), that, and the checksum of all before
// (8 bytes), integers little-endian. They are appended in order; a record cut short by a crash
// ends them.
enum Kind : char {
    // New bytes about to be written, flushed to disk before them: where they start and end, and
    // the checksum of each block of them.
    kStep = 'S',
    // New bytes written up to here: where, and the file's size and modification time then.
    kDone = 'D',
    // The file is about to change otherwise (cut to its new length, or its old bytes put back),
    // flushed to disk first.
    kUnsettled = 'U',
};
constexpr std::size_t kFrame = 1 + 4 + 8;
constexpr std::size_t kDonePayload = 4 * 8;

void PutNumber(char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<char>(value >> (8 * i));
    }
}

std::uint64_t GetNumber(const char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{static_cast<unsigned char>(at[i])} << (8 * i);
    }
    return value;
}

// Completes the record in buffer, whose payload of n bytes is in place after its first 5 bytes.
// Allocates nothing.
void Frame(char* buffer, Kind kind, std::size_t n) {
    buffer[0] = kind;
    PutNumber(buffer + 1, n, 4);
    PutNumber(buffer + 5 + n, Checksum::Of(std::string_view(buffer, 5 + n)), 8);
}

// Marks a copy whose records end at `at` before its file is changed otherwise than by new bytes.
// Allocates nothing, so that it may run during unwinding.
bool MarkUnsettled(int copyFd, off_t at) {
    char record[kFrame];
    Frame(record, kUnsettled, 0);
    return WriteAllAt(copyFd, record, sizeof record, at) && ::fdatasync(copyFd) == 0;
}

// What the records of a copy say.
struct History {
    std::vector<std::uint64_t> sums;  // of each block of the new bytes, from the file's start
    off_t written = 0;                // where the new bytes end
    // The last state recorded (the header's when none is): the file's size and time then.
    off_t size = 0;
    timespec mtime{};
    // Nothing was about to change the file since that state.
    bool settled = true;
};

// The records of the copy open at fd, of copySize bytes; nothing when they contradict each other.
std::optional<History> ReadHistory(int fd, const Secured& s, off_t copySize) {
    History h;
    h.size = s.size;
    h.mtime = s.mtime;
    const off_t length = copySize - s.Records();
    if (length < 0 || length > (off_t{256} << 20)) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (!ReadAllAt(fd, bytes.data(), bytes.size(), s.Records())) {
        return std::nullopt;
    }
    std::string_view rest = bytes;
    while (rest.size() >= kFrame) {
        const std::uint64_t n = GetNumber(rest.data() + 1, 4);
        if (rest.size() - kFrame < n ||
            Checksum::Of(rest.substr(0, 5 + n)) != GetNumber(rest.data() + 5 + n, 8)) {
            break;  // cut short by a crash: nothing after it was done
        }
        const char* payload = rest.data() + 5;
        const char kind = rest[0];
        rest.remove_prefix(kFrame + n);
        if (kind == kStep) {
            const std::uint64_t start = GetNumber(payload, 8);
            const std::uint64_t end = GetNumber(payload + 8, 8);
            const std::uint64_t count = n < 16 ? 0 : (n - 16) / 8;
            if (n < 16 || (n - 16) % 8 != 0 || start != static_cast<std::uint64_t>(h.written) ||
                start % kBlock != 0 || end <= start || end > (std::uint64_t{1} << 62) ||
                count != (end - start + kBlock - 1) / kBlock) {
                return std::nullopt;
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                h.sums.push_back(GetNumber(payload + 16 + 8 * i, 8));
            }
            h.written = static_cast<off_t>(end);
            h.settled = false;
        } else if (kind == kDone) {
            if (n != kDonePayload ||
                GetNumber(payload, 8) != static_cast<std::uint64_t>(h.written)) {
                return std::nullopt;
            }
            h.size = static_cast<off_t>(GetNumber(payload + 8, 8));
            h.mtime.tv_sec = static_cast<time_t>(GetNumber(payload + 16, 8));
            h.mtime.tv_nsec = static_cast<long>(GetNumber(payload + 24, 8));
            h.settled = true;
        } else if (kind == kUnsettled && n == 0) {
            h.settled = false;
        } else {
            return std::nullopt;
        }
    }
    return h;
}

// ---- telling whether a file is as a killed write left it

enum class Verdict {
    kAsLeft,      // the old bytes go back
    kChanged,     // something else wrote it since
    kUnsure,      // nothing tells
    kUnreadable,  // it cannot be read now
};

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

timespec Plus(timespec t, std::int64_t seconds) {
    t.tv_sec += static_cast<time_t>(seconds);
    return t;
}

// The most a write of n bytes may take, generously: its time and another program's later one are
// told apart by it.
std::int64_t Allowance(off_t n) {
    return 10 + n / (off_t{1} << 20);
}

// Whether each block of the file open at fd, of size bytes, holds either the new bytes that h
// records for it or the old bytes of the copy; nothing when they cannot be read.
std::optional<bool> BlocksAsLeft(int copyFd, const Secured& s, const History& h, int fd,
                                 off_t size) {
    constexpr off_t kWindow = off_t{1} << 20;
    std::string file(static_cast<std::size_t>(kWindow), '\0');
    std::string old(static_cast<std::size_t>(kWindow), '\0');
    const auto block = static_cast<off_t>(kBlock);
    for (off_t at = 0; at < size; at += kWindow) {
        const off_t n = std::min(kWindow, size - at);
        const off_t oldN = std::clamp<off_t>(s.size - at, 0, n);
        if (!ReadAllAt(fd, file.data(), static_cast<std::size_t>(n), at) ||
            !ReadAllAt(copyFd, old.data(), static_cast<std::size_t>(oldN), s.offset + at)) {
            return std::nullopt;
        }
        auto bytes = [&](const std::string& from, off_t begin, off_t end) {
            return std::string_view(from).substr(static_cast<std::size_t>(begin - at),
                                                 static_cast<std::size_t>(end - begin));
        };
        for (off_t b = at; b < at + n; b += block) {
            const off_t q = std::min(b + block, size);
            if (q <= s.size && bytes(file, b, q) == bytes(old, b, q)) {
                continue;
            }
            const auto i = static_cast<std::size_t>(b / block);
            const off_t e = std::min(b + block, h.written);  // the new bytes of the block end here
            bool asNew =
                i < h.sums.size() && e <= q && Checksum::Of(bytes(file, b, e)) == h.sums[i];
            if (asNew && e < q) {
                // The old bytes after the new ones, until the file is cut to its new length.
                asNew = q <= s.size && bytes(file, e, q) == bytes(old, e, q);
            }
            if (!asNew) {
                return false;
            }
        }
    }
    return true;
}

// Whether the file open at fd (with its status) is exactly as the write that secured the copy
// open at copyFd (with its status) left it when it was killed.
Verdict Judge(int copyFd, const struct stat& copy, const Secured& s, int fd,
              const struct stat& file) {
    const off_t size = file.st_size;
    if (s.version == 1) {
        // The previous version recorded nothing of what it wrote: its bytes go back over a file
        // that still holds them, or was last changed no later than its write may have lasted after
        // the copy was made (its status too, which no program can set back).
        const auto old = BlocksAsLeft(copyFd, s, History{}, fd, size);
        if (!old) {
            return Verdict::kUnreadable;
        }
        if (size == s.size && *old) {
            return Verdict::kAsLeft;
        }
        const timespec earliest = Plus(copy.st_mtim, -1);
        const timespec latest = Plus(copy.st_mtim, Allowance(std::max(s.size, size)));
        for (const timespec& t : {file.st_mtim, file.st_ctim}) {
            if (Before(t, earliest) || Before(latest, t)) {
                return Verdict::kUnsure;
            }
        }
        return Verdict::kAsLeft;
    }
    const auto h = ReadHistory(copyFd, s, copy.st_size);
    if (!h) {
        return Verdict::kUnsure;
    }
    if (h->settled) {
        if (size != h->size || !SameTime(file.st_mtim, h->mtime)) {
            return Verdict::kChanged;
        }
    } else {
        // Killed while it changed the file: its time is that of the last write, no earlier than
        // the state last recorded, no later than the change may have lasted after it was
        // recorded (the copy's time); its size one that the writes gave it on the way.
        const off_t longest = std::max(s.size, h->written);
        if (Before(file.st_mtim, h->mtime) ||
            Before(Plus(copy.st_mtim, Allowance(longest)), file.st_mtim) || size > longest ||
            (size != s.size && size != h->written && size % static_cast<off_t>(kBlock) != 0)) {
            return Verdict::kChanged;
        }
    }
    const auto blocks = BlocksAsLeft(copyFd, s, *h, fd, size);
    if (!blocks) {
        return Verdict::kUnreadable;
    }
    return *blocks ? Verdict::kAsLeft : Verdict::kChanged;
}

// ---- the state folder

// The state folder, opened once it is known to be private: everything in it is reached relative
// to the descriptor, so that a folder put in its place meanwhile is never used.
class StateDir {
  public:
    bool Open(const std::string& path) {
        path_ = path;
        const int fd = OpenPrivateFolder(path);
        const int error = errno;
        fd_.Reset(fd);
        errno = error;
        return fd >= 0;
    }
    int fd() const { return fd_.get(); }
    std::string PathOf(std::string_view name) const { return path_ + "/" + std::string(name); }
    // The names of copies, and of copies set aside, it holds, in order.
    std::vector<std::string> Names() const {
        std::vector<std::string> names = FolderNames(fd_.get());
        std::erase_if(names, [](const std::string& name) {
            return !name.starts_with(kCopyPrefix) && !name.starts_with(kAsidePrefix);
        });
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    UniqueFd fd_;
    std::string path_;
};

// Makes the entries of the folder open at fd durable; see SyncFolder.
bool SyncDir(int fd) {
    return ::fsync(fd) == 0 || errno == EINVAL;
}

void RemoveAt(const StateDir& d, const std::string& name) {
    ::unlinkat(d.fd(), name.c_str(), 0);
    SyncDir(d.fd());
}

// Whether the folder at path, not private, may hold copies: it cannot be listed, or it holds
// names of copies (only their names are read).
bool MayHoldCopies(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        return true;
    }
    bool any = false;
    while (dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        any = any || name.starts_with(kCopyPrefix) || name.starts_with(kAsidePrefix);
    }
    ::closedir(dir);
    return any;
}

// Removes the file name when no process holds a lock on it: the leftover of a killed writer.
void RemoveIfUnlockedAt(const StateDir& d, const std::string& name) {
    const UniqueFd fd(
        ::openat(d.fd(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat held;
    struct stat named;
    if (fd && LockExclusive(fd.get(), false) && ::fstat(fd.get(), &held) == 0 &&
        S_ISREG(held.st_mode) &&
        ::fstatat(d.fd(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        ::unlinkat(d.fd(), name.c_str(), 0);
    }
}

// Six letters or digits, different every time.
std::string RandomSuffix() {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::uint64_t mixed =
            static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ULL ^
            static_cast<std::uint64_t>(::getpid());
        for (std::size_t i = 0; i < sizeof random; ++i) {
            random[i] = static_cast<unsigned char>(mixed >> (8 * i));
        }
    }
    std::string suffix;
    for (unsigned char r : random) {
        suffix += kLetters[r % kLetters.size()];
    }
    return suffix;
}

// A new file "name~XXXXXX" in the state folder (mode 0600) that holds an exclusive lock while it is
// open, so that no sweep takes it for a killed writer's leftover; removed when this goes.
class PartialCopy {
  public:
    PartialCopy(const StateDir& d, const std::string& name) : dir_(d.fd()) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            name_ = name + "~" + RandomSuffix();
            fd_.Reset(::openat(dir_, name_.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!fd_) {
                if (errno == EEXIST) {
                    continue;
                }
                return;
            }
            LockExclusive(fd_.get(), true);
            // A sweep may have removed it between its creation and the lock.
            struct stat st;
            if (::fstat(fd_.get(), &st) == 0 && st.st_nlink > 0) {
                return;
            }
        }
        fd_.Reset();
    }
    ~PartialCopy() {
        if (fd_) {
            ::unlinkat(dir_, name_.c_str(), 0);
        }
    }
    PartialCopy(const PartialCopy&) = delete;
    PartialCopy& operator=(const PartialCopy&) = delete;

    bool Ok() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    const std::string& name() const { return name_; }

  private:
    int dir_;
    UniqueFd fd_;
    std::string name_;
};

// ---- putting old bytes back

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

// Puts the bytes of the copy open at copyFd, whose records end at recordsEnd, back into the file
// open at fd, to disk. Allocates nothing.
bool PutBack(int copyFd, const Secured& s, off_t recordsEnd, int fd) {
    return (s.version < 2 || MarkUnsettled(copyFd, recordsEnd)) &&
           CopyRange(copyFd, s.offset, fd, 0, s.size) && ::ftruncate(fd, s.size) == 0 &&
           ::fsync(fd) == 0;
}

bool IsFileOf(const struct stat& st, const Secured& s) {
    return static_cast<std::uint64_t>(st.st_dev) == s.device &&
           static_cast<std::uint64_t>(st.st_ino) == s.inode;
}

// Moves the copy name, open at copyFd, where no writer meets it, for the reason tag: its bytes
// must never go back now. The copy's new path.
std::string SetAside(const StateDir& d, const std::string& name, std::string_view tag, int copyFd,
                     const Secured& s) {
    const std::string aside = std::string(kAsidePrefix) + std::string(tag) +
                              name.substr(kCopyPrefix.size()) + "-" +
                              std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid());
    if (::linkat(d.fd(), name.c_str(), d.fd(), aside.c_str(), 0) != 0) {
        return d.PathOf(name);
    }
    // What the user finds there: the old bytes after the header, without the records.
    if (s.version >= 2) {
        [[maybe_unused]] int ignored = ::ftruncate(copyFd, s.Records());
    }
    RemoveAt(d, name);
    return d.PathOf(aside);
}

enum class Reach { kOpen, kUnreachable, kReplaced };

// Opens the file of the copy s for writing, when its path still leads to it.
Reach OpenFileOf(const Secured& s, UniqueFd& fd, struct stat& st) {
    // Looked at first, so that nothing but a regular file is opened.
    struct stat named;
    if (::lstat(s.file.c_str(), &named) != 0 ||
        static_cast<std::uint64_t>(named.st_dev) != s.device) {
        return Reach::kUnreachable;  // missing, or another disk where its own is not mounted
    }
    if (!S_ISREG(named.st_mode) || !IsFileOf(named, s)) {
        return Reach::kReplaced;
    }
    fd.Reset(::open(s.file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        return Reach::kUnreachable;
    }
    return S_ISREG(st.st_mode) && IsFileOf(st, s) ? Reach::kOpen : Reach::kReplaced;
}

// Opens the copy name for putting it back, locked, with its status; -1 when it cannot be opened
// or locked (its writer is at work).
int OpenCopy(const StateDir& d, const std::string& name, struct stat& st) {
    UniqueFd copy(::openat(d.fd(), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!copy || !LockExclusive(copy.get(), false) || ::fstat(copy.get(), &st) != 0) {
        return -1;
    }
    return copy.Release();
}

// The copy name, left by a writer of the file open at fd that was killed: its bytes go back into
// the file and the copy is removed. True when no copy is left; false also while another writer of
// the same file, still running, holds it, and when a copy the user may not trust is in the way.
bool PutBackLeftover(const StateDir& d, const std::string& name, int fd) {
    struct stat st;
    if (::fstatat(d.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISREG(st.st_mode) || !IsPrivate(st)) {
        return false;  // left alone, and told at the next start
    }
    const UniqueFd copy(OpenCopy(d, name, st));
    if (!copy) {
        return errno == ENOENT;
    }
    if (st.st_nlink == 0) {
        return true;  // its writer finished meanwhile
    }
    if (!S_ISREG(st.st_mode) || !IsPrivate(st)) {
        return false;
    }
    const auto secured = ReadHeader(copy.get());
    if (!secured) {
        RemoveAt(d, name);  // not a whole copy: nothing to put back
        return true;
    }
    struct stat named;
    struct stat file;
    if (::stat(secured->file.c_str(), &named) != 0 || !IsFileOf(named, *secured) ||
        ::fstat(fd, &file) != 0 || !IsFileOf(file, *secured)) {
        SetAside(d, name, {}, copy.get(), *secured);
        return true;
    }
    switch (Judge(copy.get(), st, *secured, fd, file)) {
        case Verdict::kAsLeft:
            if (!PutBack(copy.get(), *secured, st.st_size, fd)) {
                return false;
            }
            RemoveAt(d, name);
            return true;
        case Verdict::kChanged:
            SetAside(d, name, kChangedTag, copy.get(), *secured);
            return true;
        case Verdict::kUnsure:
            SetAside(d, name, kUnsureTag, copy.get(), *secured);
            return true;
        case Verdict::kUnreadable:
            break;
    }
    return false;
}

// ---- writing in place

// The old bytes of one file, kept in the state folder, and locked, while it is written over, with
// the records of the write. Putting them back and removing them allocate nothing, so that they
// may run during unwinding.
class SecuredCopy {
  public:
    bool Make(const std::string& file, int fd);
    // Before the new bytes first and second go to the file at start: their checksums, on disk.
    bool RecordStep(off_t start, std::string_view first, std::string_view second);
    // After: the new bytes end at written, and the file open at fd is as it is now.
    bool RecordDone(int fd, off_t written);
    // Before the file open at fd is cut to its new length.
    bool RecordUnsettled() { return Appended(MarkUnsettled(fd_.get(), records_), kFrame); }
    bool PutBack(int fd) const { return velloran::PutBack(fd_.get(), secured_, records_, fd); }
    void Remove();

  private:
    bool Append(const char* record, std::size_t n, bool sync) {
        return Appended(
            WriteAllAt(fd_.get(), record, n, records_) && (!sync || ::fdatasync(fd_.get()) == 0),
            n);
    }
    bool Appended(bool ok, std::size_t n) {
        if (ok) {
            records_ += static_cast<off_t>(n);
        }
        return ok;
    }

    StateDir dir_;
    std::string name_;
    UniqueFd fd_;
    Secured secured_;
    off_t records_ = 0;  // where the next record goes
};

bool SecuredCopy::Make(const std::string& file, int fd) {
    const auto folder = MakeStateFolder();
    struct stat st;
    if (!folder || !dir_.Open(*folder) || ::fstat(fd, &st) != 0 || file.size() >= PATH_MAX) {
        return false;
    }
    name_ = std::string(kCopyPrefix) + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
    // Another writer of this file may link its own copy first: the next round meets it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!PutBackLeftover(dir_, name_, fd) || ::fstat(fd, &st) != 0) {
            return false;
        }
        secured_ = {2,
                    file,
                    static_cast<std::uint64_t>(st.st_dev),
                    static_cast<std::uint64_t>(st.st_ino),
                    st.st_size,
                    st.st_mtim,
                    0};
        const std::string header = Header(secured_);
        secured_.offset = static_cast<off_t>(header.size());
        records_ = secured_.Records();
        PartialCopy partial(dir_, name_);
        if (!partial.Ok() || !WriteAllAt(partial.fd(), header.data(), header.size(), 0) ||
            !CopyRange(fd, 0, partial.fd(), secured_.offset, secured_.size) ||
            ::fsync(partial.fd()) != 0) {
            return false;
        }
        if (::linkat(dir_.fd(), partial.name().c_str(), dir_.fd(), name_.c_str(), 0) == 0) {
            // The lock belongs to the open file, which the duplicate keeps open.
            fd_.Reset(::fcntl(partial.fd(), F_DUPFD_CLOEXEC, 0));
            // Its name must be on disk before the first byte of the file is overwritten.
            if (!fd_ || !SyncDir(dir_.fd())) {
                RemoveAt(dir_, name_);
                fd_.Reset();
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool SecuredCopy::RecordStep(off_t start, std::string_view first, std::string_view second) {
    const std::size_t n = first.size() + second.size();
    const std::size_t count = (n + kBlock - 1) / kBlock;
    const std::size_t payload = 16 + 8 * count;
    std::string record(payload + kFrame, '\0');
    char* p = record.data() + 5;
    PutNumber(p, static_cast<std::uint64_t>(start), 8);
    PutNumber(p + 8, static_cast<std::uint64_t>(start) + n, 8);
    // Each block's checksum, over the two pieces as one.
    Checksum sum;
    std::size_t block = 0;
    std::size_t inBlock = 0;
    for (std::string_view piece : {first, second}) {
        while (!piece.empty()) {
            const std::size_t take = std::min(piece.size(), kBlock - inBlock);
            sum.Update(piece.substr(0, take));
            piece.remove_prefix(take);
            inBlock += take;
            if (inBlock == kBlock) {
                PutNumber(p + 16 + 8 * block++, sum.Value(), 8);
                sum = {};
                inBlock = 0;
            }
        }
    }
    if (inBlock > 0) {
        PutNumber(p + 16 + 8 * block, sum.Value(), 8);
    }
    Frame(record.data(), kStep, payload);
    return Append(record.data(), record.size(), true);
}

bool SecuredCopy::RecordDone(int fd, off_t written) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    char record[kFrame + kDonePayload];
    PutNumber(record + 5, static_cast<std::uint64_t>(written), 8);
    PutNumber(record + 13, static_cast<std::uint64_t>(st.st_size), 8);
    PutNumber(record + 21, static_cast<std::uint64_t>(st.st_mtim.tv_sec), 8);
    PutNumber(record + 29, static_cast<std::uint64_t>(st.st_mtim.tv_nsec), 8);
    Frame(record, kDone, kDonePayload);
    return Append(record, sizeof record, false);
}

void SecuredCopy::Remove() {
    // A copy left behind would be put back over the new bytes at the next start; an empty one
    // is not a whole copy and never is.
    if (::unlinkat(dir_.fd(), name_.c_str(), 0) != 0) {
        [[maybe_unused]] int ignored = ::ftruncate(fd_.get(), 0);
    }
    SyncDir(dir_.fd());
    fd_.Reset();
}

// Writes the new bytes over the file from its start, in steps that start at multiples of kBlock,
// each recorded in the copy before and after.
class StepWriter {
  public:
    StepWriter(SecuredCopy& copy, int fd) : copy_(copy), fd_(fd) { carry_.reserve(kBlock); }

    bool Write(std::string_view bytes) {
        std::string_view first;
        if (!carry_.empty()) {
            const std::size_t take = std::min(bytes.size(), kBlock - carry_.size());
            carry_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (carry_.size() < kBlock) {
                return true;
            }
            first = carry_;
        }
        const std::size_t whole = bytes.size() / kBlock * kBlock;
        if ((!first.empty() || whole > 0) && !Put(first, bytes.substr(0, whole))) {
            return false;
        }
        carry_.assign(bytes.substr(whole));
        return true;
    }
    // Writes what is left of the last block.
    bool Finish() {
        if (carry_.empty()) {
            return true;
        }
        const bool ok = Put(carry_, {});
        carry_.clear();
        return ok;
    }
    off_t Written() const { return written_; }

  private:
    bool Put(std::string_view first, std::string_view second) {
        if (!copy_.RecordStep(written_, first, second) ||
            !WriteAllAt(fd_, first.data(), first.size(), written_) ||
            !WriteAllAt(fd_, second.data(), second.size(),
                        written_ + static_cast<off_t>(first.size()))) {
            return false;
        }
        written_ += static_cast<off_t>(first.size() + second.size());
        return copy_.RecordDone(fd_, written_);
    }

    SecuredCopy& copy_;
    int fd_;
    std::string carry_;  // the start of a block not yet whole
    off_t written_ = 0;
};

// path made absolute, its folder without symbolic links where it exists; empty when the current
// folder is unknown.
std::string AbsoluteFile(const std::string& path) {
    std::string absolute = path;
    if (path.empty() || path[0] != '/') {
        char here[PATH_MAX];
        if (!::getcwd(here, sizeof here)) {
            return {};
        }
        const std::string folder = here;
        absolute = (folder == "/" ? folder : folder + "/") + path;
    }
    char resolved[PATH_MAX];
    if (::realpath(FolderPart(absolute).c_str(), resolved)) {
        const std::string folder = resolved;
        return (folder == "/" ? folder : folder + "/") + FileNamePart(absolute);
    }
    return absolute;
}

// message with its two "%s" filled in turn, whatever the first argument holds.
std::string FormatTwo(std::string_view message, std::string_view first, std::string_view second) {
    std::string out(message);
    const std::size_t at = out.find("%s");
    if (at == std::string::npos) {
        return out;
    }
    out.replace(at, 2, first);
    if (const std::size_t next = out.find("%s", at + first.size()); next != std::string::npos) {
        out.replace(next, 2, second);
    }
    return out;
}

// The copy set aside as name: reported at every start until the user removes it.
void ReportAside(const StateDir& d, const std::string& name, std::vector<InterruptedWrite>& found) {
    const UniqueFd copy(
        ::openat(d.fd(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!copy || ::fstat(copy.get(), &st) != 0) {
        return;
    }
    if (!S_ISREG(st.st_mode) || !IsPrivate(st)) {
        found.push_back({"", d.PathOf(name), false, KeptBecause::kNotPrivate});
        return;
    }
    if (const auto secured = ReadHeader(copy.get())) {
        const std::string_view why = std::string_view(name).substr(kAsidePrefix.size());
        found.push_back({secured->file, d.PathOf(name), false,
                         why.starts_with(kChangedTag)  ? KeptBecause::kChanged
                         : why.starts_with(kUnsureTag) ? KeptBecause::kUnsure
                                                       : KeptBecause::kReplaced});
    }
}

// Puts back the copy name that a killed writer left, when its file is as the writer left it.
void RestoreCopy(const StateDir& d, const std::string& name, std::vector<InterruptedWrite>& found) {
    struct stat st;
    const UniqueFd copy(OpenCopy(d, name, st));
    if (!copy || st.st_nlink == 0) {
        return;  // its writer is still at work, or has just finished
    }
    if (!S_ISREG(st.st_mode) || !IsPrivate(st)) {
        found.push_back({"", d.PathOf(name), false, KeptBecause::kNotPrivate});
        return;
    }
    const auto secured = ReadHeader(copy.get());
    if (!secured) {
        RemoveAt(d, name);  // a copy that was not whole: the file was not touched
        return;
    }
    // Until it can be put back, or the user removes it.
    InterruptedWrite write{secured->file, d.PathOf(name), false, KeptBecause::kUnreachable};
    UniqueFd fd;
    struct stat file;
    switch (OpenFileOf(*secured, fd, file)) {
        case Reach::kUnreachable:
            break;
        case Reach::kReplaced:
            write.kept = KeptBecause::kReplaced;
            write.copy = SetAside(d, name, {}, copy.get(), *secured);
            break;
        case Reach::kOpen:
            switch (Judge(copy.get(), st, *secured, fd.get(), file)) {
                case Verdict::kAsLeft:
                    if (PutBack(copy.get(), *secured, st.st_size, fd.get())) {
                        RemoveAt(d, name);
                        write.restored = true;
                    }
                    break;
                case Verdict::kChanged:
                    write.kept = KeptBecause::kChanged;
                    write.copy = SetAside(d, name, kChangedTag, copy.get(), *secured);
                    break;
                case Verdict::kUnsure:
                    write.kept = KeptBecause::kUnsure;
                    write.copy = SetAside(d, name, kUnsureTag, copy.get(), *secured);
                    break;
                case Verdict::kUnreadable:
                    break;
            }
            break;
    }
    found.push_back(std::move(write));
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
    // Absolute, so that a start from another folder finds it.
    const std::string file = AbsoluteFile(target);
    SecuredCopy copy;
    errno = 0;  // some refusals in there leave no errno of their own
    if (file.empty() || !copy.Make(file, fd.get())) {
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

    StepWriter steps(copy, fd.get());
    OutputFile out([&steps](std::string_view bytes) { return steps.Write(bytes); });
    produce(out);
    if (!out.Flush()) {
        return WriteResult::Failed(out.Error());
    }
    if (!steps.Finish() || !copy.RecordUnsettled() || ::ftruncate(fd.get(), steps.Written()) != 0 ||
        !copy.RecordDone(fd.get(), steps.Written()) || ::fsync(fd.get()) != 0) {
        return WriteResult::FailedNow();
    }
    undo.done = true;
    copy.Remove();
    return WriteResult::Done();
}

std::string DescribeInterruptedWrite(const InterruptedWrite& write) {
    if (write.restored) {
        return Format(kWriteUndone, write.file);
    }
    switch (write.kept) {
        case KeptBecause::kReplaced:
            return FormatTwo(kWriteKeptAside, write.file, write.copy);
        case KeptBecause::kChanged:
            return FormatTwo(kWriteChangedSince, write.file, write.copy);
        case KeptBecause::kUnsure:
            return FormatTwo(kWriteUnsure, write.file, write.copy);
        case KeptBecause::kUnreachable:
            return FormatTwo(kWriteUnreachable, write.file, write.copy);
        case KeptBecause::kNotPrivate:
            return Format(kCopyNotPrivate, write.copy);
        case KeptBecause::kFolderNotPrivate:
            return Format(kStateFolderNotPrivate, write.copy);
    }
    return {};
}

std::vector<InterruptedWrite> RestoreInterruptedWrites() {
    std::vector<InterruptedWrite> found;
    const std::string folder = StateFolder();
    StateDir d;
    if (!d.Open(folder)) {
        if (errno != ENOENT && MayHoldCopies(folder)) {
            found.push_back({"", folder, false, KeptBecause::kFolderNotPrivate});
        }
        return found;
    }
    for (const std::string& name : d.Names()) {
        // Looked at before it is opened: nothing but a regular file of the user is ever opened.
        struct stat st;
        if (::fstatat(d.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (!S_ISREG(st.st_mode) || !IsPrivate(st)) {
            found.push_back({"", d.PathOf(name), false, KeptBecause::kNotPrivate});
        } else if (name.starts_with(kAsidePrefix)) {
            ReportAside(d, name, found);
        } else if (name.find('~') != std::string::npos) {
            RemoveIfUnlockedAt(d, name);  // a copy that was still being made: the file is untouched
        } else {
            RestoreCopy(d, name, found);
        }
    }
    return found;
}

}  // namespace velloran
