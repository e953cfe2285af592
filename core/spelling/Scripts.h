#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>

namespace velloran::spelling {

// The writing systems a letter may belong to, as far as telling a dictionary's own from the
// rest needs. Neutral covers what belongs to every script: combining marks, modifier letters.
enum class Script : std::uint8_t {
    Neutral,
    Latin,
    Greek,
    Cyrillic,
    Armenian,
    Hebrew,
    Arabic,
    Syriac,
    Thaana,
    Devanagari,
    Bengali,
    Gurmukhi,
    Gujarati,
    Oriya,
    Tamil,
    Telugu,
    Kannada,
    Malayalam,
    Sinhala,
    Thai,
    Lao,
    Tibetan,
    Myanmar,
    Georgian,
    Hangul,
    Ethiopic,
    Cherokee,
    Canadian,
    Khmer,
    Mongolian,
    Hiragana,
    Katakana,
    Bopomofo,
    Han,
    Yi,
    Other,  // a letter of a script not named here
    Count,
};

Script ScriptOf(char32_t ch);

// A set of scripts: those a dictionary's words are written in.
class Scripts {
  public:
    void Add(Script s) { set_.set(static_cast<std::size_t>(s)); }
    // Every script of the letters of a UTF-8 text; bytes that are no UTF-8 add nothing.
    void AddText(std::string_view utf8);
    bool Has(Script s) const { return set_.test(static_cast<std::size_t>(s)); }
    bool Empty() const { return set_.none(); }
    // Whether every letter of the UTF-8 word is of a script in the set: a word in another
    // script is none the dictionary could judge. An empty set (nothing known) covers all.
    bool Cover(std::string_view utf8word) const;

    std::uint64_t Bits() const { return set_.to_ullong(); }
    static Scripts FromBits(std::uint64_t bits);

  private:
    std::bitset<static_cast<std::size_t>(Script::Count)> set_;
};

}  // namespace velloran::spelling
