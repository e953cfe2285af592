#include "settings/ViewSettings.h"

#include <algorithm>

#include "core/document/Error.h"
#include "core/storage/StateFolder.h"
#include "settings/ProfileFile.h"

namespace velloran {

std::string ViewSettingsPath() {
    std::string base = UserFolder("XDG_CONFIG_HOME", ".config");
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return (base == "/" ? base : base + "/") + "velloran/view.ini";
}

ViewSettings LoadViewSettings() {
    const std::string path = ViewSettingsPath();
    ViewSettings s;
    s.DarkPage = ReadProfileInt(kViewSection, "DarkPage", 0, path) != 0;
    s.Zoom = std::clamp(ReadProfileInt(kViewSection, "Zoom", 0, path), kLeastZoom, kMostZoom);
    return s;
}

void SaveViewSettings(const ViewSettings& s) {
    const std::string path = ViewSettingsPath();
    if (!WriteProfileString(kViewSection, "DarkPage", s.DarkPage ? "1" : "0", path) ||
        !WriteProfileString(kViewSection, "Zoom",
                            std::to_string(std::clamp(s.Zoom, kLeastZoom, kMostZoom)), path)) {
        throw Error(Format(kUnableToWrite, path));
    }
}

}  // namespace velloran
