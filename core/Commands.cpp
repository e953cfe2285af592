#include "Commands.h"

#include "Cipher.h"
#include "Document.h"
#include "FileIO.h"
#include "Saving.h"
#include "Seal.h"
#include "SealedDocument.h"

namespace velloran {

void ChooseStartDocument(Session& s, const std::optional<std::string>& argument,
                         const std::function<std::optional<std::string>()>& chooseFile,
                         const std::function<bool(const std::string&)>& hasRecord) {
    State& st = s.st;
    if (argument && !argument->empty() &&
        (IsExistingFile(*argument) || (hasRecord && hasRecord(*argument)))) {
        st.FileName = *argument;
    } else if (IsExistingFile("Velloran.vlp")) {
        st.FileName = "Velloran.vlp";
    } else if (IsExistingFile(st.EncFileName)) {
        st.FileName = st.EncFileName;
        st.Enciphered = true;
    } else if (auto chosen = chooseFile ? chooseFile() : std::nullopt) {
        st.FileName = *chosen;
    }
}

void OpenChosenDocument(Session& s) {
    State& st = s.st;
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

void OpenStartDocument(Session& s, const std::optional<std::string>& argument,
                       const std::function<std::optional<std::string>()>& chooseFile) {
    ChooseStartDocument(s, argument, chooseFile);
    OpenChosenDocument(s);
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
    // As last saved: under the enciphered name once the document is enciphered.
    const std::string source = s.st.Enciphered ? EncipheredName(s.st.FileName) : s.st.FileName;
    if (s.buffer.Empty() && IsExistingFile(source)) {
        ReadDocument(source, s.buffer);
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
