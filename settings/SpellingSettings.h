#pragma once

#include <string>

// The spelling choices, in a file of their own so that QMV.ini keeps exactly the keys it always
// had: $XDG_CONFIG_HOME/velloran/spelling.ini, by default ~/.config/velloran/spelling.ini.
namespace velloran {

struct SpellingSettings {
    std::string Language;  // a dictionary's name; empty: the locale's
    bool Check = true;
    bool operator==(const SpellingSettings&) const = default;
};

std::string SpellingSettingsPath();

// The defaults for what is missing.
SpellingSettings LoadSpellingSettings();

// Replaces the file whole. Throws Error "Unable to write to PATH".
void SaveSpellingSettings(const SpellingSettings& settings);

}  // namespace velloran
