#include "Commands.h"

#include "Cipher.h"
#include "Document.h"
#include "FileIO.h"
#include "Saving.h"

namespace velloran {

void OpenStartDocument(Session& s, const std::optional<std::string>& argument,
                       const std::function<std::optional<std::string>()>& chooseFile) {
    State& st = s.st;
    if (argument && !argument->empty() && IsExistingFile(*argument)) {
        st.FileName = *argument;
    } else if (IsExistingFile("Velloran.vlp")) {
        st.FileName = "Velloran.vlp";
    } else if (IsExistingFile(st.EncFileName)) {
        st.FileName = st.EncFileName;
        st.Enciphered = true;
    } else if (auto chosen = chooseFile ? chooseFile() : std::nullopt) {
        st.FileName = *chosen;
    }
    if (IsExistingFile(st.FileName)) {
        ReadDocument(st.FileName, s.buffer);
        RememberOnDisk(st, st.FileName);
        if (IsEncipheredName(st.FileName) && AskKey(s)) {
            DecipherBuffer(s);
        }
        SplitSections(s);
    }
}

bool Decript(Session& s) {
    if (s.st.Modified && !s.dialogs.AskYesNo(std::string(kDiscardChanges))) {
        return false;
    }
    if (!AskKey(s)) {
        return false;
    }
    DecipherBuffer(s);
    SplitSections(s);
    return true;
}

void SaveEncript(Session& s) {
    if (AskKey(s)) {
        SaveDocument(s);
    }
}

}  // namespace velloran
