#include "FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velloran {
namespace {

constexpr std::size_t kChunk = 1 << 20;

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

mode_t CreationMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void SyncFolder(const std::string& folder) {
    int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::string TempPrefix(const std::string& name) {
    return "." + name + "~";
}

// Temporary files left by a save that was killed before its rename.
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
        ::unlink((folder.empty() ? entry : folder + "/" + entry).c_str());
    }
}

}  // namespace

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
        ok_ = WriteAll(fd_, bytes.data(), bytes.size());
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

bool ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce) {
    const std::string target = ResolveLinks(path);
    const std::string folder = FolderPart(target);
    const std::string name = FileNamePart(target);
    if (name.empty()) {
        return false;
    }
    struct stat existing;
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        return false;
    }

    std::string temp = (folder.empty() ? "" : (folder == "/" ? folder : folder + "/")) +
                       TempPrefix(name) + "XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
        if (ok && ::geteuid() == 0) {
            [[maybe_unused]] int ignored = ::fchown(fd, existing.st_uid, existing.st_gid);
        }
    } else {
        ok = ::fchmod(fd, CreationMode()) == 0;
    }
    if (ok) {
        OutputFile out(fd);
        produce(out);
        ok = out.Flush();
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder);
    RemoveStaleTemps(folder, name, FileNamePart(temp));
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
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
