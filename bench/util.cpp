#include "util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace velloran::bench {

std::string MakeDocument(std::size_t bytes, int sections) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> length(40, 100);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string out;
    out.reserve(bytes + 200);
    const std::size_t perSection = bytes / static_cast<std::size_t>(sections + 1);
    int opened = 0;
    std::size_t nextMarker = perSection;
    while (out.size() < bytes) {
        if (opened < sections && out.size() >= nextMarker) {
            ++opened;
            out += "[S] Chapter " + std::to_string(opened) + "\r\n";
            nextMarker += perSection;
            continue;
        }
        int n = length(rng);
        for (int i = 0; i < n; ++i) {
            out.push_back(i % 7 == 6 ? ' ' : static_cast<char>(letter(rng)));
        }
        out += "\r\n";
    }
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempFolder() {
    static std::vector<std::filesystem::path> made;
    static struct Cleanup {
        ~Cleanup() {
            for (auto& p : made) {
                std::error_code ec;
                std::filesystem::remove_all(p, ec);
            }
        }
    } cleanup;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velloran-bench-XXXXXX").string();
    char* made_path = mkdtemp(pattern.data());
    made.emplace_back(made_path);
    return made_path;
}

double RunProcess(std::vector<std::string> argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        ::waitpid(pid, &status, 0);
    }
    const double seconds = SecondsSince(t0);
    posix_spawn_file_actions_destroy(&actions);
    return status == 0 ? seconds : -1;
}

}  // namespace velloran::bench
