#include "core/storage/StateFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/storage/FileIO.h"

namespace velloran {
namespace {

std::string HomeFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] != '\0') {
        home = env;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    while (!home.empty() && home.back() == '/') {
        home.pop_back();
    }
    return home;
}

// A folder of this user that only this user may enter.
bool MakePrivate(const std::string& folder) {
    struct stat st;
    if (!MakeFolders(folder, 0700) || ::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return false;
    }
    return (st.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

std::string UserFolder(const char* variable, std::string_view underHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') {
        return value;
    }
    return HomeFolder() + "/" + std::string(underHome);
}

std::string StateFolder() {
    std::string base = UserFolder("XDG_STATE_HOME", ".local/state");
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return (base == "/" ? base : base + "/") + "velloran";
}

std::optional<std::string> MakeStateFolder(std::string_view sub) {
    std::string folder = StateFolder();
    if (!MakePrivate(folder)) {
        return std::nullopt;
    }
    if (!sub.empty()) {
        folder += "/";
        folder += sub;
        if (!MakePrivate(folder)) {
            return std::nullopt;
        }
    }
    return folder;
}

bool IsPrivate(const struct stat& st) {
    return st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0;
}

int OpenPrivateFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            errno = EPERM;  // a link, or not a folder
        }
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || !IsPrivate(st)) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool IsPrivateFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && IsPrivate(st);
}

std::optional<std::string> ReadPrivateFile(const std::string& path, std::size_t maxBytes) {
    // Checked before it is opened, so that nothing but a regular file is ever opened (a device
    // could act on being opened), and again once open, where no rename can change it any more.
    if (!IsPrivateFile(path)) {
        return std::nullopt;
    }
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !IsPrivate(st) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[16 << 10];
    for (;;) {
        const ssize_t r = ::read(fd.get(), chunk, sizeof chunk);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 || bytes.size() + static_cast<std::size_t>(r) > maxBytes) {
            return std::nullopt;
        }
        if (r == 0) {
            return bytes;
        }
        bytes.append(chunk, static_cast<std::size_t>(r));
    }
}

}  // namespace velloran
