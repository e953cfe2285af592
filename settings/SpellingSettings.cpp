#include "settings/SpellingSettings.h"

#include "core/document/Error.h"
#include "core/storage/StateFolder.h"
#include "settings/ProfileFile.h"

namespace velloran {
namespace {

constexpr char kSection[] = "Spelling";

}  // namespace

std::string SpellingSettingsPath() {
    return UserFolder("XDG_CONFIG_HOME", ".config") + "/velloran/spelling.ini";
}

SpellingSettings LoadSpellingSettings() {
    const std::string path = SpellingSettingsPath();
    SpellingSettings s;
    s.Language = ReadProfileString(kSection, "Language", "", path);
    s.Check = ReadProfileInt(kSection, "Check", 1, path) != 0;
    return s;
}

void SaveSpellingSettings(const SpellingSettings& s) {
    const std::string path = SpellingSettingsPath();
    if (!WriteProfileString(kSection, "Language", s.Language, path) ||
        !WriteProfileString(kSection, "Check", s.Check ? "1" : "0", path)) {
        throw Error(Format(kUnableToWrite, path));
    }
}

}  // namespace velloran
