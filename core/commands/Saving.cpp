#include "core/commands/Saving.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/merge/DiskMerge.h"
#include "core/protection/Cipher.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

namespace velloran {
namespace {

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

// A backup that could not replace what stands at its name because that is another user's file
// (a sticky folder keeps others' files from being replaced): the user learns of it, as of a link.
void TellIfForeign(Session& s, const std::string& backup) {
    struct stat st;
    if (::lstat(backup.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid != ::geteuid()) {
        TellBackupRefused(s, kBackupForeignRefused, backup);
    }
}

std::string InFolder(const std::string& folder, const std::string& name) {
    // An empty folder means the current one, not the root.
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The folder part of target without a trailing separator, "." for none.
std::string DocumentFolderOf(const std::string& target) {
    std::string folder = FolderPart(target);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder.empty() ? "." : folder;
}

// False when the copy could not be written.
bool WriteCopyWith(Session& s, const DocumentWriter& writer, const std::string& path,
                   const std::optional<FileAccess>& access, Naming naming) {
    try {
        writer.Write(path, writer.Lines(s), access, naming);
        return true;
    } catch (const Error&) {
        // A backup never stops the save; the earlier copy is still whole.
        return false;
    }
}

// A change on disk since this run read or wrote target: merged into the sections, or, where it
// cannot be, asked about. accepted is the version the user agreed to overwrite, not asked about
// again; a version that came while a question was open is looked at in turn.
Replace LookAtDisk(Session& s, const std::string& target, std::optional<FileIdentity>& accepted) {
    State& st = s.st;
    // A program that never stops writing the file does not hold the save forever.
    constexpr int kMostLooks = 8;
    for (int looks = 0; looks < kMostLooks; ++looks) {
        // Another instance or program may have saved its own work there since; ours would bury
        // it.
        if (!ChangedOnDisk(st, target)) {
            return Replace::Go;
        }
        const std::optional<FileIdentity> seen = IdentityOf(target);
        if (accepted && seen == accepted) {
            return Replace::Go;
        }
        std::string reason;
        if (target == st.MergeBasePath) {
            DiskLook look = LookOnDisk(st);
            switch (look.kind) {
                case DiskLook::Kind::Same:
                case DiskLook::Kind::Gone:
                    return Replace::Go;
                case DiskLook::Kind::Changed:
                    // Merged first; where both versions of lines now stand in a section, the
                    // writer sees them before anything is written.
                    if (!TakeDiskText(s, std::move(look.text), true).flagged.empty()) {
                        return Replace::Stop;
                    }
                    continue;
                case DiskLook::Kind::Unreadable:
                    reason = look.reason;
                    break;
            }
        }
        const std::string question =
            reason.empty() ? Format(kChangedOnDisk, target)
                           : Format(Format(kChangedOnDiskUnmergeable, target), reason);
        if (s.dialogs.AskYesNo(question)) {
            accepted = seen;
            continue;
        }
        if (!s.dialogs.AskYesNo(std::string(kSaveUnderNewName))) {
            return Replace::Stop;
        }
        const PromptResult answer = s.dialogs.AskSaveDocument(NewNameFor(st.FileName), false);
        if (answer.result != ModalResult::OK || answer.text == st.FileName) {
            return Replace::Stop;
        }
        return SaveDocumentAs(s, answer.text) ? Replace::SavedElsewhere : Replace::Stop;
    }
    return Replace::Stop;
}

}  // namespace

std::string BackupFolderOf(const State& st, const std::string& target) {
    switch (st.BackupType) {
        case 1:
            return InFolder(DocumentFolderOf(target), st.BackupFolder);
        case 2:
            return st.BackupFolder;
        default:
            return DocumentFolderOf(target);
    }
}

bool SaveDocument(Session& s) {
    return SaveDocumentAs(s, s.st.FileName);
}

bool SaveDocumentAs(Session& s, const std::string& fileName) {
    State& st = s.st;
    // Nothing of the run changes before the file is written: while a prompt is open the run
    // goes on, and its recovery record must go on describing the document as it is.
    const Protection protection = SaveProtection(st, fileName);
    const std::string target = SaveTarget(st, fileName);
    if (WouldUnseal(st, protection) && !s.dialogs.AskYesNo(Format(kSaveUnsealed, fileName))) {
        return false;
    }
    // Asked before the key, so that a save the user stops costs no key derivation.
    if (IsUnopenedSealed(st, target) && !s.dialogs.AskYesNo(Format(kReplaceUnopened, target))) {
        return false;
    }
    std::optional<FileIdentity> accepted;
    switch (LookAtDisk(s, target, accepted)) {
        case Replace::Go:
            break;
        case Replace::Stop:
            return false;
        case Replace::SavedElsewhere:
            return true;
    }
    const auto writer = DocumentWriter::Ask(s, protection, target, kKeyDiffersDocument);
    if (!writer) {
        return false;
    }
    // Every prompt comes before the last look at the disk: the run goes on while one is open,
    // the watcher holds off, and another program may write the file meanwhile.
    std::optional<DocumentWriter> copyWriter;
    const bool copyAsked = st.BackupCurr && protection == Protection::Enciphered;
    if (copyAsked) {
        copyWriter = writer->ForCopy(s);
    }
    switch (LookAtDisk(s, target, accepted)) {
        case Replace::Go:
            break;
        case Replace::Stop:
            return false;
        case Replace::SavedElsewhere:
            return true;
    }
    // Built aside, so that a save that does not go on leaves the buffer for Decript and Reload.
    DocumentBuffer lines = writer->Lines(s);
    s.buffer = std::move(lines);

    // The enciphered name is one the editor made up: no link there is followed.
    const Naming targetNaming = target == fileName ? Naming::kGiven : Naming::kMadeUp;
    MakeBackups(s, target, &*writer, targetNaming, copyAsked ? &copyWriter : nullptr);
    writer->Write(target, s.buffer, std::nullopt, targetNaming);
    writer->KeepKey(st);
    st.FileName = fileName;
    st.EncFileName = EncipheredName(fileName);
    RememberOnDisk(st, target);
    // The enciphered lines were made from the sections, which are the text written.
    KeepMergeBase(
        st, target,
        protection == Protection::Enciphered ? JoinedSections(s).Bytes() : s.buffer.Bytes());
    if (IsUnopenedSealed(st, target)) {
        st.UnopenedSealed.clear();
    }
    st.Modified = false;
    s.Taken(ProgressMoment::Saved);
    s.Versioned(VersionEvent::Saved);
    s.dialogs.ShowStatusNotice(target);
    return true;
}

bool SaveWithPrompt(Session& s, bool showDoNotExit) {
    const PromptResult answer = s.dialogs.AskSaveDocument(s.st.FileName, showDoNotExit);
    switch (answer.result) {
        case ModalResult::OK:
            return SaveDocumentAs(s, answer.text);
        case ModalResult::No:
            return true;
        default:
            return false;
    }
}

void MakeBackups(Session& s, const std::string& target, const DocumentWriter* save,
                 std::optional<Naming> targetNaming,
                 const std::optional<DocumentWriter>* copyWriter) {
    State& st = s.st;
    if (!st.BackupPrev && !st.BackupCurr) {
        return;
    }
    st.DocFolder = DocumentFolderOf(target);
    const std::string shortName = FileNamePart(target);
    const std::string backupFolder = BackupFolderOf(st, target);
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
    if (!targetNaming) {
        targetNaming = target == st.FileName ? Naming::kGiven : Naming::kMadeUp;
    }
    const std::string base = InFolder(backupFolder, shortName);
    // Backups show no more than the document: a private document has private backups.
    FileAccess access;
    if (auto document = AccessOf(target, *targetNaming)) {
        access = *document;
    } else {
        access.mode = NewFileMode();
    }

    if (st.BackupPrev) {
        const std::string prev = BackupName(base, "-prev");
        if (!LinkInTheWay(s, prev)) {
            if (auto old = ReadWholeFile(target, static_cast<std::size_t>(-1), *targetNaming)) {
                if (!ReplaceFile(
                        prev, [&](OutputFile& out) { out.Write(*old); }, access, naming)) {
                    TellIfForeign(s, prev);
                }
            }
        }
        st.BackupPrev = false;
    }
    if (st.BackupCurr) {
        const std::string copy = BackupName(base, "-copy");
        if (!LinkInTheWay(s, copy)) {
            const DocumentWriter inForce = DocumentWriter::InForce(st, SaveProtection(st));
            std::optional<DocumentWriter> asked;
            if (!copyWriter) {
                asked = (save ? save : &inForce)->ForCopy(s);
            }
            const std::optional<DocumentWriter>& writer = copyWriter ? *copyWriter : asked;
            if (writer && !WriteCopyWith(s, *writer, copy, access, naming)) {
                TellIfForeign(s, copy);
            }
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
                     const DocumentWriter* save, Naming naming) {
    const DocumentWriter inForce = DocumentWriter::InForce(s.st, SaveProtection(s.st));
    const auto writer = (save ? save : &inForce)->ForCopy(s);
    if (writer) {
        WriteCopyWith(s, *writer, path, access, naming);
    }
}

Replace Replacing(Session& s, const std::string& target) {
    if (IsUnopenedSealed(s.st, target) && !s.dialogs.AskYesNo(Format(kReplaceUnopened, target))) {
        return Replace::Stop;
    }
    std::optional<FileIdentity> accepted;
    return LookAtDisk(s, target, accepted);
}

bool MayReplace(Session& s, const std::string& target) {
    return Replacing(s, target) == Replace::Go;
}

std::string NewNameFor(const std::string& fileName) {
    const std::string name = FileNamePart(fileName);
    const std::size_t dot = name.rfind('.');
    const std::size_t cut =
        fileName.size() - name.size() + (dot == std::string::npos || dot == 0 ? name.size() : dot);
    return fileName.substr(0, cut) + " (edited here)" + fileName.substr(cut);
}

}  // namespace velloran
