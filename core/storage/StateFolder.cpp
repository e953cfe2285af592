#include "core/storage/StateFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace velloran
