#include "core/spelling/SpellerProcess.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "core/document/Error.h"
#include "core/spelling/SpellerProtocol.h"

extern char** environ;

namespace velloran::spelling {
namespace {

namespace p = protocol;
using Clock = std::chrono::steady_clock;

bool Executable(const std::string& path) {
    return IsRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// The socket is written with MSG_NOSIGNAL rather than through storage's WriteAll: a helper gone
// must be an answer that fails, never a SIGPIPE that ends the editor.
bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// n bytes by the deadline; false when the helper closed its end, failed or took too long.
bool ReceiveAll(int fd, char* to, std::size_t n, Clock::time_point deadline) {
    while (n > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready =
            ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t r = ::recv(fd, to, n, 0);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        to += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

std::string WithOp(char op, std::string_view word) {
    std::string out(1, op);
    out.append(word);
    return out;
}

}  // namespace

std::string SpellerHelperPath() {
    constexpr std::string_view kName = "velloran-speller";
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string folder = Parent(std::string(self, static_cast<std::size_t>(n)));
        if (const std::string beside = folder + "/" + std::string(kName); Executable(beside)) {
            return beside;
        }
        for (int up = 0; up < 3 && folder != "/"; ++up) {
            folder = Parent(folder);
            const std::string there =
                (folder == "/" ? "" : folder) + "/libexec/velloran/" + std::string(kName);
            if (Executable(there)) {
                return there;
            }
        }
    }
#ifdef VELLORAN_SPELLER_INSTALLED
    if (Executable(VELLORAN_SPELLER_INSTALLED)) {
        return VELLORAN_SPELLER_INSTALLED;
    }
#endif
    return {};
}

SpellerProcess::SpellerProcess(const Dictionary& dictionary, std::string helper, SpellerTimes times)
    : dictionary_(dictionary), helper_(std::move(helper)), times_(times) {
    if (helper_.empty() || !Executable(helper_)) {
        throw Error(std::string(kSpellerMissing));
    }
    if (!Start() && !(++restarts_, Start())) {
        Stop();
        throw Error(Format(kSpellerStopped, dictionary_.dic));
    }
}

SpellerProcess::~SpellerProcess() {
    Stop();
}

bool SpellerProcess::Start() {
    Stop();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return false;
    }
    socket_.Reset(pair[0]);
    // Above the standard three, so that the copy onto the helper's input is a real one, which
    // clears close-on-exec, whatever descriptors this process had free.
    const UniqueFd theirs(::fcntl(pair[1], F_DUPFD_CLOEXEC, 3));
    ::close(pair[1]);
    if (!theirs) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
    // Hunspell's complaints go to standard error; standard output is the command line's.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string program = helper_;
    std::string aff = dictionary_.aff;
    std::string dic = dictionary_.dic;
    char* argv[] = {program.data(), aff.data(), dic.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, helper_.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return false;
    }
    pid_ = pid;
    const auto ready = Exchange({}, times_.open);
    if (!ready || ready->empty()) {
        return false;
    }
    std::string_view answer(*ready);
    const char kind = answer.front();
    answer.remove_prefix(1);
    if (kind == p::kRefused) {
        Stop();
        throw Error(std::string(answer));
    }
    const auto low = p::TakeU32(answer);
    const auto high = p::TakeU32(answer);
    if (kind != p::kReady || !low || !high || !answer.empty()) {
        return false;
    }
    scripts_ = Scripts::FromBits(std::uint64_t{*high} << 32 | *low);
    for (const std::string& word : added_) {
        if (!Exchange(p::Framed(WithOp(p::kAdd, word)), times_.answer)) {
            return false;
        }
    }
    return true;
}

void SpellerProcess::Stop() {
    socket_.Reset();
    if (pid_ > 0) {
        // Nothing of the helper's is worth waiting for: it holds no state of its own.
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &lastStatus_, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
}

std::optional<std::string> SpellerProcess::Exchange(std::string_view request,
                                                    std::chrono::milliseconds within) {
    if (!socket_ || (!request.empty() && !SendAll(socket_.get(), request))) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + within;
    char head[4];
    if (!ReceiveAll(socket_.get(), head, sizeof head, deadline)) {
        return std::nullopt;
    }
    std::string_view h(head, sizeof head);
    const std::uint32_t n = *p::TakeU32(h);
    if (n > p::kMostFrame) {
        return std::nullopt;
    }
    std::string answer(n, '\0');
    if (!ReceiveAll(socket_.get(), answer.data(), n, deadline)) {
        return std::nullopt;
    }
    return answer;
}

void SpellerProcess::GiveUp() {
    Stop();
    failure_ = Format(kSpellerStopped, dictionary_.dic);
}

std::optional<std::string> SpellerProcess::Ask(const std::string& request) {
    if (!failure_.empty()) {
        return std::nullopt;
    }
    const std::string frame = p::Framed(request);
    for (;;) {
        if (auto answer = Exchange(frame, times_.answer)) {
            return answer;
        }
        // Died, hung or answering nonsense: once more with a fresh one, then no more.
        if (restarts_ >= 1) {
            GiveUp();
            return std::nullopt;
        }
        ++restarts_;
        bool started = false;
        try {
            started = Start();
        } catch (const Error&) {
            // Refused now what it opened before: the files changed under it.
        }
        if (!started) {
            GiveUp();
            return std::nullopt;
        }
    }
}

bool SpellerProcess::Check(std::string_view word) {
    if (word.empty() || word.size() > p::kMostWord || !scripts_.Cover(word)) {
        return true;
    }
    const auto answer = Ask(WithOp(p::kCheck, word));
    if (answer && answer->size() != 1) {
        GiveUp();
    }
    return !answer || answer->size() != 1 || (*answer)[0] == '\1';
}

std::vector<bool> SpellerProcess::CheckAll(const std::vector<std::string>& words) {
    std::vector<bool> out(words.size(), true);
    for (std::size_t from = 0; from < words.size(); from += p::kMostBatch) {
        const std::size_t to = std::min(words.size(), from + p::kMostBatch);
        std::string request(1, p::kCheckAll);
        std::vector<std::size_t> asked;
        for (std::size_t i = from; i < to; ++i) {
            const std::string& word = words[i];
            if (!word.empty() && word.size() <= p::kMostWord && scripts_.Cover(word)) {
                p::PutU32(request, static_cast<std::uint32_t>(word.size()));
                request.append(word);
                asked.push_back(i);
            }
        }
        if (asked.empty()) {
            continue;
        }
        const auto answer = Ask(request);
        if (!answer) {
            return std::vector<bool>(words.size(), true);
        }
        if (answer->size() != asked.size()) {
            GiveUp();
            return std::vector<bool>(words.size(), true);
        }
        for (std::size_t k = 0; k < asked.size(); ++k) {
            out[asked[k]] = (*answer)[k] == '\1';
        }
    }
    return out;
}

std::vector<std::string> SpellerProcess::Suggest(std::string_view word, std::size_t max) {
    std::vector<std::string> out;
    if (word.empty() || word.size() > p::kMostWord || !scripts_.Cover(word) || max == 0) {
        return out;
    }
    std::string request(1, p::kSuggest);
    p::PutU32(request, static_cast<std::uint32_t>(std::min(max, p::kMostSuggestions)));
    request.append(word);
    const auto answer = Ask(request);
    if (!answer) {
        return out;
    }
    std::string_view in(*answer);
    const auto count = p::TakeU32(in);
    bool whole = count && *count <= std::min(max, p::kMostSuggestions);
    for (std::uint32_t i = 0; whole && i < *count; ++i) {
        const auto n = p::TakeU32(in);
        whole = n && *n <= p::kMostWord && *n <= in.size();
        if (whole) {
            out.emplace_back(in.substr(0, *n));
            in.remove_prefix(*n);
        }
    }
    if (!whole || !in.empty()) {
        GiveUp();
        out.clear();
    }
    return out;
}

void SpellerProcess::Add(std::string_view word) {
    if (word.empty() || word.size() > p::kMostWord) {
        return;
    }
    added_.emplace_back(word);
    Ask(WithOp(p::kAdd, word));
}

}  // namespace velloran::spelling
