#pragma once

#include <optional>

namespace velloran {

// Permission bits (and group) that a written file is to have, whatever the file it replaces had:
// a backup shows no more than the document it copies.
struct FileAccess {
    unsigned mode = 0;  // permission bits
    // The group to give the file; where it cannot be given, the group gets what others get.
    std::optional<unsigned> group;
};

}  // namespace velloran
