#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/document/Error.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/PersonalDictionary.h"
#include "core/spelling/Scripts.h"
#include "core/spelling/Speller.h"
#include "core/spelling/SpellingService.h"
#include "core/spelling/Words.h"
#include "core/storage/FileIO.h"
#include "support/TempDir.h"

using namespace velloran;
using namespace velloran::spelling;

namespace {

const std::string kDictionaries = VELLORAN_TEST_DICTIONARIES;

std::vector<std::string> Texts(std::string_view line, Encoding encoding) {
    std::vector<std::string> out;
    for (const WordSpan& w : Words(line, encoding)) {
        out.push_back(WordUtf8(line.substr(w.start, w.length), encoding));
    }
    return out;
}

struct WordsCase {
    const char* name;
    std::string line;
    Encoding encoding;
    std::vector<std::string> words;
};

const WordsCase kWordsCases[] = {
    {"plain", "Teh quick brwn fox.", Encoding::Utf8, {"Teh", "quick", "brwn", "fox"}},
    {"utf8_letters",
     "caf\xC3\xA9, na\xC3\xAFve \xC5\x81\xC3\xB3\x64\xC5\xBA",
     Encoding::Utf8,
     {"caf\xC3\xA9", "na\xC3\xAFve", "\xC5\x81\xC3\xB3\x64\xC5\xBA"}},
    {"windows1252_letters",
     "caf\xE9 na\xEFve \x8Aibenik",
     Encoding::Windows1252,
     {"caf\xC3\xA9", "na\xC3\xAFve", "\xC5\xA0ibenik"}},
    {"utf8_bytes_read_as_windows1252",
     "caf\xC3\xA9",
     Encoding::Windows1252,
     {"caf\xC3\x83"}},  // "©" is no letter
    {"inner_apostrophes",
     "don't can\xE2\x80\x99t 'quoted' dogs' ",
     Encoding::Utf8,
     {"don't", "can\xE2\x80\x99t", "quoted", "dogs"}},
    {"windows1252_apostrophe", "don\x92t", Encoding::Windows1252, {"don\xE2\x80\x99t"}},
    {"hyphens", "well-known -dash- a--b", Encoding::Utf8, {"well-known", "dash", "a", "b"}},
    {"digits_and_capitals", "abc123 42 NASA I A4 OK Ok", Encoding::Utf8, {"I", "Ok"}},
    {"addresses",
     "see https://example.org/teh www.brwn.com (Www.x.org) ann@mail.org ok",
     Encoding::Utf8,
     {"see", "ok"}},
    {"marker_line", "[S] Chapter one", Encoding::Utf8, {"Chapter", "one"}},
    {"short_marker_is_text", "[s]ab", Encoding::Utf8, {"s", "ab"}},
    {"broken_utf8_separates",
     "ab\xFF"
     "cd",
     Encoding::Utf8,
     {"ab", "cd"}},
    {"symbols_separate",
     "one\xE2\x80\x94two \xE2\x82\xACten",
     Encoding::Utf8,
     {"one", "two", "ten"}},
    {"greek_cyrillic",
     "\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82 \xD1\x81\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE",
     Encoding::Utf8,
     {"\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82", "\xD1\x81\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE"}},
};

class WordsTest : public ::testing::TestWithParam<WordsCase> {};

TEST_P(WordsTest, SplitsAsAWriterReads) {
    const WordsCase& c = GetParam();
    EXPECT_EQ(Texts(c.line, c.encoding), c.words);
}

INSTANTIATE_TEST_SUITE_P(Lines, WordsTest, ::testing::ValuesIn(kWordsCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Dictionaries, FoundByNameAndChosenByLocale) {
    const auto found = FindDictionaries({kDictionaries, "/nonexistent"});
    std::vector<std::string> names;
    for (const auto& d : found) {
        names.push_back(d.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"de_LATIN", "en_TEST", "fr_TEST"}));
    EXPECT_EQ(ChooseDictionary(found, "fr_TEST", "en_TEST")->name, "fr_TEST");
    EXPECT_EQ(ChooseDictionary(found, "xx_XX", "en_TEST")->name, "en_TEST");
    EXPECT_EQ(ChooseDictionary(found, "", "en_GB")->name, "en_TEST");
    EXPECT_EQ(ChooseDictionary(found, "", "pt_BR")->name, "de_LATIN");
    EXPECT_FALSE(ChooseDictionary({}, "en_TEST", "en_TEST"));
}

struct ChoiceCase {
    const char* name;
    std::vector<std::string> installed;
    const char* wanted;
    const char* locale;
    const char* chosen;
};

// A locale without a language (C, POSIX, C.UTF-8: LocaleLanguage gives "") is taken as English.
const ChoiceCase kChoiceCases[] = {
    {"no_language_takes_en_US", {"de_BE", "de_DE", "en_GB", "en_US"}, "", "", "en_US"},
    {"no_language_takes_any_english", {"de_BE", "en_AU", "en_GB"}, "", "", "en_AU"},
    {"no_language_no_english_takes_first", {"de_BE", "fr_FR"}, "", "", "de_BE"},
    {"wanted_beats_english", {"de_BE", "en_US"}, "de_BE", "", "de_BE"},
    {"locale_beats_english", {"de_BE", "en_US"}, "", "de_BE", "de_BE"},
    {"same_language_elsewhere", {"de_DE", "en_US", "pt_PT"}, "", "pt_BR", "pt_PT"},
    {"unknown_language_takes_first", {"de_DE", "en_US"}, "", "pt_BR", "de_DE"},
};

class ChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoiceTest, ChoosesTheWritersDictionary) {
    const ChoiceCase& c = GetParam();
    std::vector<Dictionary> installed;
    for (const std::string& name : c.installed) {
        installed.push_back({name, "/d/" + name + ".aff", "/d/" + name + ".dic"});
    }
    EXPECT_EQ(ChooseDictionary(installed, c.wanted, c.locale)->name, c.chosen);
}

