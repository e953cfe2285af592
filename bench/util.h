#pragma once

#include <cstddef>
#include <string>

namespace velloran::bench {

inline constexpr std::size_t kMiB = 1 << 20;

// A document of about `bytes` bytes with `sections` marker lines, lines of 40 to 100 bytes.
std::string MakeDocument(std::size_t bytes, int sections = 50);

// A fresh temporary folder for one benchmark, removed at exit.
std::string TempFolder();

}  // namespace velloran::bench
