#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velloran::spelling {

// The writer's own words, shared by every document: $XDG_DATA_HOME/velloran/words, by default
// ~/.local/share/velloran/words, UTF-8 with one word a line.
std::string PersonalDictionaryPath();

// The words of the file at path: its lines without their line breaks, blanks around them and
// lines that are empty or not UTF-8 left out. None when there is no file.
std::vector<std::string> ReadPersonalWords(const std::string& path);

// Adds word as a new last line of the file at path, replacing the file whole once the new one
// is on disk; every line it had, also one it cannot read, stays as it was. Words that another
// editor added meanwhile are kept, since the file is read afresh first. A new file is private
// to the user (0600), its folder made when missing. Throws Error "Unable to write to PATH".
void AddPersonalWord(const std::string& path, std::string_view word);

}  // namespace velloran::spelling
