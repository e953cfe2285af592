#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Permissions only bind an ordinary user, and the tests run as root: the cases that need one run
// in a child process that has become nobody.
namespace velloran::testing {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNoGroup = 65534;
inline constexpr gid_t kOtherGroup = 100;  // "users", a group nobody is not in unless given

// Whether this process may become another user: the permission cases are skipped otherwise.
inline bool CanDropPrivileges() {
    return ::geteuid() == 0;
}

// Runs check in a child process that has become nobody (group nogroup, with extraGroups as its
// only supplementary groups). What check returns, an empty text when all went well and otherwise
// what went wrong, comes back through a pipe; or how the child ended when it did not say.
inline std::string AsNobody(const std::function<std::string()>& check,
                            const std::vector<gid_t>& extraGroups = {}) {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        std::string said = "could not become nobody";
        if (::setgroups(extraGroups.size(), extraGroups.data()) == 0 && ::setgid(kNoGroup) == 0 &&
            ::setuid(kNobody) == 0) {
            try {
                said = check();
            } catch (const std::exception& e) {
                said = std::string("threw ") + e.what();
            }
        }
        const char* p = said.data();
        for (std::size_t left = said.size(); left > 0;) {
            const ssize_t w = ::write(pipe[1], p, left);
            if (w <= 0) {
                break;
            }
            p += w;
            left -= static_cast<std::size_t>(w);
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string said;
    char chunk[256];
    for (ssize_t r; (r = ::read(pipe[0], chunk, sizeof chunk)) > 0;) {
        said.append(chunk, static_cast<std::size_t>(r));
    }
    ::close(pipe[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return "no child";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "the child ended with status " + std::to_string(status);
    }
    return said;
}

// Gives path to owner:group with mode; false when it cannot.
inline bool Give(const std::string& path, uid_t owner, gid_t group, mode_t mode) {
    return ::chown(path.c_str(), owner, group) == 0 && ::chmod(path.c_str(), mode) == 0;
}

// Points an environment variable elsewhere for as long as this lives.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace velloran::testing
