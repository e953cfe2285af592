#pragma once

#include <string>

namespace velloran {

inline constexpr int kSectionCount = 51;  // slot 0 holds the text before the first marker
inline constexpr int kLastSlot = kSectionCount - 1;

// The state shared by every part of the editor, one instance for the whole run.
struct State {
    std::string FileName = "Velloran.vlp";
    std::string EncFileName = "Velloran.vle";
    std::string DocFolder = ".";
    std::string BackupFolder = "Backup";
    bool BackupPrev = false;
    bool BackupCurr = false;
    int BackupType = 0;
    bool Enciphered = false;
    std::string CipherKey;
    bool ExitPrompt = true;
    bool FirstShow = true;
    int LastSection = 0;
    int Panel1Section = 0;
    int Panel2Section = 0;
    int ActiveSection = 0;
    int PanelMode = 1;
    bool Modified = false;
    std::string SearchText;
    // Editor format.
    std::string FontFace = "Courier New";
    int FontSize = 10;
    bool WordWrap = true;
};

// The run's one instance.
State& state();

// Puts every value back to its initial value; tests start from here.
void ResetState();

}  // namespace velloran
