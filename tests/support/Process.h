#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace velloran::testing {

struct ProcessResult {
    int status = -1;  // the exit status, or 128 + the signal that ended the process
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string folder = ".";
    // Given on file descriptor 3 through a pipe, closed after it.
    std::optional<std::string> descriptor3;
    // Standard output goes to this file instead of being collected.
    std::optional<std::string> outputFile;
    // The locale the program runs in (LC_ALL), none when empty.
    std::string locale;
    // More of the environment, "NAME=value" each.
    std::vector<std::string> environment;
};

// The argument vector for exec: the program, then args.
class ArgVector {
  public:
    ArgVector(const std::string& program, const std::vector<std::string>& args)
        : strings_{program} {
        strings_.insert(strings_.end(), args.begin(), args.end());
        for (auto& a : strings_) {
            pointers_.push_back(a.data());
        }
        pointers_.push_back(nullptr);
    }
    char* const* get() const { return pointers_.data(); }

  private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// In a child: a session of its own, so that no terminal of the tests' is its terminal, in folder.
inline void Detach(const std::string& folder) {
    ::setsid();
    if (::chdir(folder.c_str()) != 0) {
        ::_exit(125);
    }
}

// Runs program with args in a session of its own, so that it has no controlling terminal, and
// with a bare environment: no display, no locale unless one is given, nothing from the user who
// runs the tests.
inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const ProcessOptions& options = {}) {
    int out[2];
    int err[2];
    int in3[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        (options.descriptor3 && ::pipe2(in3, O_CLOEXEC) != 0)) {
        return {};
    }
    const ArgVector argv(program, args);
    std::string home = "HOME=" + options.folder;
    char path[] = "PATH=/usr/bin:/bin";
    std::string locale = "LC_ALL=" + options.locale;
    std::vector<std::string> more = options.environment;
    std::vector<char*> envp{path, home.data()};
    if (!options.locale.empty()) {
        envp.push_back(locale.data());
    }
    for (std::string& variable : more) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    // A program that ends before reading descriptor 3 must not take the tests down with it.
    ::signal(SIGPIPE, SIG_IGN);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        Detach(options.folder);
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        if (options.outputFile) {
            int file = ::open(options.outputFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(file, 1);
        } else {
            ::dup2(out[1], 1);
        }
        ::dup2(err[1], 2);
        if (options.descriptor3) {
            ::dup2(in3[0], 3);
        }
        ::execve(program.c_str(), argv.get(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (options.descriptor3) {
        ::close(in3[0]);
        [[maybe_unused]] ssize_t w =
            ::write(in3[1], options.descriptor3->data(), options.descriptor3->size());
        ::close(in3[1]);
    }
    ProcessResult result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents) {
                char buf[65536];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    into[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Runs program with a terminal of its own as its controlling terminal, standard input and
// standard error, its standard output going to the file "out" in folder, and types each answer
// once its prompt shows. Returns everything the terminal showed.
inline std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& folder,
                                 const std::vector<std::pair<std::string, std::string>>& answers,
                                 int& status) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master);
    ::unlockpt(master);
    const std::string slave = ::ptsname(master);
    const ArgVector argv(program, args);
    const pid_t pid = ::fork();
    if (pid == 0) {
        Detach(folder);
        const int tty = ::open(slave.c_str(), O_RDWR);  // becomes the controlling terminal
        const int out = ::open("out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(tty, 0);
        ::dup2(out, 1);
        ::dup2(tty, 2);
        ::execv(program.c_str(), argv.get());
        ::_exit(127);
    }
    std::string shown;
    std::size_t next = 0;
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 20000) <= 0) {
            break;  // a prompt that never comes fails the comparisons below
        }
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            break;  // the program ended and closed the terminal
        }
        shown.append(buf, static_cast<std::size_t>(n));
        if (next < answers.size() && shown.ends_with(answers[next].first)) {
            const std::string typed = answers[next++].second + "\n";
            [[maybe_unused]] ssize_t w = ::write(master, typed.data(), typed.size());
        }
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    ::close(master);
    return shown;
}

}  // namespace velloran::testing
