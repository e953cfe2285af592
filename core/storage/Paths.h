#pragma once

#include <string>

namespace velloran {

// path made absolute, its folder without symbolic links or "..", where it exists.
std::string AbsolutePath(const std::string& path);

}  // namespace velloran
