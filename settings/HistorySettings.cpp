#include "settings/HistorySettings.h"

#include "core/storage/StateFolder.h"
#include "settings/ProfileFile.h"

namespace velloran {

std::string HistorySettingsPath() {
    std::string base = UserFolder("XDG_CONFIG_HOME", ".config");
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return (base == "/" ? base : base + "/") + "velloran/history.ini";
}

HistorySettings LoadHistorySettings() {
    const std::string path = HistorySettingsPath();
    HistorySettings s;
    const int keep = ReadProfileInt(kHistorySection, "Keep", 1, path);
    if (keep == 0 || keep == 1) {
        s.Keep = keep == 1;
    }
    const int times = ReadProfileInt(kHistorySection, "BudgetTimes", s.BudgetTimes, path);
    if (times >= 1 && times <= kMostBudgetTimes) {
        s.BudgetTimes = times;
    }
    const int least = ReadProfileInt(kHistorySection, "LeastBudgetMiB", s.LeastBudgetMiB, path);
    if (least >= 1 && least <= kMostLeastBudgetMiB) {
        s.LeastBudgetMiB = least;
    }
    return s;
}

HistoryRules HistoryRulesOf(const HistorySettings& s) {
    HistoryRules rules;
    rules.keep = s.Keep;
    rules.budgetTimes = static_cast<std::uint64_t>(s.BudgetTimes);
    rules.leastBudget = static_cast<std::uint64_t>(s.LeastBudgetMiB) << 20;
    return rules;
}

}  // namespace velloran
