#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace velloran::bench {

inline constexpr std::size_t kMiB = 1 << 20;

// A document of about `bytes` bytes with `sections` marker lines, lines of 40 to 100 bytes.
std::string MakeDocument(std::size_t bytes, int sections = 50);

// A fresh temporary folder for one benchmark, removed at exit.
std::string TempFolder();

// Writes bytes to a new file at path.
void WriteFile(const std::string& path, const std::string& bytes);

using Clock = std::chrono::steady_clock;
inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds from starting the program argv[0] to its end, its output thrown away; -1 when it
// failed.
double RunProcess(std::vector<std::string> argv);

}  // namespace velloran::bench
