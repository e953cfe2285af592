#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct stat;

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

// What is read back from the state folder is held to the rules it was written by: a folder or
// file there is trusted only when it belongs to this user (the effective one) and no one else
// may read, write or enter it. Another user who could plant a file there would otherwise choose
// what is put back into the user's files, or offered as unsaved changes.
bool IsPrivate(const struct stat& st);

// The folder at path, not through a symbolic link, opened for reaching what it holds relative to
// the descriptor (openat), when it is a folder that IsPrivate holds; -1 otherwise, with errno
// ENOENT when nothing is there and EPERM when what is there is not such a folder.
int OpenPrivateFolder(const std::string& path);

// True when path, not through a symbolic link, is a regular file that IsPrivate holds.
bool IsPrivateFile(const std::string& path);

// The bytes of the regular file at path, not through a symbolic link, when IsPrivate holds it and
// it is no larger than maxBytes; nothing otherwise.
std::optional<std::string> ReadPrivateFile(const std::string& path, std::size_t maxBytes);

}  // namespace velloran
