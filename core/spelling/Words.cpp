#include "core/spelling/Words.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/document/Codepage.h"
#include "core/document/Sections.h"

namespace velloran::spelling {
namespace {

// Code points that are neither letters nor marks, in ascending order, ends inclusive: what is
// not named here is taken as a letter. Every script's letters thus count without tables of
// them, and what is named is what stands between words in running text.
constexpr std::array<std::pair<char32_t, char32_t>, 40> kNotLetters = {{
    {0x0000, 0x0040}, {0x005B, 0x0060}, {0x007B, 0x00A9}, {0x00AB, 0x00B4}, {0x00B6, 0x00B9},
    {0x00BB, 0x00BF}, {0x00D7, 0x00D7}, {0x00F7, 0x00F7}, {0x02C2, 0x02C5}, {0x02D2, 0x02DF},
    {0x037E, 0x037E}, {0x0387, 0x0387}, {0x055A, 0x055F}, {0x0589, 0x058A}, {0x05BE, 0x05BE},
    {0x05C0, 0x05C0}, {0x05C3, 0x05C3}, {0x05F3, 0x05F4}, {0x0600, 0x060F}, {0x061B, 0x061F},
    {0x0660, 0x066D}, {0x06D4, 0x06D4}, {0x06F0, 0x06F9}, {0x0964, 0x096F}, {0x0E3F, 0x0E3F},
    {0x0E4F, 0x0E5B}, {0x2000, 0x206F}, {0x2070, 0x209F}, {0x20A0, 0x20FF}, {0x2100, 0x214F},
    {0x2150, 0x218F}, {0x2190, 0x2BFF}, {0x2E00, 0x2E7F}, {0x3000, 0x303F}, {0xD800, 0xF8FF},
    {0xFD3E, 0xFD3F}, {0xFE10, 0xFE6F}, {0xFEFF, 0xFF20}, {0xFF3B, 0xFF40}, {0xFF5B, 0xFF65},
}};

constexpr char32_t kRightQuote = 0x2019;

bool IsDigit(char32_t ch) {
    return ch >= '0' && ch <= '9';
}

// Case as far as the scripts with case need it to tell a word in capitals.
bool IsUpper(char32_t ch) {
    if (ch < 0x80) {
        return ch >= 'A' && ch <= 'Z';
    }
    if (ch >= 0xC0 && ch <= 0xDE) {
        return ch != 0xD7;
    }
    if (ch >= 0x100 && ch <= 0x17F) {
        // Pairs, upper first, shifted by one between U+0138 and U+0149 and after U+0178.
        if (ch == 0x138 || ch == 0x149 || ch == 0x17F) {
            return false;
        }
        if ((ch > 0x138 && ch < 0x149) || ch > 0x178) {
            return ch % 2 == 1;
        }
        return ch == 0x178 || ch % 2 == 0;
    }
    return (ch >= 0x391 && ch <= 0x3AB) || (ch >= 0x400 && ch <= 0x42F);
}

bool IsLower(char32_t ch) {
    if (ch < 0x80) {
        return ch >= 'a' && ch <= 'z';
    }
    if (ch >= 0xDF && ch <= 0xFF) {
        return ch != 0xF7;
    }
    if (ch >= 0x100 && ch <= 0x17F) {
        return !IsUpper(ch);
    }
    return (ch >= 0x3AC && ch <= 0x3CE) || (ch >= 0x430 && ch <= 0x45F) || ch == 0xB5;
}

bool IsBlank(char32_t ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == 0xA0 ||
           (ch >= 0x2000 && ch <= 0x200B) || ch == 0x202F || ch == 0x205F || ch == 0x3000;
}

struct Char {
    char32_t ch;  // U+FFFD for bytes that are no character
    std::size_t start;
    std::size_t length;
};

std::vector<Char> Decode(std::string_view line, Encoding encoding) {
    std::vector<Char> out;
    out.reserve(line.size());
    for (std::size_t at = 0; at < line.size();) {
        const auto b = static_cast<unsigned char>(line[at]);
        if (encoding == Encoding::Windows1252 || b < 0x80) {
            out.push_back({codepage::ToUnicode(b), at, 1});
            ++at;
            continue;
        }
        char32_t ch;
        const std::size_t n = DecodeUtf8(line, at, ch);
        if (n == 0) {
            out.push_back({0xFFFD, at, 1});
            ++at;
        } else {
            out.push_back({ch, at, n});
            at += n;
        }
    }
    return out;
}

bool StartsWithNoCase(const std::vector<Char>& chars, std::size_t from, std::size_t to,
                      std::u32string_view prefix) {
    if (to - from < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char32_t c = chars[from + i].ch;
        if (c >= 'A' && c <= 'Z') {
            c += 'a' - 'A';
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// A web or e-mail address among chars [from, to), a stretch without blanks.
bool IsAddress(const std::vector<Char>& chars, std::size_t from, std::size_t to) {
    // Opening punctuation before an address is no part of it: "(www.example.org)".
    std::size_t first = from;
    while (first < to && !IsLetter(chars[first].ch) && !IsDigit(chars[first].ch)) {
        ++first;
    }
    if (StartsWithNoCase(chars, first, to, U"www.")) {
        return true;
    }
    bool at = false;
    for (std::size_t i = from; i < to; ++i) {
        const char32_t c = chars[i].ch;
        if (c == ':' && i + 2 < to && chars[i + 1].ch == '/' && chars[i + 2].ch == '/') {
            return true;
        }
        if (c == '@' && i > from) {
            at = true;
        } else if (c == '.' && at) {
            return true;
        }
    }
    return false;
}

bool Joins(char32_t ch) {
    return ch == '\'' || ch == kRightQuote || ch == '-';
}

bool WordChar(char32_t ch) {
    return IsLetter(ch) || IsDigit(ch);
}

// The words of chars [from, to), a stretch without blanks.
void StretchWords(const std::vector<Char>& chars, std::size_t from, std::size_t to,
                  std::vector<WordSpan>& out) {
    std::size_t i = from;
    while (i < to) {
        if (!WordChar(chars[i].ch)) {
            ++i;
            continue;
        }
        const std::size_t begin = i;
        bool digit = false;
        int upper = 0;
        bool lower = false;
        while (i < to) {
            const char32_t c = chars[i].ch;
            if (WordChar(c)) {
                digit = digit || IsDigit(c);
                upper += IsUpper(c) ? 1 : 0;
                lower = lower || IsLower(c);
                ++i;
            } else if (Joins(c) && i + 1 < to && WordChar(chars[i + 1].ch)) {
                ++i;
            } else {
                break;
            }
        }
        if (digit || (upper >= 2 && !lower)) {
            continue;
        }
        const std::size_t start = chars[begin].start;
        out.push_back({start, chars[i - 1].start + chars[i - 1].length - start});
    }
}

}  // namespace

bool IsLetter(char32_t ch) {
    if (ch < 0x80) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    }
    if (ch == 0xFFFD || ch > 0x10FFFF || (ch >= 0x1F000 && ch <= 0x1FBFF) || (ch >= 0xF0000)) {
        return false;  // no character, symbols and pictures, private use
    }
    auto it = std::upper_bound(kNotLetters.begin(), kNotLetters.end(), ch,
                               [](char32_t c, const auto& range) { return c < range.first; });
    return it == kNotLetters.begin() || ch > std::prev(it)->second;
}

std::vector<WordSpan> Words(std::string_view line, Encoding encoding) {
    std::vector<WordSpan> out;
    std::size_t skip = 0;
    if (IsMarkerLine(line)) {
        skip = 3;  // "[S]" itself
    }
    const std::vector<Char> chars = Decode(line.substr(skip), encoding);
    std::size_t i = 0;
    while (i < chars.size()) {
        if (IsBlank(chars[i].ch)) {
            ++i;
            continue;
        }
        const std::size_t from = i;
        while (i < chars.size() && !IsBlank(chars[i].ch)) {
            ++i;
        }
        if (!IsAddress(chars, from, i)) {
            StretchWords(chars, from, i, out);
        }
    }
    for (WordSpan& w : out) {
        w.start += skip;
    }
    return out;
}

std::string WordUtf8(std::string_view word, Encoding encoding) {
    return encoding == Encoding::Utf8 ? std::string(word) : codepage::ToUtf8(word);
}

}  // namespace velloran::spelling
