#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloran::spelling {

// An installed Hunspell dictionary: a pair of files name.aff and name.dic in one folder, its
// name the language it is for ("en_US", "de_DE").
struct Dictionary {
    std::string name;
    std::string aff;
    std::string dic;
    friend bool operator==(const Dictionary&, const Dictionary&) = default;
};

// Where dictionaries are looked for, first to last: the folders of $DICPATH (separated by ":")
// when it is set, as Hunspell's own tools take it; otherwise $XDG_DATA_HOME/hunspell (the
// user's own) and /usr/share/hunspell (the system's packages).
std::vector<std::string> DictionaryFolders();

// The dictionaries in those folders, by name; a name found in an earlier folder hides the same
// name in later ones. A .dic without its .aff (hyphenation patterns, thesauri) is none.
std::vector<Dictionary> FindDictionaries(const std::vector<std::string>& folders);
inline std::vector<Dictionary> InstalledDictionaries() {
    return FindDictionaries(DictionaryFolders());
}

// The language of the user's locale as dictionaries are named, "en_US" for LANG=en_US.UTF-8:
// from LC_ALL, LC_MESSAGES or LANG, the first that is set; empty for C and POSIX.
std::string LocaleLanguage();

// The dictionary to check with: the one named wanted when it is installed; otherwise that of
// the locale's language, one for the same language in another country ("en_GB" for "en_US"),
// or the first installed; nothing when none is. A locale without a language (empty) counts as
// English: "en_US", else any "en_*".
std::optional<Dictionary> ChooseDictionary(const std::vector<Dictionary>& installed,
                                           std::string_view wanted, std::string_view locale);

}  // namespace velloran::spelling
