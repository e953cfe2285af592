#include "core/document/Encoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "support/Documents.h"

namespace velloran {
namespace {

// The locale in force while a test runs, as the environment names it.
class LocaleScope {
  public:
    explicit LocaleScope(const char* name) {
        if (const char* old = std::getenv("LC_ALL")) {
            old_ = old;
        }
        ::setenv("LC_ALL", name, 1);
    }
    ~LocaleScope() {
        if (old_) {
            ::setenv("LC_ALL", old_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }

  private:
    std::optional<std::string> old_;
};

// Well-formed UTF-8 as the Unicode standard tabulates it (table 3-7), an independent account of
// it: nothing when s is not, else whether it has a byte above 127. With held, the characters the
// editor's text would turn into line breaks are not taken either, as detection does not.
std::optional<bool> ReferenceUtf8(const std::string& s, bool held) {
    struct Range {
        unsigned lo, hi;
    };
    auto in = [](unsigned char c, Range r) { return c >= r.lo && c <= r.hi; };
    const Range tail{0x80, 0xBF};
    bool high = false;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        auto at = [&](std::size_t j) {
            return i + j < s.size() ? static_cast<unsigned char>(s[i + j]) : 0;
        };
        std::size_t n = 0;
        if (c < 0x80) {
            n = 1;
        } else if (in(c, {0xC2, 0xDF}) && in(at(1), tail)) {
            n = 2;
        } else if ((c == 0xE0 && in(at(1), {0xA0, 0xBF})) ||
                   ((in(c, {0xE1, 0xEC}) || in(c, {0xEE, 0xEF})) && in(at(1), tail)) ||
                   (c == 0xED && in(at(1), {0x80, 0x9F}))) {
            n = in(at(2), tail) ? 3 : 0;
        } else if ((c == 0xF0 && in(at(1), {0x90, 0xBF})) ||
                   (in(c, {0xF1, 0xF3}) && in(at(1), tail)) ||
                   (c == 0xF4 && in(at(1), {0x80, 0x8F}))) {
            n = in(at(2), tail) && in(at(3), tail) ? 4 : 0;
        }
        if (n == 0) {
            return std::nullopt;
        }
        const std::string seq = s.substr(i, n);
        if (held && (seq == "\xe2\x80\xa8" || seq == "\xe2\x80\xa9" || seq == "\xef\xb7\x90" ||
                     seq == "\xef\xb7\x91")) {
            return std::nullopt;
        }
        high = high || n > 1;
        i += n;
    }
    return high;
}

ByteForm ReferenceForm(const std::string& s) {
    const auto utf8 = ReferenceUtf8(s, true);
    return !utf8 ? ByteForm::Other : (*utf8 ? ByteForm::Utf8 : ByteForm::Ascii);
}

using testing::EncodingSample;
using testing::Found;

struct Locale {
    const char* name;
    Encoding encoding;
};
const Locale kLocales[] = {{"C.UTF-8", Encoding::Utf8}, {"C", Encoding::Windows1252}};

class Detection
    : public ::testing::TestWithParam<std::tuple<EncodingSample, Locale, bool /*vectors*/>> {
  protected:
    void TearDown() override { SetDetectionVectors(true); }
};

// Each case also stands after every number of ASCII bytes up to 70 and before a few, so that
// its bytes fall on every place of the blocks detection reads at once.
TEST_P(Detection, FindsTheDocumentsEncoding) {
    const auto& [c, locale, vectors] = GetParam();
    SetDetectionVectors(vectors);
    const LocaleScope scope(locale.name);
    const Encoding want = c.found == Found::Utf8     ? Encoding::Utf8
                          : c.found == Found::Cp1252 ? Encoding::Windows1252
                                                     : locale.encoding;
    EXPECT_EQ(DetectEncoding(c.bytes), want);
    if (c.bytes.empty()) {
        EXPECT_EQ(DetectEncoding(std::string_view()), want);  // an empty mapped file: no data
    }
    for (std::size_t before = 0; before <= 70; ++before) {
        for (std::size_t after : {0, 1, 3, 33}) {
            const std::string bytes = std::string(before, 'a') + c.bytes + std::string(after, 'z');
            ASSERT_EQ(DetectEncoding(bytes), want) << before << " before, " << after << " after";
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<Detection::ParamType>& info) {
    const auto& [c, locale, vectors] = info.param;
    std::string name = std::string(c.name) + "_Under" +
                       (locale.encoding == Encoding::Utf8 ? "CUtf8" : "C") +
                       (vectors ? "" : "_ByteByByte");
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Detection,
                         ::testing::Combine(::testing::ValuesIn(testing::EncodingSamples()),
                                            ::testing::ValuesIn(kLocales), ::testing::Bool()),
                         CaseName);

// Random mixtures of ASCII, whole characters of every length, the characters left out, stray
// and cut sequences: both ways of reading agree with the standard's table.
TEST(Detection, AgreesWithTheStandardsTable) {
    static const char* const kPieces[] = {"a",
                                          "[S] ",
                                          "\r\n",
                                          "\xc3\xa9",
                                          "\xe6\x97\xa5",
                                          "\xf0\x9f\x98\x80",
                                          "\xef\xbb\xbf",
                                          "\xe2\x80\xa8",
                                          "\xef\xb7\x90",
                                          "\xe2\x80\x94",
                                          "\xed\x9f\xbf",
                                          "\xee\x80\x80",
                                          "\xf4\x8f\xbf\xbf"};
    std::mt19937 rng(7);
    for (int round = 0; round < 4000; ++round) {
        std::string s;
        const int pieces = static_cast<int>(rng() % 40);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 12 == 0) {
                s.push_back(static_cast<char>(0x80 + rng() % 0x80));  // any high byte
            } else if (rng() % 15 == 0 && !s.empty()) {
                s.pop_back();  // a sequence cut short, or ASCII lost
            } else {
                s += kPieces[rng() % std::size(kPieces)];
            }
        }
        for (bool vectors : {true, false}) {
            SetDetectionVectors(vectors);
            ASSERT_EQ(FormOf(s), ReferenceForm(s)) << ::testing::PrintToString(s) << vectors;
        }
        ASSERT_EQ(IsUtf8(s), ReferenceUtf8(s, false).has_value()) << ::testing::PrintToString(s);
    }
    SetDetectionVectors(true);
}

// Long texts with long runs of ASCII, which are read fastest, and one fault anywhere in them.
TEST(Detection, FindsOneFaultAnywhereInALongText) {
    std::string text;
    for (int i = 0; text.size() < 9000; ++i) {
        text += i % 5 == 0 ? std::string(200, 'a') : "w\xc3\xb6rt \xe6\x97\xa5 \xf0\x9f\x98\x80 ";
    }
    for (bool vectors : {true, false}) {
        SetDetectionVectors(vectors);
        ASSERT_EQ(FormOf(text), ByteForm::Utf8);
        for (std::size_t at = 0; at < text.size(); at += 37) {
            std::string cut = text;
            cut.insert(at, "\xc3");  // a lead without its continuation, or one too many
            ASSERT_EQ(FormOf(cut), ByteForm::Other) << at << " " << vectors;
            ASSERT_EQ(FormOf(text.substr(0, at) + "\xe2\x80\xa9"), ByteForm::Other) << at;
        }
    }
    SetDetectionVectors(true);
}

TEST(LocaleEncoding, FollowsTheCodesetOfTheLocaleInForce) {
    {
        const LocaleScope scope("C.UTF-8");
        EXPECT_EQ(LocaleEncoding(), Encoding::Utf8);
    }
    {
        const LocaleScope scope("POSIX");
        EXPECT_EQ(LocaleEncoding(), Encoding::Windows1252);
    }
    {
        // Not installed: setlocale would fail and leave the C locale.
        const LocaleScope scope("xx_XX.UTF-8");
        EXPECT_EQ(LocaleEncoding(), Encoding::Windows1252);
    }
}

TEST(CountChars, CountsCodePointsInUtf8AndBytesInWindows1252) {
    const std::string text = "a\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80\r\n\xef\xbb\xbf";
    EXPECT_EQ(CountChars(text, Encoding::Utf8), 7u);
    EXPECT_EQ(CountChars(text, Encoding::Windows1252), text.size());
    EXPECT_EQ(CountChars("", Encoding::Utf8), 0u);
}

}  // namespace
}  // namespace velloran
