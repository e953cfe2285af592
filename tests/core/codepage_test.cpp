#include "core/Codepage.h"

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

}  // namespace
}  // namespace velloran::codepage
