#include "settings/Settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "core/document/Error.h"
#include "settings/ConfigFolder.h"

namespace {

using velloran::LoadSettings;
using velloran::SaveSettings;
using velloran::Settings;

class SettingsFile : public ConfigFolderTest {
  protected:
    // LoadSettings after a file whose section holds the one line key=value.
    Settings LoadWith(const std::string& key, const std::string& value) {
        WriteIni("[Velloran]\r\n" + key + "=" + value + "\r\n");
        return LoadSettings();
    }

    static Settings Sample() {
        Settings s;
        s.Left = -120;
        s.Top = 33;
        s.Width = 400;
        s.Height = 0x7FFFFFFF;
        s.Width2 = 512;
        s.Height2 = 300;
        s.FontSize = 14;
        s.FontFace = "Times New Roman";
        s.WordWrap = false;
        s.BackupPrev = true;
        s.BackupCurr = true;
        s.BackupFolder = "/var/tmp/caf\xE9 backups";
        s.BackupType = 2;
        return s;
    }
};

constexpr char kSampleText[] =
    "[Velloran]\r\nLeft=-120\r\nTop=33\r\nWidth=400\r\nHeight=2147483647\r\nWidth2=512\r\n"
    "Heigh2=300\r\nSize=14\r\nFont=Times New Roman\r\nWrap=0\r\nBackupPrev=1\r\n"
    "BackupCurr=1\r\nBackupTemp=/var/tmp/caf\xE9 backups\r\nBackupType=2\r\n";

// Defaults

TEST_F(SettingsFile, DefaultsWithoutAFile) {
    const Settings s = LoadSettings();
    EXPECT_EQ(s.Left, 50);
    EXPECT_EQ(s.Top, 0);
    EXPECT_EQ(s.Width, 250);
    EXPECT_EQ(s.Height, 650);
    EXPECT_EQ(s.Width2, 250);
    EXPECT_EQ(s.Height2, 650);
    EXPECT_EQ(s.FontSize, 10);
    EXPECT_EQ(s.FontFace, "Courier New");
    EXPECT_TRUE(s.WordWrap);
    EXPECT_FALSE(s.BackupPrev);
    EXPECT_FALSE(s.BackupCurr);
    EXPECT_EQ(s.BackupFolder, "backup");
    EXPECT_EQ(s.BackupType, 0);
    EXPECT_EQ(s, Settings{});
    EXPECT_FALSE(std::filesystem::exists(ConfigDir()));
}

TEST_F(SettingsFile, DefaultsWithoutTheSection) {
    WriteIni("[Other]\r\nLeft=1\r\nFont=Arial\r\n");
    EXPECT_EQ(LoadSettings(), Settings{});
}

TEST_F(SettingsFile, DefaultsWhenTheConfigurationFolderIsARegularFile) {
    { std::ofstream out(ConfigDir()); }
    EXPECT_EQ(LoadSettings(), Settings{});
}

// Integers

struct IntCase {
    const char* value;
    int expected;
};

class SettingsInt : public SettingsFile, public ::testing::WithParamInterface<IntCase> {};

TEST_P(SettingsInt, LeftReadsEveryIntegerForm) {
    EXPECT_EQ(LoadWith("Left", GetParam().value).Left, GetParam().expected)
        << "Left=" << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SettingsInt,
    ::testing::Values(IntCase{"abc", 50}, IntCase{"0x20", 32}, IntCase{"$FFFFFFFF", -1},
                      IntCase{"2147483648", 50}, IntCase{" 12", 12}, IntCase{"\" 12\"", 12},
                      IntCase{"+7", 7}, IntCase{"-7", -7}, IntCase{"-0x1", 50}, IntCase{"0X1f", 31},
                      IntCase{"x10", 16}, IntCase{"X10", 16}, IntCase{"$80000000", INT_MIN},
                      IntCase{"-2147483648", INT_MIN}, IntCase{"2147483647", INT_MAX},
                      IntCase{"-2147483649", 50}, IntCase{"0x123456789", 50}, IntCase{"", 50},
                      IntCase{"'12 '", 50}, IntCase{"12;", 50}, IntCase{"1.0", 50}));

TEST_F(SettingsFile, EveryIntegerKeyHasItsOwnDefault) {
    WriteIni(
        "[Velloran]\r\nLeft=x\r\nTop=x\r\nWidth=x\r\nHeight=x\r\nWidth2=x\r\nHeigh2=x\r\n"
        "Size=x\r\nBackupType=x\r\n");
    EXPECT_EQ(LoadSettings(), Settings{});
}

TEST_F(SettingsFile, HeightOfTheDocumentWindowIsHeigh2) {
    EXPECT_EQ(LoadWith("Heigh2", "700").Height2, 700);
    EXPECT_EQ(LoadWith("Height2", "700").Height2, 650);
}

// Booleans

TEST_F(SettingsFile, BooleanZeroIsFalseAnyOtherNumberTrue) {
    EXPECT_FALSE(LoadWith("Wrap", "0").WordWrap);
    EXPECT_TRUE(LoadWith("Wrap", "7").WordWrap);
    EXPECT_TRUE(LoadWith("Wrap", "-1").WordWrap);
    EXPECT_TRUE(LoadWith("BackupPrev", "1").BackupPrev);
    EXPECT_TRUE(LoadWith("BackupCurr", "0x10").BackupCurr);
    EXPECT_FALSE(LoadWith("BackupCurr", "0x0").BackupCurr);
}

TEST_F(SettingsFile, NonNumericBooleanGivesTheDefault) {
    EXPECT_TRUE(LoadWith("Wrap", "yes").WordWrap);
    EXPECT_TRUE(LoadWith("Wrap", "false").WordWrap);
    EXPECT_FALSE(LoadWith("BackupPrev", "yes").BackupPrev);
    EXPECT_FALSE(LoadWith("BackupCurr", "true").BackupCurr);
}

// Strings

TEST_F(SettingsFile, StringsAsTheyStand) {
    WriteIni("[Velloran]\r\nFont=Arial Narrow\r\nBackupTemp=C:\\old;backups = here\r\n");
    const Settings s = LoadSettings();
    EXPECT_EQ(s.FontFace, "Arial Narrow");
    EXPECT_EQ(s.BackupFolder, "C:\\old;backups = here");
}

TEST_F(SettingsFile, QuotedValues) {
    WriteIni(
        "[Velloran]\r\nFont=\"Times New Roman\"\r\nBackupTemp='  spaced  '\r\nSize=\"12\"\r\n");
    const Settings s = LoadSettings();
    EXPECT_EQ(s.FontFace, "Times New Roman");
    EXPECT_EQ(s.BackupFolder, "  spaced  ");
    EXPECT_EQ(s.FontSize, 12);
}

TEST_F(SettingsFile, EmptyStringIsAValue) {
    EXPECT_EQ(LoadWith("Font", "").FontFace, "");
}

TEST_F(SettingsFile, StringIsCutTo2047Characters) {
    EXPECT_EQ(LoadWith("Font", std::string(3000, 'F')).FontFace, std::string(2047, 'F'));
    EXPECT_EQ(LoadWith("BackupTemp", std::string(2047, 'b')).BackupFolder, std::string(2047, 'b'));
}

TEST_F(SettingsFile, KeyLineWithoutEqualsGivesTheDefault) {
    WriteIni("[Velloran]\r\nLeft\r\nFont\r\nWrap\r\nTop=5\r\n");
    const Settings s = LoadSettings();
    EXPECT_EQ(s.Left, 50);
    EXPECT_EQ(s.FontFace, "Courier New");
    EXPECT_TRUE(s.WordWrap);
    EXPECT_EQ(s.Top, 5);
}

TEST_F(SettingsFile, LookupsIgnoreCase) {
    WriteIni("[VELLORAN]\r\nleft=1\r\nTOP=2\r\nheigh2=3\r\nfont=Arial\r\nbackuptemp=b\r\n");
    const Settings s = LoadSettings();
    EXPECT_EQ(s.Left, 1);
    EXPECT_EQ(s.Top, 2);
    EXPECT_EQ(s.Height2, 3);
    EXPECT_EQ(s.FontFace, "Arial");
    EXPECT_EQ(s.BackupFolder, "b");
}

// Saving

TEST_F(SettingsFile, SaveWritesEveryKeyInOrder) {
    SaveSettings(Sample());
    EXPECT_EQ(ReadIni(), kSampleText);
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

TEST_F(SettingsFile, SaveThenLoadGivesBackTheRecord) {
    SaveSettings(Sample());
    EXPECT_EQ(LoadSettings(), Sample());
    SaveSettings(Settings{});
    EXPECT_EQ(LoadSettings(), Settings{});
}

TEST_F(SettingsFile, SaveOverAnExistingSectionKeepsTheKeysSpellingAndPlace) {
    WriteIni("[velloran]\r\nFONT = Arial\r\nleft=1\r\n");
    Settings s;
    s.Left = 9;
    SaveSettings(s);
    EXPECT_EQ(ReadIni(),
              "[velloran]\r\nFONT=Courier New\r\nleft=9\r\nTop=0\r\nWidth=250\r\nHeight=650\r\n"
              "Width2=250\r\nHeigh2=650\r\nSize=10\r\nWrap=1\r\nBackupPrev=0\r\n"
              "BackupCurr=0\r\nBackupTemp=backup\r\nBackupType=0\r\n");
    EXPECT_EQ(LoadSettings(), s);
}

TEST_F(SettingsFile, SaveKeepsEveryByteOfOtherSectionsCommentsAndLineBreaks) {
    const std::string head =
        "; Settings of several programs\r\n\r\n[Other]\rA=1\r; cr only\r\r[Third]\nB = 2\n"
        "; lf only\n\n\t \n";
    const std::string tail = "\r\n[Last]\r\nC=\"3\"\r\n\x01\xFF junk\r\n";
    WriteIni(head + "[Velloran]\nLeft=1\n" + tail);
    SaveSettings(Sample());
    const std::string keys = std::string(kSampleText).substr(std::string("[Velloran]\r\n").size());
    // Left stays in its line with its LF; the other keys follow it.
    EXPECT_EQ(ReadIni(), head + "[Velloran]\nLeft=-120\n" + keys.substr(keys.find("Top=")) + tail);
    EXPECT_EQ(LoadSettings(), Sample());
}

TEST_F(SettingsFile, SaveDoesNotTouchOtherPrograms) {
    WriteIni("[Other]\r\nLeft=1\r\n");
    SaveSettings(Sample());
    EXPECT_EQ(ReadIni(), std::string("[Other]\r\nLeft=1\r\n") + kSampleText);
}

// Failures

TEST_F(SettingsFile, SaveFailsWhenTheConfigurationFolderIsARegularFile) {
    {
        std::ofstream out(ConfigDir(), std::ios::binary);
        out << "x";
    }
    try {
        SaveSettings(Sample());
        FAIL() << "SaveSettings did not throw";
    } catch (const velloran::Error& e) {
        EXPECT_STREQ(e.what(), "Unable to write to QMV.ini");
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(ConfigDir()));
    EXPECT_EQ(std::filesystem::file_size(ConfigDir()), 1u);
    EXPECT_EQ(LoadSettings(), Settings{});
}

TEST_F(SettingsFile, SaveStopsAtTheRefusedKeyAndKeepsTheOnesBefore) {
    Settings s = Sample();
    s.FontFace = "Two\nlines";  // cannot stand on one line of the file
    EXPECT_THROW(
        {
            try {
                SaveSettings(s);
            } catch (const velloran::Error& e) {
                EXPECT_STREQ(e.what(), "Unable to write to QMV.ini");
                throw;
            }
        },
        velloran::Error);
    const std::string sample = kSampleText;
    EXPECT_EQ(ReadIni(), sample.substr(0, sample.find("Font=")));
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

// A full disk, as RLIMIT_FSIZE: the write that would grow the file past the limit fails.
TEST_F(SettingsFile, SaveStopsWhenTheDiskIsFullWithoutAPartialFile) {
    const std::string sample = kSampleText;
    const std::string firstFour = sample.substr(0, sample.find("Width2="));
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old;
    limit.rlim_cur = firstFour.size();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    bool threw = false;
    try {
        SaveSettings(Sample());
    } catch (const velloran::Error& e) {
        threw = std::string(e.what()) == "Unable to write to QMV.ini";
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadIni(), firstFour);
    EXPECT_EQ(ConfigEntries(), std::set<std::string>{"QMV.ini"});
}

}  // namespace
