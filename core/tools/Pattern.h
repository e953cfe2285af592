#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/tools/Search.h"

namespace velloran {

// How a text is looked for. With none of them set, matching is the search window's own: the
// letter case of A to Z alone is ignored and the text is taken as it is. Any of them brings in
// PCRE2, in UTF-8 with Unicode properties (a Windows-1252 text is read through the code page, so
// that "é" is one character and matches "é" in both encodings): then a match ignoring case folds
// every letter as Unicode does, and words are made of Unicode letters, digits and "_".
struct FindOptions {
    bool matchCase = false;
    bool wholeWords = false;
    bool regex = false;
    bool Plain() const { return !matchCase && !wholeWords && !regex; }
    bool operator==(const FindOptions&) const = default;
};

// One match in a text, in bytes of the text; group g's span is groups[g], group 0 being what
// the pattern matched (a match never starts or ends between the CR and the LF of a line break:
// it takes in the whole break, so span may be wider than groups[0]). An unset group is nothing.
struct Match {
    struct Span {
        std::size_t start = 0;
        std::size_t length = 0;
        friend bool operator==(const Span&, const Span&) = default;
    };
    Span span;
    std::vector<std::optional<Span>> groups;
};

// A text to look for, compiled once for a document's encoding. Throws Error for a pattern that
// cannot be compiled, saying where and why in words a writer understands.
class Pattern {
  public:
    Pattern(std::string_view text, FindOptions options, Encoding encoding);
    ~Pattern();
    Pattern(Pattern&&) noexcept;
    Pattern& operator=(Pattern&&) noexcept;

    FindOptions options() const { return options_; }
    Encoding encoding() const { return encoding_; }
    // The groups a match has, group 0 included.
    std::size_t GroupCount() const;
    // The number of the group of that name, or nothing.
    std::optional<std::size_t> GroupNumber(std::string_view name) const;

    struct Compiled;
    const Compiled* compiled() const { return compiled_.get(); }
    std::string_view text() const { return text_; }

  private:
    std::string text_;
    FindOptions options_;
    Encoding encoding_;
    std::unique_ptr<Compiled> compiled_;
};

// The matches of a pattern in one text, in order and never overlapping; an empty match is
// followed by the next one a character on, so a pattern such as "^" or "\b" never stands still.
// The text must stay as it is while the cursor lives. Next throws Error with kPatternTooComplex
// when a match would take PCRE2 past its limits (a pattern such as "(a+)+$" on a long line).
class MatchCursor {
  public:
    // From byte offset from of text on; what lies before it still counts for what the pattern
    // looks back at ("\\b", "^", a lookbehind).
    MatchCursor(const Pattern& pattern, std::string_view text, std::size_t from = 0);
    ~MatchCursor();
    MatchCursor(const MatchCursor&) = delete;
    MatchCursor& operator=(const MatchCursor&) = delete;

    std::optional<Match> Next();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// What a match is replaced with. With the Regular expression option, "$1", "${1}", "\1" and
// "${name}" stand for a group ("$0" and "$&" for the whole match), "$$" for "$", "\\" for "\",
// "\n" for a line break (CR LF) and "\t" for a tab; otherwise the text is taken as it is.
// Throws Error for a group the pattern does not have.
class Replacement {
  public:
    Replacement(std::string_view text, const Pattern& pattern);
    // The replacement of match in text (both in the document's bytes).
    std::string For(std::string_view text, const Match& match) const;

  private:
    struct Piece {
        std::string literal;
        std::size_t group = 0;
        bool isGroup = false;
    };
    std::vector<Piece> pieces_;
};

// The next match after the current selection, as the search window's Find Next steps: with
// text selected the scan begins a character past the selection's start, with only a caret at
// the caret. The scan never wraps.
std::optional<Match> FindNextMatch(const Pattern& pattern, std::string_view text,
                                   Selection current);
// The match that is the selection, when there is one exactly there.
std::optional<Match> MatchAt(const Pattern& pattern, std::string_view text, Selection selection);

inline constexpr std::string_view kPatternTooComplex =
    "The pattern is too complex: it can match the same text in too many ways to finish. Make it "
    "simpler, for example with fewer repeats inside repeats, such as (a+)+.";
inline constexpr std::string_view kPatternInvalid = "The pattern cannot be used: %s";
inline constexpr std::string_view kNoSuchGroup =
    "The replacement names %s, which the pattern does not have.";

}  // namespace velloran
