#include "core/document/Error.h"

namespace velloran {

std::string Format(std::string_view message, std::string_view argument) {
    std::string out(message);
    if (auto at = out.find("%s"); at != std::string::npos) {
        out.replace(at, 2, argument);
    }
    return out;
}

}  // namespace velloran
