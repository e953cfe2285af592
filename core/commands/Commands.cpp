#include "core/commands/Commands.h"

#include <sys/stat.h>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/protection/Protection.h"
#include "core/storage/FileIO.h"

namespace velloran {

namespace {

// A name that nothing stands under yet, in a folder that is there: a document to be created at
// its first save, as `editor NewBook.vlp` gives in any editor and New File hands a second
// instance. A dangling link is something standing there, not a new name.
bool IsNewDocumentName(const std::string& path) {
    struct stat st;
    if (path.back() == '/' || ::lstat(path.c_str(), &st) == 0) {
        return false;
    }
    const std::string folder = FolderPart(path);
    return ::stat(folder.empty() ? "." : folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void ChooseStartDocument(Session& s, const std::optional<std::string>& argument,
                         const std::function<std::optional<std::string>()>& chooseFile,
                         const std::function<bool(const std::string&)>& hasRecord) {
    State& st = s.st;
    if (argument && !argument->empty() &&
        (IsExistingFile(*argument) || (hasRecord && hasRecord(*argument)) ||
         IsNewDocumentName(*argument))) {
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
    if (IsExistingFile(s.st.FileName) && OpenDocumentFile(s, s.st.FileName)) {
        SplitSections(s);
        s.Taken(ProgressMoment::Opened);
        s.Versioned(VersionEvent::Opened);
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
    if (!ReadWithNewKey(s)) {
        return false;
    }
    SplitSections(s);
    // The text read with the new key is the document's as far as progress goes.
    s.Taken(ProgressMoment::Opened);
    s.Versioned(VersionEvent::Opened);
    return true;
}

void SaveEncript(Session& s) {
    if (AskKeyToEncipher(s)) {
        SaveDocument(s);
    }
}

}  // namespace velloran
