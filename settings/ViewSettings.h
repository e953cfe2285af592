#pragma once

#include <string>

// How the editors are shown, apart from QMV.ini, whose font stays the one the user set:
// $XDG_CONFIG_HOME/velloran/view.ini, section "View".
namespace velloran {

inline constexpr char kViewSection[] = "View";
// Zoom is counted in points added to the font size of QMV.ini.
inline constexpr int kLeastZoom = -8;
inline constexpr int kMostZoom = 40;

struct ViewSettings {
    bool DarkPage = false;
    int Zoom = 0;
    bool operator==(const ViewSettings&) const = default;
};

// $XDG_CONFIG_HOME/velloran/view.ini, by default ~/.config/velloran/view.ini.
std::string ViewSettingsPath();

// The values, each its default where it is missing, and the zoom kept within its range.
ViewSettings LoadViewSettings();

// Writes both values, each replacing the file only once it is whole. Throws Error "Unable to
// write to %s" with the file's path.
void SaveViewSettings(const ViewSettings& settings);

}  // namespace velloran
