#include "settings/ProfileFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "settings/ConfigFolder.h"

namespace {

using velloran::FlushProfile;
using velloran::ParseProfileInt;
using velloran::ReadProfileInt;
using velloran::ReadProfileString;
using velloran::ResolveProfilePath;
using velloran::WriteProfileString;

constexpr char kFile[] = "QMV.ini";

class ProfileFile : public ConfigFolderTest {
  protected:
    std::string Read(std::string_view section, std::string_view key) const {
        return ReadProfileString(section, key, "<default>", kFile);
    }
};

// Location

TEST_F(ProfileFile, BareNameGoesToTheConfigurationFolder) {
    EXPECT_EQ(ResolveProfilePath("QMV.ini"), ConfigDir() + "/QMV.ini");
}

TEST_F(ProfileFile, WithoutXdgConfigHomeTheFolderIsDotConfigInHome) {
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ResolveProfilePath("QMV.ini"), Root() + "/home/.config/QMV.ini");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(ResolveProfilePath("QMV.ini"), Root() + "/home/.config/QMV.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/folder", 1);
    EXPECT_EQ(ResolveProfilePath("QMV.ini"), Root() + "/home/.config/QMV.ini");
}

TEST_F(ProfileFile, NameWithAFolderIsUsedAsItStands) {
    EXPECT_EQ(ResolveProfilePath("/tmp/x/QMV.ini"), "/tmp/x/QMV.ini");
    EXPECT_EQ(ResolveProfilePath("sub/QMV.ini"), "sub/QMV.ini");
}

// Reading

TEST_F(ProfileFile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read("Velloran", "Left"), "<default>");
    WriteIni("[Other]\r\nLeft=1\r\n[Velloran]\r\nTop=2\r\n");
    EXPECT_EQ(Read("Missing", "Left"), "<default>");
    EXPECT_EQ(Read("Velloran", "Left"), "<default>");
    EXPECT_EQ(Read("Velloran", "Top"), "2");
    EXPECT_EQ(Read("Other", "Left"), "1");
}

TEST_F(ProfileFile, LinesEndAtCrLfLfOrALoneCr) {
    WriteIni("[A]\rk1=one\rk2=two\r\n[B]\nk1=three\nk2=four\r[C]\r\nk1=five");
    EXPECT_EQ(Read("A", "k1"), "one");
    EXPECT_EQ(Read("A", "k2"), "two");
    EXPECT_EQ(Read("B", "k1"), "three");
    EXPECT_EQ(Read("B", "k2"), "four");
    EXPECT_EQ(Read("C", "k1"), "five");
}

TEST_F(ProfileFile, HeaderNameRunsToTheLastBracketAndIsTrimmed) {
    WriteIni("  [ a]b ] tail\r\nk=1\r\n[ No close\r\nk=2\r\n");
    EXPECT_EQ(Read("a]b", "k"), "1");
    // The line without "]" is no header, so the second key stays in section "a]b".
    EXPECT_EQ(Read("[ No close", "k"), "<default>");
    EXPECT_EQ(Read("No close", "k"), "<default>");
}

TEST_F(ProfileFile, KeyAndValueSplitAtTheFirstEqualsAndAreTrimmed) {
    WriteIni("[S]\r\n \t key one \t= \t a = b;c \t\r\nempty=\r\n");
    EXPECT_EQ(Read("S", "key one"), "a = b;c");
    EXPECT_EQ(Read("S", "empty"), "");
}

TEST_F(ProfileFile, NamesMatchRegardlessOfCaseAfterTrimming) {
    WriteIni("[VeLLoRaN]\r\nlEfT=7\r\n");
    EXPECT_EQ(Read("velloran", "LEFT"), "7");
    EXPECT_EQ(Read("  Velloran\t", " left "), "7");
}

TEST_F(ProfileFile, CaseFoldingCoversOnlyAsciiLetters) {
    WriteIni("[\xC9t\xE9]\r\nk=1\r\n");
    EXPECT_EQ(Read("\xC9T\xE9", "k"), "1");
    EXPECT_EQ(Read("\xE9t\xE9", "k"), "<default>");
}

TEST_F(ProfileFile, FirstMatchingSectionAndFirstMatchingKeyWin) {
    WriteIni("[S]\r\na=1\r\nA=2\r\n[s]\r\na=3\r\nb=4\r\n");
    EXPECT_EQ(Read("S", "a"), "1");
    EXPECT_EQ(Read("S", "b"), "<default>");
}

