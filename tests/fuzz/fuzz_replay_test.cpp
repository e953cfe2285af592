#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Checks.h"

namespace velloran::fuzz {
namespace {

namespace fs = std::filesystem;

using CheckFunction = const char* (*)(const std::uint8_t*, std::size_t);

struct Target {
    const char* name;
    CheckFunction check;
};

// Every saved input of the target: its seed corpus, and the crash inputs kept as regressions.
std::vector<fs::path> Inputs(const char* target) {
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "crashes"}) {
        const fs::path folder = fs::path(VELLORAN_FUZZ_DIR) / kind / target;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, EverySavedInputHoldsTheInvariant) {
    const std::vector<fs::path> inputs = Inputs(GetParam().name);
    ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << GetParam().name;
    for (const fs::path& file : inputs) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        const char* broken =
            GetParam().check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(broken, nullptr) << file << ": " << broken;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(Target{"fuzz_document", CheckDocument},
                                           Target{"fuzz_cipher", CheckCipher},
                                           Target{"fuzz_profile", CheckProfile},
                                           Target{"fuzz_profile_int", CheckProfileInt},
                                           Target{"fuzz_seal", CheckSeal},
                                           Target{"fuzz_dictionary", CheckDictionary}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velloran::fuzz
