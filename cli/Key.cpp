#include "cli/Key.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "cli/Text.h"
#include "core/document/Error.h"
#include "core/protection/Seal.h"
#include "core/storage/DocumentFile.h"

namespace velloran::cli {
namespace {

constexpr std::size_t kLongestKey = 1 << 20;

// The terminal's settings while echo is off, put back by a signal that ends the program, so
// that an interrupted prompt does not leave the terminal silent.
int gTerminal = -1;
struct termios gSaved;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreTerminalAndEnd(int signal) {
    ::tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Reads up to the first line end, or the end of input. False on a read error.
bool ReadFirstLine(int fd, std::string& line, const std::string& source) {
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0 || c == '\n' || c == '\r') {
            return true;
        }
        if (line.size() == kLongestKey) {
            throw UsageError("the key in " + source + " is longer than 1 MiB");
        }
        line.push_back(c);
    }
}

class EchoOff {
  public:
    explicit EchoOff(int fd) {
        if (::tcgetattr(fd, &gSaved) != 0) {
            return;
        }
        gTerminal = fd;
        struct sigaction action {};
        action.sa_handler = RestoreTerminalAndEnd;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &action, &previous_[i]);
        }
        struct termios quiet = gSaved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL | ICANON;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        active_ = true;
    }
    ~EchoOff() {
        if (active_) {
            ::tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
            for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
                ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
            }
            gTerminal = -1;
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
    struct sigaction previous_[std::size(kEndingSignals)];
};

std::string FromTerminal(bool confirm) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        throw UsageError(
            "there is no terminal to type the key on: give --key-fd N or --key-file FILE");
    }
    std::string key;
    std::string again;
    bool ok = true;
    {
        EchoOff quiet(tty);
        auto ask = [&](std::string_view prompt, std::string& into) {
            ok = ok && ::write(tty, prompt.data(), prompt.size()) >= 0 &&
                 ReadFirstLine(tty, into, "the terminal");
        };
        ask("Encript Key: ", key);
        if (confirm) {
            ask("Encript Key again: ", again);
        }
    }
    ::close(tty);
    const bool differ = confirm && again != key;
    Wipe(again);
    if (!ok) {
        throw Error(Format(kCannotOpen, "/dev/tty"));
    }
    if (differ) {
        throw UsageError("the two keys typed differ");
    }
    return key;
}

std::string FromDescriptor(int fd) {
    std::string key;
    if (!ReadFirstLine(fd, key, "descriptor " + std::to_string(fd))) {
        throw Error("Cannot read the key from file descriptor " + std::to_string(fd));
    }
    return key;
}

std::string FromFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw Error(Format(kCannotOpen, path));
    }
    // A key file that another user owns or may change could hold that user's key, so that what
    // it enciphers or seals is theirs to read.
    const std::string ownerAlone = ": allow its owner alone (chmod 600 " + path + ")";
    std::string refusal;
    if (st.st_uid != ::geteuid()) {
        refusal = " belongs to another user: use a key file of your own";
    } else if (st.st_mode & (S_IRGRP | S_IROTH)) {
        refusal = " can be read by other users" + ownerAlone;
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        refusal = " can be changed by other users" + ownerAlone;
    }
    if (!refusal.empty()) {
        ::close(fd);
        throw UsageError("the key file " + path + refusal);
    }
    std::string key;
    bool ok = false;
    try {
        ok = ReadFirstLine(fd, key, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (!ok) {
        throw Error(Format(kCannotOpen, path));
    }
    return key;
}

}  // namespace

std::string ReadKey(const Arguments& args, bool confirm) {
    switch (args.keySource) {
        case KeySource::Descriptor:
            return FromDescriptor(args.keyDescriptor);
        case KeySource::File:
            return FromFile(args.keyFile);
        case KeySource::None:
        case KeySource::Terminal:
            break;
    }
    return FromTerminal(confirm);
}

std::string ReadCipherKey(const Arguments& args, bool confirm) {
    // Keys stay in the code page, whatever the document's encoding turns out to be.
    return TextForm(args.utf8, Encoding::Windows1252).In(ReadKey(args, confirm), "the key");
}

}  // namespace velloran::cli