INSTANTIATE_TEST_SUITE_P(Choices, ChoiceTest, ::testing::ValuesIn(kChoiceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Dictionaries, LocaleWithoutLanguageGivesNone) {
    for (const char* lang : {"C", "C.UTF-8", "POSIX"}) {
        ::setenv("LC_ALL", lang, 1);
        EXPECT_EQ(LocaleLanguage(), "") << lang;
    }
    ::setenv("LC_ALL", "de_BE.UTF-8@euro", 1);
    EXPECT_EQ(LocaleLanguage(), "de_BE");
    ::unsetenv("LC_ALL");
}

// Words of scripts a dictionary has no word in are not its to judge; its own scripts stay
// checked, letters with accents and marks included.
TEST(Speller, LeavesWordsOfScriptsTheDictionaryDoesNotCoverAlone) {
    const auto found = FindDictionaries({kDictionaries});
    Speller en(*ChooseDictionary(found, "en_TEST", ""));
    EXPECT_TRUE(en.Covered().Has(Script::Latin));
    EXPECT_FALSE(en.Covered().Has(Script::Han));
    for (const char* word : {
             "\xE5\xB1\xB1\xE9\xAB\x98\xE6\xB0\xB4\xE9\x95\xBF",  // Han
             "\xE3\x81\xB2\xE3\x82\x89\xE3\x81\x8C\xE3\x81\xAA",  // Hiragana
             "\xE3\x82\xAB\xE3\x82\xBF\xE3\x82\xAB\xE3\x83\x8A",  // Katakana
             "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",              // Hangul
             "\xE0\xB8\xA0\xE0\xB8\xB2\xE0\xB8\xA9\xE0\xB8\xB2",  // Thai, with a vowel sign
             "\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82",          // Greek
             "\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x81\xA8",              // Han and Hiragana
         }) {
        EXPECT_TRUE(en.Check(word)) << word;
        EXPECT_TRUE(en.Suggest(word, 8).empty()) << word;
    }
    // Nor is a word with one letter of another script in it.
    EXPECT_TRUE(en.Check("fox\xE5\xB1\xB1"));
    EXPECT_FALSE(en.Check("brwn"));
    EXPECT_FALSE(en.Check("Ta\xCC\x81h"));  // a combining accent belongs to its letter's script
    EXPECT_FALSE(
        en.Check("\xC5\x81\xC3\xB3"
                 "d\xC5\xBA\xC5\xBA"));
}

struct ScriptCase {
    const char* name;
    char32_t ch;
    Script script;
};

const ScriptCase kScriptCases[] = {
    {"ascii", U'a', Script::Latin},
    {"latin1", 0xE9, Script::Latin},
    {"latin_extended", 0x1EA0, Script::Latin},
    {"combining", 0x0301, Script::Neutral},
    {"greek", 0x03BB, Script::Greek},
    {"cyrillic", 0x0441, Script::Cyrillic},
    {"hebrew", 0x05D0, Script::Hebrew},
    {"arabic", 0x0627, Script::Arabic},
    {"devanagari", 0x0915, Script::Devanagari},
    {"thai", 0x0E20, Script::Thai},
    {"hangul_syllable", 0xD55C, Script::Hangul},
    {"hangul_jamo", 0x1100, Script::Hangul},
    {"hiragana", 0x3072, Script::Hiragana},
    {"katakana", 0x30AB, Script::Katakana},
    {"halfwidth_katakana", 0xFF76, Script::Katakana},
    {"han", 0x5C71, Script::Han},
    {"han_extension_b", 0x20000, Script::Han},
    {"iteration_mark", 0x3005, Script::Han},
    {"unnamed", 0x10400, Script::Other},
};

class ScriptTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptTest, NamesTheLettersScript) {
    EXPECT_EQ(ScriptOf(GetParam().ch), GetParam().script);
}

