#include "settings/ViewSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/document/Error.h"
#include "settings/ConfigFolder.h"
#include "settings/Settings.h"

namespace {

using velloran::LoadViewSettings;
using velloran::ViewSettings;

class ViewFile : public ConfigFolderTest {
  protected:
    std::string Path() const { return ConfigDir() + "/velloran/view.ini"; }
    void Write(const std::string& bytes) const {
        std::filesystem::create_directories(ConfigDir() + "/velloran");
        std::ofstream(Path(), std::ios::binary) << bytes;
    }
    std::string Read() const {
        std::ifstream in(Path(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(ViewFile, MissingOrOutOfRangeValuesTakeTheirDefaultsOrBounds) {
    struct Row {
        const char* file;
        ViewSettings read;
    };
    const Row rows[] = {
        {"", {false, 0}},
        {"[View]\nDarkPage=1\nZoom=3\n", {true, 3}},
        {"[View]\nDarkPage=0\nZoom=-2\n", {false, -2}},
        {"[View]\nZoom=9999\n", {false, velloran::kMostZoom}},
        {"[View]\nZoom=-9999\nDarkPage=yes\n", {false, velloran::kLeastZoom}},
        {"[Velloran]\nDarkPage=1\nZoom=4\n", {false, 0}},
    };
    for (const Row& row : rows) {
        Write(row.file);
        EXPECT_EQ(LoadViewSettings(), row.read) << row.file;
    }
}

TEST_F(ViewFile, WrittenApartFromQmvIniAndReadBack) {
    WriteIni("[Velloran]\r\nFontSize=10\r\n");
    const std::string before = ReadIni();
    Write("; mine\n[View]\nZoom=1\n");
    velloran::SaveViewSettings({true, 5});
    EXPECT_EQ(Read(), "; mine\n[View]\nZoom=5\nDarkPage=1\r\n");
    EXPECT_EQ(LoadViewSettings(), (ViewSettings{true, 5}));
    EXPECT_EQ(ReadIni(), before);
}

TEST_F(ViewFile, AFolderThatCannotBeMadeIsReported) {
    std::filesystem::create_directories(ConfigDir());
    std::ofstream(ConfigDir() + "/velloran") << "a file where the folder goes";
    try {
        velloran::SaveViewSettings({true, 1});
        FAIL();
    } catch (const velloran::Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path());
    }
}

}  // namespace
