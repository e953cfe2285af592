#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace velloran {

// A failure that ends the command in which it occurs; what() is the exact text the user sees.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    // detail: why, in the system's words ("No space left on device"), shown beside the message.
    Error(const std::string& message, std::string detail)
        : std::runtime_error(message), detail_(std::move(detail)) {}

    // Empty when there is nothing to add to the message.
    const std::string& detail() const { return detail_; }

  private:
    std::string detail_;
};

inline constexpr std::string_view kUnableToWrite = "Unable to write to %s";

// Fills the one "%s" of a message template with a path or name.
std::string Format(std::string_view message, std::string_view argument);

}  // namespace velloran
