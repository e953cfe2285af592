#include "core/spelling/SpellerServer.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "core/document/Error.h"
#include "core/spelling/Speller.h"
#include "core/spelling/SpellerProtocol.h"
#include "core/storage/FileIO.h"

namespace velloran::spelling {
namespace {

namespace p = protocol;

// All n bytes, or false at the end of the input or on a failure.
bool ReadAll(int fd, char* to, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::read(fd, to, n);
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

bool ReadFrame(int fd, std::string& payload) {
    char head[4];
    if (!ReadAll(fd, head, sizeof head)) {
        return false;
    }
    std::string_view h(head, sizeof head);
    const std::uint32_t n = *p::TakeU32(h);
    if (n > p::kMostFrame) {
        return false;
    }
    payload.resize(n);
    return ReadAll(fd, payload.data(), n);
}

bool Send(int fd, std::string_view payload) {
    const std::string frame = p::Framed(payload);
    return WriteAll(fd, frame.data(), frame.size());
}

// The answer to one request, or nothing when it is none the editor sends.
std::optional<std::string> Answer(Speller& speller, std::string_view request) {
    if (request.empty()) {
        return std::nullopt;
    }
    const char op = request.front();
    request.remove_prefix(1);
    switch (op) {
        case p::kCheck:
            return std::string(1, speller.Check(request) ? '\1' : '\0');
        case p::kCheckAll: {
            std::string out;
            while (!request.empty()) {
                const auto n = p::TakeU32(request);
                if (!n || *n > request.size() || out.size() >= p::kMostBatch) {
                    return std::nullopt;
                }
                out.push_back(speller.Check(request.substr(0, *n)) ? '\1' : '\0');
                request.remove_prefix(*n);
            }
            return out;
        }
        case p::kAdd:
            speller.Add(request);
            return std::string();
        case p::kSuggest: {
            const auto most = p::TakeU32(request);
            if (!most) {
                return std::nullopt;
            }
            const auto list =
                speller.Suggest(request, std::min<std::size_t>(*most, p::kMostSuggestions));
            std::string out;
            p::PutU32(out, static_cast<std::uint32_t>(list.size()));
            for (const std::string& s : list) {
                const std::string_view word = std::string_view(s).substr(0, p::kMostWord);
                p::PutU32(out, static_cast<std::uint32_t>(word.size()));
                out.append(word);
            }
            return out;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

int ServeSpeller(int fd, const char* aff, const char* dic) {
    // An editor gone away is the end of the work, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<Speller> speller;
    try {
        speller = std::make_unique<Speller>(Dictionary{"", aff, dic});
    } catch (const std::exception& e) {
        Send(fd, std::string(1, p::kRefused) + e.what());
        return 0;
    }
    std::string ready(1, p::kReady);
    const std::uint64_t scripts = speller->Covered().Bits();
    p::PutU32(ready, static_cast<std::uint32_t>(scripts & 0xFFFFFFFF));
    p::PutU32(ready, static_cast<std::uint32_t>(scripts >> 32));
    if (!Send(fd, ready)) {
        return 1;
    }
    std::string request;
    while (ReadFrame(fd, request)) {
        const auto answer = Answer(*speller, request);
        if (!answer || !Send(fd, *answer)) {
            return 1;
        }
    }
    return 0;
}

}  // namespace velloran::spelling
