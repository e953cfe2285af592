#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A sectioned key=value profile file with the observable behaviour of the Windows private-profile
// functions. Every read and every write is one call that opens the file anew; nothing is cached.
// Bytes are kept as bytes: no encoding conversion anywhere.
namespace velloran {

// The longest value a read returns; longer values are cut.
inline constexpr std::size_t kProfileValueLimit = 2047;

// Where a profile file lives. A bare file name (no "/") goes to the user's configuration folder:
// $XDG_CONFIG_HOME when it is set to an absolute path, otherwise ~/.config. A name with a folder
// is used as it stands.
std::string ResolveProfilePath(std::string_view fileName);

// The value of key in section of the file, or fallback when the file, the section or the key is
// missing, or when the key's line has no "=". Section and key names are trimmed and compared
// regardless of case (A-Z); the first matching section and the first matching key in it decide.
// The value is trimmed of blanks and tabs, loses one pair of enclosing quotes (" or ') and is cut
// to kProfileValueLimit bytes.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view fallback, std::string_view fileName);

// Sets key in section to value. An existing key's line is rewritten in place as key=value, with
// the key's own spelling and the line's own line break; a new key goes after the last entry of its
// section; a new section is appended at the end of the file. Every other byte stays as it was.
// The folder is created when missing and the file is replaced atomically. False when the write
// cannot be done: folder or file not writable, disk full, an empty name, or a name or value that
// would not read back as written (CR or LF anywhere, "=" in the key, a key starting with "[").
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view fileName);

// Makes sure every write to the file is on disk. Writes are flushed before they return, so this
// has nothing left to do and always succeeds.
bool FlushProfile(std::string_view fileName);

// Reads an integer value: leading blanks (spaces, tabs) are skipped; then either a signed 32-bit
// decimal number with an optional "+" or "-", or 1 to 8 hexadecimal digits after "0x", "0X", "$",
// "x" or "X" (no sign; 80000000 and above read as negative). Anything else, trailing blanks and an
// empty text included, gives fallback.
int ParseProfileInt(std::string_view text, int fallback);

// ParseProfileInt applied to the value of key in section of the file.
int ReadProfileInt(std::string_view section, std::string_view key, int fallback,
                   std::string_view fileName);

}  // namespace velloran
