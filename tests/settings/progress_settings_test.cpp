#include "settings/ProgressSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/document/Error.h"
#include "settings/ConfigFolder.h"
#include "settings/Settings.h"

namespace {

using velloran::LoadProgressSettings;
using velloran::ProgressSettings;

class ProgressFile : public ConfigFolderTest {
  protected:
    std::string Path() const { return ConfigDir() + "/velloran/progress.ini"; }
    void Write(const std::string& bytes) const {
        std::filesystem::create_directories(ConfigDir() + "/velloran");
        std::ofstream(Path(), std::ios::binary) << bytes;
    }
    std::string Read() const {
        std::ifstream in(Path(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(ProgressFile, ValuesOutOfRangeTakeTheirDefaults) {
    struct Row {
        const char* file;
        ProgressSettings read;
    };
    const Row rows[] = {
        {"", {0, 4}},
        {"[Progress]\nGoal=500\nDayStart=0\n", {500, 0}},
        {"[Progress]\nGoal=-3\nDayStart=24\n", {0, 4}},
        {"[Progress]\nGoal=99999999\nDayStart=x\n", {velloran::kMostGoal, 4}},
        {"[Velloran]\nGoal=500\n", {0, 4}},
    };
    for (const Row& row : rows) {
        Write(row.file);
        EXPECT_EQ(LoadProgressSettings(), row.read) << row.file;
    }
}

TEST_F(ProgressFile, TheGoalIsWrittenApartFromQmvIni) {
    WriteIni("[Velloran]\r\nLeft=7\r\n");
    const std::string before = ReadIni();
    Write("; mine\n[Progress]\nDayStart=5\n");
    velloran::SaveProgressGoal(750);
    EXPECT_EQ(Read(), "; mine\n[Progress]\nDayStart=5\nGoal=750\r\n");
    EXPECT_EQ(LoadProgressSettings(), (ProgressSettings{750, 5}));
    EXPECT_EQ(ReadIni(), before);
    EXPECT_EQ(velloran::LoadSettings().Left, 7);
}

TEST_F(ProgressFile, AFolderThatCannotBeMadeIsReported) {
    std::filesystem::create_directories(ConfigDir());
    std::ofstream(ConfigDir() + "/velloran") << "a file where the folder goes";
    try {
        velloran::SaveProgressGoal(100);
        FAIL();
    } catch (const velloran::Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path());
    }
}

}  // namespace
