#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Windows-1252 as a one-to-one map over all 256 byte values: the five bytes it leaves undefined
// map to the C1 control characters of the same value, so any file shows and saves back unchanged.
namespace velloran::codepage {

char16_t ToUnicode(unsigned char byte);

// The byte for a character, or nothing when the code page cannot hold it.
std::optional<unsigned char> FromUnicode(char32_t ch);

// The byte for a character, "?" when the code page cannot hold it.
inline char ToByte(char32_t ch) {
    auto b = FromUnicode(ch);
    return b ? static_cast<char>(*b) : '?';
}

std::u16string Decode(std::string_view bytes);
// Characters outside the code page become "?"; a surrogate pair counts as one character.
std::string Encode(std::u16string_view text);

// The text in UTF-8, each byte as its character: what a UTF-8 terminal or JSON needs.
std::string ToUtf8(std::string_view bytes);
// The bytes for UTF-8 text, a character the code page cannot hold becoming "?" as it does when
// typed into the editor (replaced, when given, tells whether that happened); nothing when the
// text is not valid UTF-8.
std::optional<std::string> FromUtf8(std::string_view text, bool* replaced = nullptr);

}  // namespace velloran::codepage