TEST_F(ProfileFile, OnePairOfEnclosingQuotesIsRemoved) {
    WriteIni(
        "[S]\r\nd=\"double\"\r\ns='single'\r\nmixed=\"mixed'\r\none=\"\r\nempty=''\r\n"
        "twice=\"\"x\"\"\r\ninner=a\"b\"\r\nblank=\" 12 \"\r\n");
    EXPECT_EQ(Read("S", "d"), "double");
    EXPECT_EQ(Read("S", "s"), "single");
    EXPECT_EQ(Read("S", "mixed"), "\"mixed'");
    EXPECT_EQ(Read("S", "one"), "\"");
    EXPECT_EQ(Read("S", "empty"), "");
    EXPECT_EQ(Read("S", "twice"), "\"x\"");
    EXPECT_EQ(Read("S", "inner"), "a\"b\"");
    EXPECT_EQ(Read("S", "blank"), " 12 ");
}

TEST_F(ProfileFile, SemicolonAfterAValueIsPartOfIt) {
    WriteIni("[S]\r\nk=value ; comment\r\n; a comment line\r\n");
    EXPECT_EQ(Read("S", "k"), "value ; comment");
}

TEST_F(ProfileFile, KeyLineWithoutEqualsHasNoValue) {
    WriteIni("[S]\r\nalone\r\nfirst\r\nfirst=1\r\n");
    EXPECT_EQ(Read("S", "alone"), "<default>");
    EXPECT_EQ(Read("S", "first"), "<default>");
}

TEST_F(ProfileFile, ValueIsCutTo2047Characters) {
    const std::string exact(2047, 'a');
    const std::string longer = std::string(2047, 'b') + "cdef";
    WriteIni("[S]\r\nexact=" + exact + "\r\nlonger=" + longer + "\r\nquoted=\"" + longer +
             "\"\r\n");
    EXPECT_EQ(Read("S", "exact"), exact);
    EXPECT_EQ(Read("S", "longer"), std::string(2047, 'b'));
    EXPECT_EQ(Read("S", "quoted"), std::string(2047, 'b'));
}

TEST_F(ProfileFile, BytesAreKeptAsBytes) {
    const std::string value = "\x81\x8D\xA0\xE9\xFF";
    ASSERT_TRUE(WriteProfileString("S", "k", value, kFile));
    EXPECT_EQ(Read("S", "k"), value);
    EXPECT_EQ(ReadIni(), "[S]\r\nk=" + value + "\r\n");
}

TEST_F(ProfileFile, KeysBeforeTheFirstHeaderBelongToNoSection) {
    WriteIni("k=0\r\n[S]\r\nj=1\r\n");
    EXPECT_EQ(Read("S", "k"), "<default>");
    EXPECT_EQ(Read("", "k"), "<default>");
}

// Writing

