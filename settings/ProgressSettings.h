#pragma once

#include <string>

// What the writer chose for the progress log: a daily goal in words and the hour a day starts,
// kept in $XDG_CONFIG_HOME/velloran/progress.ini, section "Progress", apart from QMV.ini.
namespace velloran {

inline constexpr char kProgressSection[] = "Progress";
inline constexpr int kMostGoal = 1000000;

struct ProgressSettings {
    int Goal = 0;      // words a day; 0 for none
    int DayStart = 4;  // the hour, 0 to 23, before which a time counts for the day before
    bool operator==(const ProgressSettings&) const = default;
};

// $XDG_CONFIG_HOME/velloran/progress.ini, by default ~/.config/velloran/progress.ini.
std::string ProgressSettingsPath();

// The values, each its default where it is missing or out of range.
ProgressSettings LoadProgressSettings();

// Writes the goal, replacing the file only once it is whole. Throws Error "Unable to write to
// %s" with the file's path.
void SaveProgressGoal(int goal);

}  // namespace velloran
