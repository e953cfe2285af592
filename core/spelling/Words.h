#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"

namespace velloran::spelling {

// A word to check: bytes [start, start + length) of its line.
struct WordSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t End() const { return start + length; }
    friend bool operator==(const WordSpan&, const WordSpan&) = default;
};

// Whether a character is part of a word: letters of every script and the marks that combine
// with them. Digits are not letters, but a run of letters that touches one is no word to check.
bool IsLetter(char32_t ch);

// The words of one line of text (no line breaks) in its encoding, as a writer's eye takes them:
// runs of letters, with an apostrophe (' or U+2019) or a hyphen between two letters kept inside
// the word, which the dictionary checks whole. Left out, since no dictionary could judge them:
// runs that touch a digit, words in capitals alone (two capitals or more and no small letter:
// abbreviations, acronyms), anything in a blank-separated stretch that holds "://", starts
// with "www." or holds an "@" followed by a dot (web addresses, e-mail addresses), and the
// "[S]" of a marker line. Bytes that are not characters of the encoding separate words.
std::vector<WordSpan> Words(std::string_view line, Encoding encoding);

// A word's text in UTF-8, as the dictionaries take it.
std::string WordUtf8(std::string_view word, Encoding encoding);

}  // namespace velloran::spelling
