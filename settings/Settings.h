#pragma once

#include <string>

#include "core/document/State.h"

// The editor's settings file: window sizes, the editor format and the backup policy, kept from
// one run to the next in section "Velloran" of the profile file "QMV.ini".
namespace velloran {

inline constexpr char kSettingsFile[] = "QMV.ini";
inline constexpr char kSettingsSection[] = "Velloran";

// The values of the settings file; a default record holds the values used for missing keys.
// The names of the format and backup values are those of the shared State, so the windows copy
// them across one for one.
struct Settings {
    int Left = 50;  // SectionListWindow's bounds
    int Top = 0;
    int Width = 250;
    int Height = 650;
    int Width2 = 250;  // DocumentWindow's size; its position always follows SectionListWindow
    int Height2 = 650;
    int FontSize = 10;  // editor font, in points
    std::string FontFace = "Courier New";
    bool WordWrap = true;
    bool BackupPrev = false;
    bool BackupCurr = false;
    std::string BackupFolder = "backup";
    int BackupType = 0;

    bool operator==(const Settings&) const = default;
};

// The editor format and the backup policy, from a record into the run's state and back; the
// window bounds are the windows' business.
void ApplyToState(const Settings& settings, State& st);
void TakeFromState(const State& st, Settings& settings);

// Reads every key, each with its default when it is missing or unreadable.
Settings LoadSettings();

// Writes every key, then flushes the file. Throws Error "Unable to write to QMV.ini" at the first
// key that cannot be written; the keys before it stay written.
void SaveSettings(const Settings& settings);

}  // namespace velloran
