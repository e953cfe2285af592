#include "settings/Settings.h"

#include "core/document/Error.h"
#include "settings/ProfileFile.h"

namespace velloran {
namespace {

// Calls visit(key, value) for every value of the record, in the file's key order.
template <typename Record, typename Visit>
void ForEachKey(Record& s, Visit&& visit) {
    visit("Left", s.Left);
    visit("Top", s.Top);
    visit("Width", s.Width);
    visit("Height", s.Height);
    visit("Width2", s.Width2);
    visit("Heigh2", s.Height2);
    visit("Size", s.FontSize);
    visit("Font", s.FontFace);
    visit("Wrap", s.WordWrap);
    visit("BackupPrev", s.BackupPrev);
    visit("BackupCurr", s.BackupCurr);
    visit("BackupTemp", s.BackupFolder);
    visit("BackupType", s.BackupType);
}

void Read(const char* key, int& value) {
    value = ReadProfileInt(kSettingsSection, key, value, kSettingsFile);
}

void Read(const char* key, bool& value) {
    value = ReadProfileInt(kSettingsSection, key, value ? 1 : 0, kSettingsFile) != 0;
}

void Read(const char* key, std::string& value) {
    value = ReadProfileString(kSettingsSection, key, value, kSettingsFile);
}

std::string Text(int value) {
    return std::to_string(value);
}
std::string Text(bool value) {
    return value ? "1" : "0";
}
const std::string& Text(const std::string& value) {
    return value;
}

[[noreturn]] void ThrowUnableToWrite() {
    throw Error(Format(kUnableToWrite, kSettingsFile));
}

}  // namespace

Settings LoadSettings() {
    Settings settings;  // starts at the defaults
    ForEachKey(settings, [](const char* key, auto& value) { Read(key, value); });
    return settings;
}

void SaveSettings(const Settings& settings) {
    ForEachKey(settings, [](const char* key, const auto& value) {
        if (!WriteProfileString(kSettingsSection, key, Text(value), kSettingsFile)) {
            ThrowUnableToWrite();
        }
    });
    if (!FlushProfile(kSettingsFile)) {
        ThrowUnableToWrite();
    }
}

void ApplyToState(const Settings& settings, State& st) {
    st.FontFace = settings.FontFace;
    st.FontSize = settings.FontSize;
    st.WordWrap = settings.WordWrap;
    st.BackupPrev = settings.BackupPrev;
    st.BackupCurr = settings.BackupCurr;
    st.BackupFolder = settings.BackupFolder;
    st.BackupType = settings.BackupType;
}

void TakeFromState(const State& st, Settings& settings) {
    settings.FontFace = st.FontFace;
    settings.FontSize = st.FontSize;
    settings.WordWrap = st.WordWrap;
    settings.BackupPrev = st.BackupPrev;
    settings.BackupCurr = st.BackupCurr;
    settings.BackupFolder = st.BackupFolder;
    settings.BackupType = st.BackupType;
}

}  // namespace velloran
