#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velloran {

// A per-user folder named by an XDG base-directory variable: the variable's value when it is an
// absolute path, otherwise underHome inside the home folder ($HOME, else the user's entry in the
// password database). UserFolder("XDG_CONFIG_HOME", ".config") -> "/home/ann/.config".
std::string UserFolder(const char* variable, std::string_view underHome);

// Where the editor keeps what must outlive a run (old bytes secured during an in-place write,
// recovery records): $XDG_STATE_HOME/velloran, by default ~/.local/state/velloran.
std::string StateFolder();

// StateFolder(), or its subfolder sub, made when missing with mode 0700 (missing folders above it
// too, as the base-directory rules ask). An existing one of this user that others may enter is
// made 0700. Nothing when it cannot be made, is not a folder or belongs to another user: what is
// kept there is private text.
std::optional<std::string> MakeStateFolder(std::string_view sub = {});

// The permission bits of every file kept in the state folder: written there with
// ReplaceFile(path, produce, FileAccess{kStateFileMode}) they are replaced whole or not at all.
inline constexpr unsigned kStateFileMode = 0600;

}  // namespace velloran
