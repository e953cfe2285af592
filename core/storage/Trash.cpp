#include "core/storage/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

struct TrashFolder {
    UniqueFd files;
    UniqueFd info;
    std::string path;
    // The folder the record's path is told relative to: empty for the home trash, whose records
    // hold absolute paths.
    std::string top;
};

// sub in parent, made private when missing, when it is a folder of the user's own.
int OwnFolderMadeAt(int parent, const std::string& sub) {
    ::mkdirat(parent, sub.c_str(), 0700);
    return OpenOwnFolderAt(parent, sub);
}

// Opens files/ and info/ of the trash held open at trash.
std::optional<TrashFolder> TrashAt(int trash, std::string path, std::string top) {
    TrashFolder folder{UniqueFd(OwnFolderMadeAt(trash, "files")),
                       UniqueFd(OwnFolderMadeAt(trash, "info")), std::move(path), std::move(top)};
    if (!folder.files || !folder.info) {
        return std::nullopt;
    }
    return folder;
}

// The device of path, or of the nearest folder above it that exists.
dev_t DeviceOf(std::string path) {
    struct stat st;
    while (::stat(path.c_str(), &st) != 0) {
        const std::string up = FolderPart(path);
        if (up.empty() || up == path) {
            return static_cast<dev_t>(-1);
        }
        path = up;
    }
    return st.st_dev;
}

std::optional<TrashFolder> HomeTrash(const std::string& data) {
    if (!MakeFolders(data, 0700)) {
        return std::nullopt;
    }
    const UniqueFd base(::open(data.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const UniqueFd trash(base ? OwnFolderMadeAt(base.get(), "Trash") : -1);
    return trash ? TrashAt(trash.get(), data + "/Trash", {}) : std::nullopt;
}

// The folder at the top of the file system that folder (absolute) is on.
std::string TopOf(std::string folder, dev_t device) {
    while (folder != "/") {
        std::string up = FolderPart(folder);
        if (up.empty()) {
            up = "/";
        }
        struct stat st;
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != device) {
            break;
        }
        folder = up;
    }
    return folder;
}

// At the top of another file system: the shared ".Trash" when it is a sticky folder and no link,
// with a folder of the user's own in it, else ".Trash-UID" of the user's own.
std::optional<TrashFolder> TopTrash(const std::string& top) {
    const UniqueFd topFd(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!topFd) {
        return std::nullopt;
    }
    const std::string uid = std::to_string(::geteuid());
    const std::string prefix = top == "/" ? std::string() : top;
    const UniqueFd shared(::openat(topFd.get(), ".Trash", O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (shared && ::fstat(shared.get(), &st) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX) != 0) {
        const UniqueFd own(OwnFolderMadeAt(shared.get(), uid));
        if (own) {
            if (auto folder = TrashAt(own.get(), prefix + "/.Trash/" + uid, top)) {
                return folder;
            }
        }
    }
    const UniqueFd own(OwnFolderMadeAt(topFd.get(), ".Trash-" + uid));
    return own ? TrashAt(own.get(), prefix + "/.Trash-" + uid, top) : std::nullopt;
}

// A path as the record holds it: every byte but the unreserved ones and "/" as %XX.
std::string Escaped(const std::string& path) {
    std::string out;
    for (const unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string RecordOf(const TrashFolder& trash, const std::string& path) {
    std::string told = path;
    if (!trash.top.empty()) {
        told = path.substr(trash.top == "/" ? 1 : trash.top.size() + 1);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + Escaped(told) + "\nDeletionDate=" + date + "\n";
}

// "June.vlp", then "June.2.vlp", "June.3.vlp" … for names the trash holds already.
std::string NumberedName(const std::string& name, int n) {
    if (n < 2) {
        return name;
    }
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return name + "." + std::to_string(n);
    }
    return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

}  // namespace

std::optional<std::string> MoveToTrash(int folder, const std::string& name, int fd,
                                       const std::string& path, std::string& why) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    // A home trash that cannot be used is no reason to put the file at the top of the disk.
    const std::string data = UserFolder("XDG_DATA_HOME", ".local/share");
    const std::optional<TrashFolder> trash = DeviceOf(data) == st.st_dev
                                                 ? HomeTrash(data)
                                                 : TopTrash(TopOf(FolderPart(path), st.st_dev));
    if (!trash) {
        why = "no trash of your own could be made on its file system";
        return std::nullopt;
    }
    const std::string record = RecordOf(*trash, path);
    for (int n = 1; n <= 100; ++n) {
        const std::string target = NumberedName(name, n);
        const std::string infoName = target + ".trashinfo";
        // The record is made first and exclusively: it holds the name against another program
        // trashing a file of the same name at the same moment.
        const UniqueFd info(::openat(trash->info.get(), infoName.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!info) {
            if (errno == EEXIST) {
                continue;
            }
            why = std::strerror(errno);
            return std::nullopt;
        }
        const auto forget = [&] { ::unlinkat(trash->info.get(), infoName.c_str(), 0); };
        if (!WriteAll(info.get(), record.data(), record.size()) || ::fsync(info.get()) != 0) {
            why = std::strerror(errno);
            forget();
            return std::nullopt;
        }
        if (::renameat2(folder, name.c_str(), trash->files.get(), target.c_str(),
                        RENAME_NOREPLACE) != 0) {
            const int error = errno;
            forget();
            if (error == EEXIST) {
                continue;
            }
            why = std::strerror(error);
            return std::nullopt;
        }
        // Another user may have put something else under the copy's name since it was read:
        // that goes back where it was, unread.
        if (!SameFile(fd, trash->files.get(), target)) {
            ::renameat2(trash->files.get(), target.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
            forget();
            why = "another file took its place in the folder";
            return std::nullopt;
        }
        SyncFolder(trash->files.get());
        SyncFolder(folder);
        return trash->path + "/files/" + target;
    }
    why = std::strerror(EEXIST);
    return std::nullopt;
}

}  // namespace velloran
