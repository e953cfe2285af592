#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Points XDG_CONFIG_HOME (and HOME, in case anything falls back to it) at a fresh temporary
// folder for the length of one test, and puts both back afterwards. The configuration folder
// itself does not exist until a test or a write creates it.
class ConfigFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velloran-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        config_ = root_ + "/config";
        Keep("XDG_CONFIG_HOME", savedXdg_);
        Keep("HOME", savedHome_);
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        ::setenv("HOME", (root_ + "/home").c_str(), 1);
    }

    void TearDown() override {
        Restore("XDG_CONFIG_HOME", savedXdg_);
        Restore("HOME", savedHome_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& ConfigDir() const { return config_; }
    const std::string& Root() const { return root_; }
    std::string IniPath() const { return config_ + "/QMV.ini"; }

    void WriteIni(std::string_view bytes) const {
        std::filesystem::create_directories(config_);
        std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }

    std::string ReadIni() const {
        std::ifstream in(IniPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Names in the configuration folder: a finished write leaves no temporary file behind.
    std::set<std::string> ConfigEntries() const {
        std::set<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(config_, ignored)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

  private:
    static void Keep(const char* name, std::optional<std::string>& saved) {
        const char* value = ::getenv(name);
        saved = value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& saved) {
        if (saved) {
            ::setenv(name, saved->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    std::string root_;
    std::string config_;
    std::optional<std::string> savedXdg_;
    std::optional<std::string> savedHome_;
};
