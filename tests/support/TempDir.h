#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velloran::testing {

// A temporary folder removed with everything in it when the test ends.
class TempDir {
  public:
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
        std::string pattern = (base / "velloran-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }

    // On a memory file system where there is one: for tests whose disk syncs add only waiting.
    static std::filesystem::path MemoryBase() {
        if (::access("/dev/shm", W_OK | X_OK) == 0) {
            return "/dev/shm";
        }
        return std::filesystem::temp_directory_path();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Names in the folder, for checking that no temporary file was left behind.
    std::size_t EntryCount() const {
        auto it = std::filesystem::directory_iterator(path_);
        return static_cast<std::size_t>(std::distance(it, std::filesystem::directory_iterator{}));
    }

  private:
    std::string path_;
};

// A temporary folder made the current folder, with its own configuration folder "config" as
// XDG_CONFIG_HOME, state folder "state" as XDG_STATE_HOME and data folder "data" (the trash, the
// personal dictionary) as XDG_DATA_HOME, for tests that run the program as a user starts it.
class WorkFolder : public TempDir {
  public:
    WorkFolder() {
        char here[4096];
        previous_ = ::getcwd(here, sizeof here) ? here : "/";
        ::mkdir((*this / "config").c_str(), 0700);
        ::setenv("XDG_CONFIG_HOME", (*this / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (*this / "state").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (*this / "data").c_str(), 1);
        [[maybe_unused]] int ignored = ::chdir(path().c_str());
    }
    ~WorkFolder() { [[maybe_unused]] int ignored = ::chdir(previous_.c_str()); }

  private:
    std::string previous_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte value but CR and LF, the ones a line can hold.
inline std::string AllLineBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            s.push_back(static_cast<char>(b));
        }
    }
    return s;
}

}  // namespace velloran::testing