TEST_F(ProfileFile, FirstWriteCreatesFolderAndFile) {
    ASSERT_TRUE(WriteProfileString("Velloran", "Left", "50", kFile));
    EXPECT_EQ(ReadIni(), "[Velloran]\r\nLeft=50\r\n");
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

TEST_F(ProfileFile, MissingFoldersAboveTheConfigurationFolderAreCreated) {
    const std::string deep = Root() + "/a/b/c";
    ::setenv("XDG_CONFIG_HOME", deep.c_str(), 1);
    ASSERT_TRUE(WriteProfileString("S", "k", "v", kFile));
    EXPECT_EQ(ReadProfileString("S", "k", "", kFile), "v");
    EXPECT_TRUE(std::filesystem::is_regular_file(deep + "/QMV.ini"));
}

TEST_F(ProfileFile, ExistingKeyIsReplacedInPlaceKeepingItsSpelling) {
    WriteIni("[velloran]\r\n  lEfT \t= 1 ; old\r\nTop=0\r\n");
    ASSERT_TRUE(WriteProfileString("Velloran", "LEFT", "77", kFile));
    EXPECT_EQ(ReadIni(), "[velloran]\r\nlEfT=77\r\nTop=0\r\n");
}

TEST_F(ProfileFile, ReplacedLineKeepsItsOwnLineBreak) {
    WriteIni("[S]\ra=1\rb=2\nc=3");
    ASSERT_TRUE(WriteProfileString("S", "a", "x", kFile));
    ASSERT_TRUE(WriteProfileString("S", "b", "y", kFile));
    ASSERT_TRUE(WriteProfileString("S", "c", "z", kFile));
    EXPECT_EQ(ReadIni(), "[S]\ra=x\rb=y\nc=z");
}

TEST_F(ProfileFile, KeyLineWithoutEqualsGetsItsValue) {
    WriteIni("[S]\r\nalone\r\n");
    ASSERT_TRUE(WriteProfileString("S", "alone", "1", kFile));
    EXPECT_EQ(ReadIni(), "[S]\r\nalone=1\r\n");
}

TEST_F(ProfileFile, NewKeyGoesAfterTheLastEntryOfItsSection) {
    WriteIni("[S]\r\na=1\r\n; note\r\n\r\n  \r\n[T]\r\nb=2\r\n");
    ASSERT_TRUE(WriteProfileString("s", "new", "3", kFile));
    EXPECT_EQ(ReadIni(), "[S]\r\na=1\r\n; note\r\nnew=3\r\n\r\n  \r\n[T]\r\nb=2\r\n");
}

TEST_F(ProfileFile, NewKeyInAnEmptySectionGoesRightAfterItsHeader) {
    WriteIni("[S]\n\n[T]\n");
    ASSERT_TRUE(WriteProfileString("S", "k", "v", kFile));
    EXPECT_EQ(ReadIni(), "[S]\nk=v\r\n\n[T]\n");
}

TEST_F(ProfileFile, NewKeyAfterALastLineWithoutBreak) {
    WriteIni("[S]\r\na=1");
    ASSERT_TRUE(WriteProfileString("S", "b", "2", kFile));
    EXPECT_EQ(ReadIni(), "[S]\r\na=1\r\nb=2\r\n");
}

TEST_F(ProfileFile, NewSectionIsAppendedAtTheEnd) {
    WriteIni("; top\r\n[A]\r\nx=1\r\n\r\n");
    ASSERT_TRUE(WriteProfileString(" Velloran ", " Left ", "5", kFile));
    EXPECT_EQ(ReadIni(), "; top\r\n[A]\r\nx=1\r\n\r\n[Velloran]\r\nLeft=5\r\n");
}

TEST_F(ProfileFile, NewSectionAfterALastLineWithoutBreakStartsOnANewLine) {
    WriteIni("[A]\nx=1");
    ASSERT_TRUE(WriteProfileString("B", "k", "v", kFile));
    EXPECT_EQ(ReadIni(), "[A]\nx=1\r\n[B]\r\nk=v\r\n");
    WriteIni("[A]\rx=1\r");
    ASSERT_TRUE(WriteProfileString("B", "k", "v", kFile));
    EXPECT_EQ(ReadIni(), "[A]\rx=1\r[B]\r\nk=v\r\n");
}

TEST_F(ProfileFile, EveryOtherByteStays) {
    const std::string before =
        "\xEF\xBB\xBF; written by hand\r\n\r\n[Other]\rkey = \"q\" ; c\r\n\tindented=1\n"
        "junk line\n=no key\n[Velloran]\nLeft=1\n\n; end\r\n\x01\x7F\xFF\n";
    WriteIni(before);
    ASSERT_TRUE(WriteProfileString("Velloran", "Left", "2", kFile));
    ASSERT_TRUE(WriteProfileString("Velloran", "Top", "3", kFile));
    EXPECT_EQ(ReadIni(),
              "\xEF\xBB\xBF; written by hand\r\n\r\n[Other]\rkey = \"q\" ; c\r\n\tindented=1\n"
              "junk line\n=no key\n[Velloran]\nLeft=2\n\n; end\r\n\x01\x7F\xFF\nTop=3\r\n");
}

TEST_F(ProfileFile, UnchangedValueLeavesTheFileAsItIs) {
    WriteIni("[S]\r\nk=1\r\n");
    struct stat before {};
    struct stat after {};
    ASSERT_EQ(::stat(IniPath().c_str(), &before), 0);
    ASSERT_TRUE(WriteProfileString("S", "k", "1", kFile));
    ASSERT_EQ(::stat(IniPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(ProfileFile, WriteKeepsThePermissionsOfTheFile) {
    WriteIni("[S]\r\nk=1\r\n");
    using std::filesystem::perms;
    std::filesystem::permissions(IniPath(), perms::owner_read | perms::owner_write);
    ASSERT_TRUE(WriteProfileString("S", "k", "2", kFile));
    EXPECT_EQ(std::filesystem::status(IniPath()).permissions() & perms::all,
              perms::owner_read | perms::owner_write);
}

TEST_F(ProfileFile, WriteFailsWhenTheConfigurationFolderIsARegularFile) {
    {
        std::ofstream out(ConfigDir(), std::ios::binary);
        out << "not a folder";
    }
    EXPECT_FALSE(WriteProfileString("S", "k", "v", kFile));
    EXPECT_EQ(Read("S", "k"), "<default>");
    std::ifstream in(ConfigDir(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a folder");
}

TEST_F(ProfileFile, WriteFailsWhenAFolderAboveIsARegularFile) {
    { std::ofstream out(Root() + "/plain"); }
    ::setenv("XDG_CONFIG_HOME", (Root() + "/plain/config").c_str(), 1);
    EXPECT_FALSE(WriteProfileString("S", "k", "v", kFile));
}

TEST_F(ProfileFile, WriteFailsWhenTheFileIsAFolder) {
    std::filesystem::create_directories(IniPath());
    EXPECT_FALSE(WriteProfileString("S", "k", "v", kFile));
    EXPECT_TRUE(std::filesystem::is_directory(IniPath()));
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

TEST_F(ProfileFile, WriteRefusesWhatWouldNotReadBack) {
    WriteIni("[S]\r\nk=1\r\n");
    EXPECT_FALSE(WriteProfileString("", "k", "v", kFile));
    EXPECT_FALSE(WriteProfileString("S", " ", "v", kFile));
    EXPECT_FALSE(WriteProfileString("S", "k", "two\r\nlines", kFile));
    EXPECT_FALSE(WriteProfileString("S", "k", "cr\ronly", kFile));
    EXPECT_FALSE(WriteProfileString("S\n", "k", "v", kFile));
    EXPECT_FALSE(WriteProfileString("S", "a=b", "v", kFile));
    EXPECT_FALSE(WriteProfileString("S", "[T]", "v", kFile));
    EXPECT_EQ(ReadIni(), "[S]\r\nk=1\r\n");
}

TEST_F(ProfileFile, WriteThroughASymbolicLinkReachesItsFile) {
    std::filesystem::create_directories(ConfigDir());
    const std::string real = Root() + "/real.ini";
    {
        std::ofstream out(real, std::ios::binary);
        out << "[S]\nk=1\n";
    }
    std::filesystem::create_symlink(real, IniPath());
    ASSERT_TRUE(WriteProfileString("S", "k", "2", kFile));
    EXPECT_TRUE(std::filesystem::is_symlink(IniPath()));
    EXPECT_EQ(Read("S", "k"), "2");
}

TEST_F(ProfileFile, FlushSucceedsWithNothingPending) {
    EXPECT_TRUE(FlushProfile(kFile));
    ASSERT_TRUE(WriteProfileString("S", "k", "v", kFile));
    EXPECT_TRUE(FlushProfile(kFile));
}

// Integers

struct IntCase {
    const char* text;
    int expected;
};

class ProfileInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ProfileInt, ReadsTheIntegerForms) {
    EXPECT_EQ(ParseProfileInt(GetParam().text, 50), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ProfileInt,
    ::testing::Values(
        // decimal
        IntCase{"0", 0}, IntCase{"12", 12}, IntCase{" 12", 12}, IntCase{" \t 12", 12},
        IntCase{"+7", 7}, IntCase{"-7", -7}, IntCase{"007", 7}, IntCase{"-0", 0},
        IntCase{"2147483647", INT_MAX}, IntCase{"-2147483648", INT_MIN},
        IntCase{"00000000000000000000042", 42},
        // hexadecimal
        IntCase{"0x20", 32}, IntCase{"0X20", 32}, IntCase{"$20", 32}, IntCase{"x20", 32},
        IntCase{"X20", 32}, IntCase{"0xaBcD", 0xABCD}, IntCase{"$FFFFFFFF", -1},
        IntCase{"0x7FFFFFFF", INT_MAX}, IntCase{"0x80000000", INT_MIN}, IntCase{"0x00000001", 1},
        IntCase{" $10", 16},
        // anything else gives the default
        IntCase{"", 50}, IntCase{" ", 50}, IntCase{"abc", 50}, IntCase{"12 ", 50},
        IntCase{"12a", 50}, IntCase{"1.5", 50}, IntCase{"1e3", 50}, IntCase{"+", 50},
        IntCase{"-", 50}, IntCase{"+-1", 50}, IntCase{"- 1", 50}, IntCase{"2147483648", 50},
        IntCase{"-2147483649", 50}, IntCase{"99999999999999999999", 50}, IntCase{"-0x1", 50},
        IntCase{"+0x1", 50}, IntCase{"-$1", 50}, IntCase{"0x", 50}, IntCase{"$", 50},
        IntCase{"x", 50}, IntCase{"0x123456789", 50}, IntCase{"0x000000001", 50},
        IntCase{"0xG", 50}, IntCase{"0x1 ", 50}, IntCase{"0x 1", 50}, IntCase{"00x1", 50},
        IntCase{"\n12", 50}));

TEST_F(ProfileFile, ReadProfileIntReadsTheValueOfAKey) {
    WriteIni("[S]\r\na=0x20\r\nb=abc\r\nc=\" 12\"\r\nd=\"12 \"\r\n");
    EXPECT_EQ(ReadProfileInt("S", "a", 50, kFile), 32);
    EXPECT_EQ(ReadProfileInt("S", "b", 50, kFile), 50);
    EXPECT_EQ(ReadProfileInt("S", "c", 50, kFile), 12);
    EXPECT_EQ(ReadProfileInt("S", "d", 50, kFile), 50);
    EXPECT_EQ(ReadProfileInt("S", "missing", 50, kFile), 50);
}

}  // namespace
