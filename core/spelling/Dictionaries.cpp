#include "core/spelling/Dictionaries.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran::spelling {
namespace {

std::vector<std::string> Split(std::string_view text, char by) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t end = std::min(text.find(by, from), text.size());
        if (end > from) {
            out.emplace_back(text.substr(from, end - from));
        }
        from = end + 1;
    }
    return out;
}

bool Readable(const std::string& path) {
    return IsRegularFile(path) && ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::vector<std::string> DictionaryFolders() {
    if (const char* path = std::getenv("DICPATH")) {
        return Split(path, ':');
    }
    return {UserFolder("XDG_DATA_HOME", ".local/share") + "/hunspell", "/usr/share/hunspell"};
}

std::vector<Dictionary> FindDictionaries(const std::vector<std::string>& folders) {
    std::vector<Dictionary> out;
    std::set<std::string> seen;
    for (const std::string& folder : folders) {
        std::vector<std::string> names = FolderNames(folder.empty() ? "." : folder);
        std::sort(names.begin(), names.end());
        for (const std::string& file : names) {
            constexpr std::string_view kAff = ".aff";
            if (file.size() <= kAff.size() || !file.ends_with(kAff)) {
                continue;
            }
            const std::string name = file.substr(0, file.size() - kAff.size());
            const std::string base = folder + "/" + name;
            if (seen.count(name) || !Readable(base + ".aff") || !Readable(base + ".dic")) {
                continue;
            }
            seen.insert(name);
            out.push_back({name, base + ".aff", base + ".dic"});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Dictionary& a, const Dictionary& b) { return a.name < b.name; });
    return out;
}

std::string LocaleLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) {
            continue;
        }
        std::string language(value);
        language = language.substr(0, language.find_first_of(".@"));
        if (language == "C" || language == "POSIX") {
            return {};
        }
        return language;
    }
    return {};
}

std::optional<Dictionary> ChooseDictionary(const std::vector<Dictionary>& installed,
                                           std::string_view wanted, std::string_view locale) {
    auto named = [&](std::string_view name) {
        return std::find_if(installed.begin(), installed.end(),
                            [&](const Dictionary& d) { return d.name == name; });
    };
    for (std::string_view name : {wanted, locale}) {
        if (auto it = named(name); !name.empty() && it != installed.end()) {
            return *it;
        }
    }
    // A locale that names no language (C, POSIX, C.UTF-8) is most often a minimal session of an
    // English-writing user, not a reason to check with whatever sorts first.
    if (locale.empty()) {
        if (auto it = named("en_US"); it != installed.end()) {
            return *it;
        }
    }
    const std::string_view language = locale.empty() ? "en" : locale.substr(0, locale.find('_'));
    if (!language.empty()) {
        for (const Dictionary& d : installed) {
            if (d.name == language || d.name.starts_with(std::string(language) + "_")) {
                return d;
            }
        }
    }
    if (installed.empty()) {
        return std::nullopt;
    }
    return installed.front();
}

}  // namespace velloran::spelling