INSTANTIATE_TEST_SUITE_P(Letters, ScriptTest, ::testing::ValuesIn(kScriptCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Speller, ChecksAndSuggestsInTheDictionarysEncoding) {
    const auto found = FindDictionaries({kDictionaries});
    Speller en(*ChooseDictionary(found, "en_TEST", ""));
    EXPECT_TRUE(en.Check("quick"));
    EXPECT_TRUE(en.Check("The"));
    EXPECT_FALSE(en.Check("Teh"));
    EXPECT_TRUE(en.Check("don\xE2\x80\x99t"));
    EXPECT_TRUE(en.Check("\xC5\x81\xC3\xB3\x64\xC5\xBA"));
    const auto the = en.Suggest("Teh", 8);
    ASSERT_FALSE(the.empty());
    EXPECT_EQ(the.front(), "The");
    const auto brown = en.Suggest("brwn", 8);
    EXPECT_NE(std::find(brown.begin(), brown.end(), "brown"), brown.end());

    Speller latin(*ChooseDictionary(found, "de_LATIN", ""));
    EXPECT_TRUE(
        latin.Check("Stra\xC3\x9F"
                    "e"));
    EXPECT_FALSE(latin.Check("\xC5\x81\xC3\xB3\x64\xC5\xBA"));  // no such letters there
    EXPECT_EQ(latin.Suggest("Strase", 8).front(),
              "Stra\xC3\x9F"
              "e");
}

TEST(PersonalDictionary, AddsKeepingEveryLineAndPrivately) {
    velloran::testing::TempDir dir;
    const std::string path = dir.path() + "/velloran/words";
    AddPersonalWord(path, "Velloran");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Lines it cannot read stay as they were; the new word follows the last line.
    ASSERT_TRUE(ReplaceFile(path, [](OutputFile& out) { out.Write("Velloran\n\xFF\xFE\nzorb"); }));
    AddPersonalWord(path, "  Ann\xC3\xA9 ");
    EXPECT_EQ(*ReadWholeFile(path), "Velloran\n\xFF\xFE\nzorb\nAnn\xC3\xA9\n");
    EXPECT_EQ(ReadPersonalWords(path),
              (std::vector<std::string>{"Velloran", "zorb", "Ann\xC3\xA9"}));
    // A folder where the file should be: refused, nothing lost.
    EXPECT_THROW(AddPersonalWord(dir.path(), "x"), Error);
}

TEST(SpellingService, AnswersFromItsThreadAndKeepsWhatTheWriterAccepts) {
    velloran::testing::TempDir dir;
    const std::string words = dir.path() + "/words";
    AddPersonalWord(words, "Velloran");
    const auto en = *ChooseDictionary(FindDictionaries({kDictionaries}), "en_TEST", "");
    std::atomic<int> told = 0;
    SpellingService service(en, words, [&] { ++told; });
    using V = SpellingService::Verdict;
    EXPECT_EQ(service.Check("Velloran"), V::Correct);
    EXPECT_EQ(service.Check("brwn"), V::Unknown);
    service.Check("fox");
    service.WaitIdle();
    EXPECT_EQ(service.Check("brwn"), V::Misspelled);
    EXPECT_EQ(service.Check("fox"), V::Correct);
    EXPECT_GE(told.load(), 1);
    service.Ignore("brwn");
    EXPECT_EQ(service.Check("brwn"), V::Correct);
    service.AddToDictionary("zorb");
    EXPECT_EQ(service.Check("zorb"), V::Correct);
    EXPECT_EQ(ReadPersonalWords(words), (std::vector<std::string>{"Velloran", "zorb"}));
    EXPECT_EQ(service.Suggest("Teh", 8).front(), "The");

    SpellingService broken({"xx", dir.path() + "/none.aff", dir.path() + "/none.dic"}, words,
                           [] {});
    broken.WaitIdle();
    EXPECT_EQ(broken.Check("anything"), V::Correct);
    EXPECT_TRUE(broken.Suggest("Teh", 8).empty());
}

}  // namespace
