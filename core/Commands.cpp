#include "Commands.h"

#include "Cipher.h"
#include "Document.h"
#include "FileIO.h"
#include "Saving.h"
#include "Seal.h"
#include "SealedDocument.h"

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
    if (IsExistingFile(st.FileName) && IsSealedName(st.FileName)) {
        // Until it is read, a save must not replace it with the empty sections shown.
        st.UnopenedSealed = st.FileName;
        RememberOnDisk(st, st.FileName);
        OpenSealedDocument(s);
    } else if (IsExistingFile(st.FileName)) {
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
    // A sealed document is read again from its file, with its key.
    if (IsSealedName(s.st.FileName)) {
        return OpenSealedDocument(s);
    }
    if (!AskKey(s)) {
        return false;
    }
    DecipherBuffer(s);
    SplitSections(s);
    return true;
}

void SaveEncript(Session& s) {
    // A sealed save asks for its key itself.
    if (IsSealedName(s.st.FileName) || AskKey(s)) {
        SaveDocument(s);
    }
}

}  // namespace velloran
