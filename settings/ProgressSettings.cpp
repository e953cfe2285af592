#include "settings/ProgressSettings.h"

#include <algorithm>

#include "core/document/Error.h"
#include "core/storage/StateFolder.h"
#include "settings/ProfileFile.h"

namespace velloran {

std::string ProgressSettingsPath() {
    std::string base = UserFolder("XDG_CONFIG_HOME", ".config");
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return (base == "/" ? base : base + "/") + "velloran/progress.ini";
}

ProgressSettings LoadProgressSettings() {
    const std::string path = ProgressSettingsPath();
    ProgressSettings s;
    const int goal = ReadProfileInt(kProgressSection, "Goal", s.Goal, path);
    s.Goal = std::clamp(goal, 0, kMostGoal);
    const int start = ReadProfileInt(kProgressSection, "DayStart", s.DayStart, path);
    if (start >= 0 && start <= 23) {
        s.DayStart = start;
    }
    return s;
}

void SaveProgressGoal(int goal) {
    const std::string path = ProgressSettingsPath();
    if (!WriteProfileString(kProgressSection, "Goal",
                            std::to_string(std::clamp(goal, 0, kMostGoal)), path)) {
        throw Error(Format(kUnableToWrite, path));
    }
}

}  // namespace velloran
