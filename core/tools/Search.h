#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Host.h"

namespace velloran {

// Case folding covers the letters A to Z alone; every other byte, those above 127 included,
// stays itself.
constexpr char FoldUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
constexpr char FoldLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Positions and counts are those of characters in the text's encoding (see Encoding). In UTF-8
// both texts are whole characters, so a byte match starts at a character and spans as many
// characters as searchText has; a searchText that is not UTF-8 is no characters and matches
// nowhere.

// Start positions at which searchText matches text ignoring A-Z case; overlapping matches each
// count. An empty searchText matches at every position, so it counts the characters plus one.
std::size_t CountMatches(std::string_view text, std::string_view searchText, Encoding encoding);

// A selection in a text, in bytes; length 0 is the caret alone, standing before position start.
struct Selection {
    std::size_t start = 0;
    std::size_t length = 0;
    friend bool operator==(const Selection&, const Selection&) = default;
};

// The next match of searchText in text after the current selection, as the selection to make.
// With text selected the scan begins one past the selection's start, so repeated searches step
// from match to match; with only a caret it begins at the caret, so a match there is found.
// The scan never wraps; nothing on a miss or for an empty searchText.
std::optional<Selection> FindNextMatch(std::string_view text, Selection current,
                                       std::string_view searchText, Encoding encoding);

// One row per section list entry: the matches in that entry's slot, four blanks, the title.
std::vector<std::string> SearchAllRows(const SectionSlots& slots, const SectionList& list,
                                       std::string_view searchText, Encoding encoding);

}  // namespace velloran
