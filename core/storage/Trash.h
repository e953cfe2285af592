#pragma once

#include <optional>
#include <string>

namespace velloran {

// Moves name in folder, which must still be the file open at fd, into the user's trash as the
// desktop's file managers keep it (the home trash under $XDG_DATA_HOME/Trash when the file is on
// its file system, else the trash at the top of the file's own), with the record that lets a file
// manager put it back at path, its absolute path. Every folder of the trash is the user's own and
// reached without following links; the file is never moved over another, and when something else
// took its name meanwhile, that goes back unread. Its path in the trash, or nothing with why
// saying what stopped it.
std::optional<std::string> MoveToTrash(int folder, const std::string& name, int fd,
                                       const std::string& path, std::string& why);

}  // namespace velloran
