#pragma once

#include <fcntl.h>
#include <poll.h>
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
};

// Runs program with args in a session of its own, so that it has no controlling terminal, and
// with a bare environment: no display, no locale, nothing from the user who runs the tests.
inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const ProcessOptions& options = {}) {
    int out[2];
    int err[2];
    int in3[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        (options.descriptor3 && ::pipe2(in3, O_CLOEXEC) != 0)) {
        return {};
    }
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::string home = "HOME=" + options.folder;
    char path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {path, home.data(), nullptr};

    // A program that ends before reading descriptor 3 must not take the tests down with it.
    ::signal(SIGPIPE, SIG_IGN);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::setsid();
        if (::chdir(options.folder.c_str()) != 0) {
            ::_exit(125);
        }
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
        ::execve(program.c_str(), argv.data(), envp);
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

}  // namespace velloran::testing
