#include "core/document/IndexedText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace velloran {
namespace {

// The characters texts are made of in each encoding, a line break among them.
std::vector<std::string> Alphabet(Encoding encoding) {
    if (encoding == Encoding::Utf8) {
        return {"a",           "Z", " ", "\r\n", "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80",
                "\xef\xbb\xbf"};
    }
    return {"a", "Z", " ", "\r\n", "\xe9", "\x80", std::string(1, '\0'), "\xff"};
}

std::string RandomChars(std::mt19937& rng, Encoding encoding, std::size_t count) {
    const auto alphabet = Alphabet(encoding);
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += alphabet[rng() % alphabet.size()];
    }
    return out;
}

// Every place before a character, read one character at a time.
std::vector<TextPlace> Places(const std::string& text, Encoding encoding) {
    std::vector<TextPlace> places{TextPlace{}};
    TextPlace p;
    while (p.bytes < text.size()) {
        const bool lineBreak = text.compare(p.bytes, 2, "\r\n") == 0;
        std::size_t n = lineBreak ? 2 : 1;
        std::size_t units = 1;
        if (!lineBreak && encoding == Encoding::Utf8) {
            char32_t ch;
            n = DecodeUtf8(text, p.bytes, ch);
            units = ch >= 0x10000 ? 2 : 1;
        }
        p.bytes += n;
        p.chars += lineBreak || encoding == Encoding::Windows1252 ? n : 1;
        p.units += units;
        places.push_back(p);
    }
    return places;
}

// The last place whose measure is at most target.
TextPlace Expected(const std::vector<TextPlace>& places, std::size_t target,
                   std::size_t TextPlace::*measure) {
    const auto after =
        std::upper_bound(places.begin(), places.end(), target,
                         [measure](std::size_t t, const TextPlace& p) { return t < p.*measure; });
    return *(after - 1);
}

void ExpectAgrees(const IndexedText& t, const std::string& text, Encoding encoding,
                  std::mt19937& rng, std::size_t samples) {
    ASSERT_EQ(std::string(t.Bytes()), text);
    const auto places = Places(text, encoding);
    ASSERT_EQ(t.End(), places.back());
    const TextPlace& end = places.back();
    for (std::size_t i = 0; i < samples; ++i) {
        const std::size_t bytes = rng() % (end.bytes + 3);
        const std::size_t chars = rng() % (end.chars + 3);
        const std::size_t units = rng() % (end.units + 3);
        ASSERT_EQ(t.AtBytes(bytes), Expected(places, bytes, &TextPlace::bytes)) << bytes;
        ASSERT_EQ(t.AtChars(chars), Expected(places, chars, &TextPlace::chars)) << chars;
        ASSERT_EQ(t.AtUnits(units), Expected(places, units, &TextPlace::units)) << units;
    }
}

class Encodings : public ::testing::TestWithParam<Encoding> {};

TEST_P(Encodings, MeasuresOfAPlaceAgreeWithReadingCharacterByCharacter) {
    const Encoding encoding = GetParam();
    std::mt19937 rng(11);
    for (std::size_t count : {0u, 1u, 7u, 3000u, 20000u}) {
        IndexedText t;
        const std::string text = RandomChars(rng, encoding, count);
        t.Assign(text, encoding);
        ExpectAgrees(t, text, encoding, rng, 300);
    }
}

// Long runs of edits of every size, in one place and all over, against a plain string edited
// the same way.
TEST_P(Encodings, EditsKeepEveryMeasure) {
    const Encoding encoding = GetParam();
    std::mt19937 rng(12);
    std::string text = RandomChars(rng, encoding, 12000);
    IndexedText t;
    t.Assign(text, encoding);
    std::size_t typingAt = text.size() / 2;
    for (int step = 0; step < 400; ++step) {
        const auto places = Places(text, encoding);
        auto place = [&] { return places[rng() % places.size()].bytes; };
        std::size_t from = place();
        std::size_t to = place();
        if (from > to) {
            std::swap(from, to);
        }
        std::string with;
        switch (rng() % 4) {
            case 0:  // typing one character after another in one place
                from = to = Expected(places, typingAt, &TextPlace::bytes).bytes;
                with = RandomChars(rng, encoding, 1);
                typingAt = from + with.size();
                break;
            case 1:  // deleting a few characters
                to = Expected(places, from + 4, &TextPlace::bytes).bytes;
                break;
            case 2:  // a large paste over a selection
                with = RandomChars(rng, encoding, 5000 + rng() % 9000);
                break;
            default:  // replacing a selection
                with = RandomChars(rng, encoding, rng() % 50);
                break;
        }
        text.replace(from, to - from, with);
        t.Replace(from, to, with);
        ExpectAgrees(t, text, encoding, rng, 20);
        if (text.size() > 60000) {
            text.resize(Expected(Places(text, encoding), 30000, &TextPlace::bytes).bytes);
            t.Assign(text, encoding);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Both, Encodings, ::testing::Values(Encoding::Utf8, Encoding::Windows1252),
                         [](const auto& info) {
                             return info.param == Encoding::Utf8 ? "Utf8" : "Windows1252";
                         });

TEST(IndexedText, APlaceInsideACharacterOrABreakIsTheOneBeforeIt) {
    IndexedText t;
    t.Assign("a\r\n\xe6\x97\xa5\xf0\x9f\x98\x80", Encoding::Utf8);
    EXPECT_EQ(t.AtChars(2), (TextPlace{1, 1, 1}));  // between CR and LF
    EXPECT_EQ(t.AtBytes(2), (TextPlace{1, 1, 1}));
    EXPECT_EQ(t.AtBytes(5), (TextPlace{3, 3, 2}));  // inside 日
    EXPECT_EQ(t.AtUnits(4), (TextPlace{6, 4, 3}));  // between the halves of a pair
    EXPECT_EQ(t.AtUnits(5), (TextPlace{10, 5, 5}));
    EXPECT_EQ(t.AtChars(99), t.End());
}

}  // namespace
}  // namespace velloran
