#include "settings/HistorySettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/ConfigFolder.h"

namespace {

using velloran::HistorySettings;
using velloran::LoadHistorySettings;

class HistoryFile : public ConfigFolderTest {
  protected:
    void Write(const std::string& bytes) const {
        std::filesystem::create_directories(ConfigDir() + "/velloran");
        std::ofstream(ConfigDir() + "/velloran/history.ini", std::ios::binary) << bytes;
    }
};

TEST_F(HistoryFile, ValuesOutOfRangeTakeTheirDefaults) {
    struct Row {
        const char* name;
        const char* file;
        HistorySettings read;
    };
    const Row rows[] = {
        {"NoFile", "", {true, 10, 200}},
        {"AllGiven", "[History]\nKeep=0\nBudgetTimes=3\nLeastBudgetMiB=50\n", {false, 3, 50}},
        {"OutOfRange", "[History]\nKeep=2\nBudgetTimes=0\nLeastBudgetMiB=-1\n", {true, 10, 200}},
        {"TooLarge", "[History]\nBudgetTimes=1001\nLeastBudgetMiB=99999999\n", {true, 10, 200}},
        {"OtherSection", "[Progress]\nKeep=0\n", {true, 10, 200}},
    };
    for (const Row& row : rows) {
        Write(row.file);
        EXPECT_EQ(LoadHistorySettings(), row.read) << row.name;
    }
    // The editor's own settings file is not where these live.
    EXPECT_FALSE(std::filesystem::exists(ConfigDir() + "/QMV.ini"));
}

}  // namespace
