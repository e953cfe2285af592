#include "Saving.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "Cipher.h"
#include "Document.h"
#include "Error.h"
#include "FileIO.h"
#include "SealedDocument.h"

namespace velloran {
namespace {

struct KeyState {
    std::string key;
    bool enciphered;
};

KeyState Remember(const State& st) {
    return {st.CipherKey, st.Enciphered};
}

void Restore(State& st, KeyState before) {
    st.CipherKey = std::move(before.key);
    st.Enciphered = before.enciphered;
}

enum class Keying { Plain, Cipher, Declined };

// The key prompt of one pass over the document. The prompt never shows the key in force, so a
// different key is most likely a typing slip that would leave the file under a key nobody knows:
// it is confirmed first, and a declined one is put back.
Keying AskPassKey(Session& s, std::string_view question) {
    const KeyState before = Remember(s.st);
    if (!NeedsCipher(s)) {
        return Keying::Plain;
    }
    if (!before.key.empty() && s.st.CipherKey != before.key &&
        !s.dialogs.AskYesNo(std::string(question))) {
        Restore(s.st, before);
        return Keying::Declined;
    }
    return Keying::Cipher;
}

// The logical lines of slots 0 to LastSection, enciphered with one running index when a key is
// given; readsBack tells whether every enciphered line would read back as one line.
DocumentBuffer JoinSlots(Session& s, const std::string* key, bool& readsBack) {
    DocumentBuffer lines = JoinedSections(s);
    readsBack = true;
    if (key) {
        KeyIndex index;
        for (std::size_t i = 0; i < lines.LineCount(); ++i) {
            const std::span<char> line = lines.MutableLine(i);
            EncipherLine(line, *key, index);
            readsBack = readsBack && ReadsBack(std::string_view(line.data(), line.size()));
        }
    }
    return lines;
}

// Said once a run, and the backup not made: another user could lead it elsewhere.
void TellBackupRefused(Session& s, std::string_view message, const std::string& path) {
    if (!s.st.BackupRefusalTold) {
        s.st.BackupRefusalTold = true;
        s.dialogs.ShowMessage(Format(message, path));
    }
}

// A symbolic link at a backup's name is never written through (ReplaceFile refuses it as well);
// here the user learns of it.
bool LinkInTheWay(Session& s, const std::string& backup) {
    if (!IsSymbolicLink(backup)) {
        return false;
    }
    TellBackupRefused(s, kBackupLinkRefused, backup);
    return true;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    // An empty folder means the current one, not the root.
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

bool SaveDocument(Session& s) {
    State& st = s.st;
    if (IsSealedName(st.FileName)) {
        return SaveSealedDocument(s);
    }
    if (st.Sealed && !s.dialogs.AskYesNo(Format(kSaveUnsealed, st.FileName))) {
        return false;
    }
    const KeyState before = Remember(st);
    const Keying keying = AskPassKey(s, kKeyDiffersDocument);
    if (keying == Keying::Declined) {
        return false;
    }
    const bool cipher = keying == Keying::Cipher;
    st.EncFileName = EncipheredName(st.FileName);
    const std::string target = cipher ? st.EncFileName : st.FileName;

    // Built aside, so that a save that does not go on leaves the buffer for Decript and Reload.
    bool readsBack = true;
    DocumentBuffer lines = JoinSlots(s, cipher ? &st.CipherKey : nullptr, readsBack);
    // A CR or LF made by the cipher would cut the line when read back, and the rest of the file
    // could never be deciphered.
    if (!readsBack) {
        Restore(st, before);
        throw Error(std::string(kKeyCannotEncipher));
    }
    if (!MayReplace(s, target)) {
        Restore(st, before);
        return false;
    }
    s.buffer = std::move(lines);

    MakeBackups(s, target);
    WriteDocument(target, s.buffer, std::nullopt,
                  target == st.FileName ? Naming::kGiven : Naming::kMadeUp);
    RememberOnDisk(st, target);
    st.Sealed = false;
    st.Modified = false;
    s.dialogs.ShowStatusNotice(target);
    return true;
}

bool SaveWithPrompt(Session& s, bool showDoNotExit) {
    const PromptResult answer = s.dialogs.AskSaveDocument(s.st.FileName, showDoNotExit);
    switch (answer.result) {
        case ModalResult::OK:
            s.st.FileName = answer.text;
            return SaveDocument(s);
        case ModalResult::No:
            return true;
        default:
            return false;
    }
}

void MakeBackups(Session& s, const std::string& target) {
    State& st = s.st;
    if (!st.BackupPrev && !st.BackupCurr) {
        return;
    }
    std::string folder = FolderPart(target);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    st.DocFolder = folder.empty() ? "." : folder;
    const std::string shortName = FileNamePart(target);

    std::string backupFolder;
    switch (st.BackupType) {
        case 1:
            backupFolder = InFolder(st.DocFolder, st.BackupFolder);
            break;
        case 2:
            backupFolder = st.BackupFolder;
            break;
        default:
            backupFolder = st.DocFolder;
            break;
    }
    if (!backupFolder.empty()) {
        MakeDirectory(backupFolder);
    }
    // A folder of the backups' own, unlike the document's, is one the user must own: another
    // user may have made it, or a link in its place, in a shared folder.
    const bool ownFolder = (st.BackupType == 1 || st.BackupType == 2) && !st.BackupFolder.empty();
    if (ownFolder && IsForeignFolder(backupFolder)) {
        TellBackupRefused(s, kBackupFolderRefused, backupFolder);
        st.BackupPrev = false;  // as after a copy that failed
        return;
    }
    const Naming naming = ownFolder ? Naming::kMadeUpInOwnFolder : Naming::kMadeUp;
    const Naming targetNaming = target == st.FileName ? Naming::kGiven : Naming::kMadeUp;
    const std::string base = InFolder(backupFolder, shortName);
    // Backups show no more than the document: a private document has private backups.
    FileAccess access;
    if (auto document = AccessOf(target, targetNaming)) {
        access = *document;
    } else {
        access.mode = NewFileMode();
    }

    if (st.BackupPrev) {
        const std::string prev = BackupName(base, "-prev");
        if (!LinkInTheWay(s, prev)) {
            if (auto old = ReadWholeFile(target, static_cast<std::size_t>(-1), targetNaming)) {
                ReplaceFile(
                    prev, [&](OutputFile& out) { out.Write(*old); }, access, naming);
            }
        }
        st.BackupPrev = false;
    }
    if (st.BackupCurr) {
        const std::string copy = BackupName(base, "-copy");
        if (!LinkInTheWay(s, copy)) {
            WriteBackupCopy(s, copy, access, naming);
        }
    }
}

std::string BackupName(std::string_view path, std::string_view suffix) {
    if (path.size() < 4) {
        return std::string(suffix) + std::string(path);
    }
    const std::size_t cut = path.size() - 4;
    std::string out;
    out.reserve(path.size() + suffix.size());
    out.append(path.substr(0, cut)).append(suffix).append(path.substr(cut));
    return out;
}

void WriteBackupCopy(Session& s, const std::string& path, const std::optional<FileAccess>& access,
                     Naming naming) {
    // The copy of a sealed save has the ".vls" name of its target.
    if (IsSealedName(path)) {
        WriteSealedCopy(s, path, access, naming);
        return;
    }
    const KeyState before = Remember(s.st);
    const Keying keying = AskPassKey(s, kKeyDiffersCopy);
    // The key given here serves the copy alone. The key in force stays the one the document was
    // just written with, so that the next save's prompt and its question compare against that.
    const std::string copyKey = s.st.CipherKey;
    Restore(s.st, before);
    if (keying == Keying::Declined) {
        return;
    }
    const bool cipher = keying == Keying::Cipher;
    bool readsBack = true;
    const DocumentBuffer lines = JoinSlots(s, cipher ? &copyKey : nullptr, readsBack);
    if (!readsBack) {
        return;
    }
    try {
        WriteDocument(path, lines, access, naming);
    } catch (const Error&) {
        // A backup never stops the save; the earlier copy is still whole.
    }
}

}  // namespace velloran
