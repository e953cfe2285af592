#pragma once

#include <cstdint>
#include <string>

#include "core/history/HistoryRecorder.h"

// What the writer chose for the version history, kept in $XDG_CONFIG_HOME/velloran/history.ini,
// section "History", apart from QMV.ini: whether it is kept, and how large it may grow before the
// oldest versions go, as times the document and at least so many MiB.
namespace velloran {

inline constexpr char kHistorySection[] = "History";
inline constexpr int kMostBudgetTimes = 1000;
inline constexpr int kMostLeastBudgetMiB = 1 << 20;

struct HistorySettings {
    bool Keep = true;
    int BudgetTimes = 10;
    int LeastBudgetMiB = 200;
    bool operator==(const HistorySettings&) const = default;
};

// $XDG_CONFIG_HOME/velloran/history.ini, by default ~/.config/velloran/history.ini.
std::string HistorySettingsPath();

// The values, each its default where it is missing or out of range.
HistorySettings LoadHistorySettings();

// The rules the recorder keeps versions by, from the settings.
HistoryRules HistoryRulesOf(const HistorySettings& s);

}  // namespace velloran
