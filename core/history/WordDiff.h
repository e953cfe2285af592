#pragma once

// Differences between two versions of a text, word by word, for the History window and
// velloran-cli history --diff. The cost is bounded whatever the texts: lines are compared first,
// the changed lines word by word, and where a stretch would cost too much to compare (two wholly
// different texts), it is given as lines removed and lines added.

#include <cstddef>
#include <string_view>
#include <vector>

namespace velloran {

enum class DiffKind : unsigned char { Same, Deleted, Inserted };

// A stretch of the old text (Same, Deleted) or of the new one (Inserted), as a view of it.
struct DiffPiece {
    DiffKind kind = DiffKind::Same;
    std::string_view text;
};

struct TextDiff {
    // In reading order: the old text is the Same and Deleted pieces, the new one the Same and
    // Inserted pieces.
    std::vector<DiffPiece> pieces;
    std::size_t wordsAdded = 0;
    std::size_t wordsRemoved = 0;
    // Some stretch was compared by lines only, being too costly to compare word by word.
    bool byLines = false;
};

TextDiff DiffWords(std::string_view before, std::string_view after);

}  // namespace velloran
