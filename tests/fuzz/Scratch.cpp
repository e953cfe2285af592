#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Checks.h"

namespace velloran::fuzz {
namespace {

std::string MakeScratch() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    // Every check writes and syncs files; on a memory file system that costs next to nothing.
    if (::access("/dev/shm", W_OK | X_OK) == 0) {
        base = "/dev/shm";
    }
    std::string pattern = (base / "velloran-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    return pattern;
}

}  // namespace

const std::string& ScratchFolder() {
    static const std::string folder = MakeScratch();
    static const bool registered = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return true;
    }();
    (void)registered;
    return folder;
}

std::vector<std::string_view> RawLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        } else if (text[i] != '\r' && text[i] != '\n') {
            continue;
        }
        lines.push_back(text.substr(begin, i + 1 - begin));
        begin = i + 1;
    }
    if (begin < text.size()) {
        lines.push_back(text.substr(begin));
    }
    return lines;
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    for (std::string_view raw : RawLines(text)) {
        while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) {
            raw.remove_suffix(1);
        }
        lines.emplace_back(raw);
    }
    return lines;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace velloran::fuzz
