#include "core/spelling/Scripts.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/document/Encoding.h"
#include "core/spelling/Words.h"

namespace velloran::spelling {
namespace {

struct Range {
    char32_t first;
    char32_t last;  // inclusive
    Script script;
};

// Blocks in ascending order; a letter outside them all is of Other.
constexpr Range kRanges[] = {
    {0x0000, 0x024F, Script::Latin},      {0x0250, 0x02AF, Script::Latin},
    {0x02B0, 0x036F, Script::Neutral},    {0x0370, 0x03FF, Script::Greek},
    {0x0400, 0x052F, Script::Cyrillic},   {0x0530, 0x058F, Script::Armenian},
    {0x0590, 0x05FF, Script::Hebrew},     {0x0600, 0x06FF, Script::Arabic},
    {0x0700, 0x074F, Script::Syriac},     {0x0750, 0x077F, Script::Arabic},
    {0x0780, 0x07BF, Script::Thaana},     {0x08A0, 0x08FF, Script::Arabic},
    {0x0900, 0x097F, Script::Devanagari}, {0x0980, 0x09FF, Script::Bengali},
    {0x0A00, 0x0A7F, Script::Gurmukhi},   {0x0A80, 0x0AFF, Script::Gujarati},
    {0x0B00, 0x0B7F, Script::Oriya},      {0x0B80, 0x0BFF, Script::Tamil},
    {0x0C00, 0x0C7F, Script::Telugu},     {0x0C80, 0x0CFF, Script::Kannada},
    {0x0D00, 0x0D7F, Script::Malayalam},  {0x0D80, 0x0DFF, Script::Sinhala},
    {0x0E00, 0x0E7F, Script::Thai},       {0x0E80, 0x0EFF, Script::Lao},
    {0x0F00, 0x0FFF, Script::Tibetan},    {0x1000, 0x109F, Script::Myanmar},
    {0x10A0, 0x10FF, Script::Georgian},   {0x1100, 0x11FF, Script::Hangul},
    {0x1200, 0x139F, Script::Ethiopic},   {0x13A0, 0x13FF, Script::Cherokee},
    {0x1400, 0x167F, Script::Canadian},   {0x1780, 0x17FF, Script::Khmer},
    {0x1800, 0x18AF, Script::Mongolian},  {0x18B0, 0x18FF, Script::Canadian},
    {0x19E0, 0x19FF, Script::Khmer},      {0x1AB0, 0x1AFF, Script::Neutral},
    {0x1C80, 0x1C8F, Script::Cyrillic},   {0x1C90, 0x1CBF, Script::Georgian},
    {0x1D00, 0x1DBF, Script::Latin},      {0x1DC0, 0x1DFF, Script::Neutral},
    {0x1E00, 0x1EFF, Script::Latin},      {0x1F00, 0x1FFF, Script::Greek},
    {0x20D0, 0x20FF, Script::Neutral},    {0x2C60, 0x2C7F, Script::Latin},
    {0x2D00, 0x2D2F, Script::Georgian},   {0x2D80, 0x2DDF, Script::Ethiopic},
    {0x2DE0, 0x2DFF, Script::Cyrillic},   {0x2E80, 0x2FDF, Script::Han},
    {0x3005, 0x3007, Script::Han},        {0x3021, 0x3029, Script::Han},
    {0x3038, 0x303B, Script::Han},        {0x3040, 0x309F, Script::Hiragana},
    {0x30A0, 0x30FF, Script::Katakana},   {0x3100, 0x312F, Script::Bopomofo},
    {0x3130, 0x318F, Script::Hangul},     {0x31A0, 0x31BF, Script::Bopomofo},
    {0x31F0, 0x31FF, Script::Katakana},   {0x3400, 0x4DBF, Script::Han},
    {0x4E00, 0x9FFF, Script::Han},        {0xA000, 0xA4CF, Script::Yi},
    {0xA640, 0xA69F, Script::Cyrillic},   {0xA720, 0xA7FF, Script::Latin},
    {0xA8E0, 0xA8FF, Script::Devanagari}, {0xA960, 0xA97F, Script::Hangul},
    {0xA9E0, 0xA9FF, Script::Myanmar},    {0xAA60, 0xAA7F, Script::Myanmar},
    {0xAB30, 0xAB6F, Script::Latin},      {0xAB70, 0xABBF, Script::Cherokee},
    {0xAC00, 0xD7FF, Script::Hangul},     {0xF900, 0xFAFF, Script::Han},
    {0xFB00, 0xFB06, Script::Latin},      {0xFB13, 0xFB17, Script::Armenian},
    {0xFB1D, 0xFB4F, Script::Hebrew},     {0xFB50, 0xFDFF, Script::Arabic},
    {0xFE20, 0xFE2F, Script::Neutral},    {0xFE70, 0xFEFF, Script::Arabic},
    {0xFF21, 0xFF5A, Script::Latin},      {0xFF66, 0xFF9F, Script::Katakana},
    {0xFFA0, 0xFFDC, Script::Hangul},     {0x1B000, 0x1B16F, Script::Hiragana},
    {0x20000, 0x3FFFF, Script::Han},
};

}  // namespace

Script ScriptOf(char32_t ch) {
    auto it = std::upper_bound(std::begin(kRanges), std::end(kRanges), ch,
                               [](char32_t c, const Range& r) { return c < r.first; });
    if (it == std::begin(kRanges) || ch > std::prev(it)->last) {
        return Script::Other;
    }
    return std::prev(it)->script;
}

void Scripts::AddText(std::string_view utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t ch = 0;
        std::size_t n = 1;
        if (static_cast<unsigned char>(utf8[at]) < 0x80) {
            ch = static_cast<unsigned char>(utf8[at]);
        } else if ((n = DecodeUtf8(utf8, at, ch)) == 0) {
            n = 1;
            ch = 0xFFFD;
        }
        at += n;
        if (IsLetter(ch)) {
            if (const Script s = ScriptOf(ch); s != Script::Neutral) {
                Add(s);
            }
        }
    }
}

bool Scripts::Cover(std::string_view utf8word) const {
    if (Empty()) {
        return true;
    }
    Scripts word;
    word.AddText(utf8word);
    return (word.set_ & ~set_).none();
}

Scripts Scripts::FromBits(std::uint64_t bits) {
    Scripts s;
    s.set_ = decltype(s.set_)(bits);
    return s;
}

}  // namespace velloran::spelling
