#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velloran::cli {

// A command line that cannot be carried out as given.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class KeySource { None, Terminal, Descriptor, File };

struct Arguments {
    std::string command;
    std::vector<std::string> operands;
    bool help = false;
    bool version = false;
    bool json = false;
    bool crlf = false;
    bool utf8 = false;
    bool numbered = false;
    // replace: how PATTERN is matched, and whether the documents are left as they are.
    bool regex = false;
    bool matchCase = false;
    bool wholeWords = false;
    bool dryRun = false;
    std::optional<std::string> output;
    // progress: the days the chart covers, today among them.
    int days = 30;
    bool daysGiven = false;
    std::optional<std::string> language;
    // history: the version to show, its section, the versions to compare, the one to keep.
    std::optional<std::string> show;
    std::optional<std::string> section;
    std::optional<std::string> diff;
    std::optional<std::string> keep;
    // export and import
    std::optional<std::string> to;
    std::optional<std::string> preset;
    std::optional<std::string> sections;
    std::optional<std::string> paragraphs;
    std::optional<int> level;
    bool force = false;
    bool clear = false;
    std::optional<std::string> cover;
    KeySource keySource = KeySource::None;
    int keyDescriptor = -1;
    std::string keyFile;
};

// The arguments after the program name. Throws UsageError for anything that is not a complete,
// valid command, unless --help or --version was asked for.
Arguments ParseArguments(std::span<const char* const> args);

std::string UsageText();

}  // namespace velloran::cli
