#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace velloran {

// A failure that ends the command in which it occurs; what() is the exact text the user sees.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::string_view kUnableToWrite = "Unable to write to %s";

// Fills the one "%s" of a message template with a path or name.
std::string Format(std::string_view message, std::string_view argument);

}  // namespace velloran
