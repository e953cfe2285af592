#include "core/document/Codepage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace velloran::codepage {
namespace {

char16_t IconvCp1252(unsigned char byte, bool* defined) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1252");
    char in[1] = {static_cast<char>(byte)};
    char out[4] = {};
    char* ip = in;
    char* op = out;
    std::size_t il = 1;
    std::size_t ol = sizeof out;
    *defined = iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
}

TEST(Codepage, AgreesWithIconvOnEveryDefinedByte) {
    int defined = 0;
    for (int b = 0; b < 256; ++b) {
        bool ok = false;
        char16_t expected = IconvCp1252(static_cast<unsigned char>(b), &ok);
        if (ok) {
            ++defined;
            EXPECT_EQ(ToUnicode(static_cast<unsigned char>(b)), expected) << "byte " << b;
        }
    }
    EXPECT_EQ(defined, 251);
}

TEST(Codepage, UndefinedBytesMapToC1ControlsOfTheSameValue) {
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(ToUnicode(b), b);
    }
}

TEST(Codepage, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        EXPECT_EQ(FromUnicode(ToUnicode(static_cast<unsigned char>(b))),
                  static_cast<unsigned char>(b));
    }
    EXPECT_EQ(Encode(Decode(all)), all);
}

TEST(Codepage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_FALSE(FromUnicode(0x0100).has_value());
    EXPECT_FALSE(FromUnicode(0x0080).has_value());  // C1 control that 0x80 does not stand for
    EXPECT_EQ(ToByte(0x4E2D), '?');
    EXPECT_EQ(Encode(u"a\u20ACb\u4E2D\U0001F600c"),
              "a\x80"
              "b??c");
}

std::string IconvToUtf8(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    std::string in = bytes;
    std::string out(bytes.size() * 3, '\0');
    char* ip = in.data();
    char* op = out.data();
    std::size_t il = in.size();
    std::size_t ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

TEST(Utf8, EveryByteConvertsAndComesBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::string utf8 = ToUtf8(all);
    bool replaced = true;
    EXPECT_EQ(FromUtf8(utf8, &replaced), all);
    EXPECT_FALSE(replaced);
    // Byte by byte, as iconv has it where the code page defines the byte, the C1 control of
    // the same value where it does not.
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        const std::string expected =
            undefined ? std::string{'\xC2', static_cast<char>(b)} : IconvToUtf8(one);
        EXPECT_EQ(ToUtf8(one), expected) << "byte " << b;
    }
}

TEST(Utf8, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    bool replaced = false;
    EXPECT_EQ(FromUtf8("\xC5\x82\xC3\xB3"
                       "d\xE2\x82\xAC",
                       &replaced),
              "?\xF3"
              "d\x80");
    EXPECT_TRUE(replaced);
}

TEST(Utf8, MalformedTextIsRefused) {
    const std::pair<const char*, std::string> rows[] = {
        {"lone continuation byte", "a\x80"},         {"overlong NUL", "\xC0\x80"},
        {"overlong slash", "\xE0\x80\xAF"},          {"cut short at the end", "\xE2\x82"},
        {"lead byte without continuation", "\xC3x"}, {"surrogate", "\xED\xA0\x80"},
        {"beyond Unicode", "\xF4\x90\x80\x80"},      {"invalid lead byte", "\xFF"},
    };
    for (const auto& [name, text] : rows) {
        EXPECT_FALSE(FromUtf8(text).has_value()) << name;
    }
}

}  // namespace
}  // namespace velloran::codepage
