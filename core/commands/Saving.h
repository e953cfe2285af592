#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/document/Host.h"
#include "core/protection/Protection.h"
#include "core/storage/FileIO.h"

namespace velloran {

// Saves the document under FileName (or its enciphered name): joins slots 0 to LastSection,
// protects them as the document is protected (Protection.h), makes the backups the settings ask
// for, writes the file and shows the notice. A sealed document is only written under another
// name after the user agreed to write it without encryption.
// Throws Error when the file cannot be written, or there is no key to protect it with: nothing
// on disk changes in the latter case. Returns false when the user stopped the save (a key that
// differs from the one in force, a file changed on disk by another program): then nothing is
// written. A save that does not go on leaves the buffer and the run's keys as they were.
bool SaveDocument(Session& s);
// The same under fileName, which becomes FileName once the file is written; a save that does
// not go on, or fails, leaves FileName as it was.
bool SaveDocumentAs(Session& s, const std::string& fileName);

// The Save Document dialog, then SaveDocumentAs the name given for "Save Document". True when the
// document was saved or the user chose not to save it; false for "Do Not Exit", a closed dialog,
// or a save the user stopped at a question, so that an exit does not lose the edits.
bool SaveWithPrompt(Session& s, bool showDoNotExit);

// The "-prev" copy of target as it is on disk and the "-copy" of the new content, as the backup
// policy asks; the copy is protected as save writes the document (without one, as the document
// is now). Every failure is silent. The backups' names are made up, so no symbolic link there
// is followed, and a backup folder other than the document's is only used when it is the user's
// own (see Naming); a backup not made for that reason is said once a run. target goes by
// targetNaming; by default it is made up when it is not FileName (the enciphered name).
// copyWriter, when given, is the "-copy"'s writer as the save already asked for it (nothing
// there: no copy), so that no prompt comes between the last look at the disk and the write.
void MakeBackups(Session& s, const std::string& target, const DocumentWriter* save = nullptr,
                 std::optional<Naming> targetNaming = std::nullopt,
                 const std::optional<DocumentWriter>* copyWriter = nullptr);

// The folder the backups of target go to, as the backup policy says.
std::string BackupFolderOf(const State& st, const std::string& target);

// path with suffix put before its last four characters: "d/June.vlp" -> "d/June-prev.vlp".
std::string BackupName(std::string_view path, std::string_view suffix);

// Writes the slots' lines to path, protected as save's copy is (the legacy cipher asks for the
// key again); without save, as the document is now. The copy gets the permission bits of
// access when given. Writes nothing when the copy cannot be made; never reports a failure.
void WriteBackupCopy(Session& s, const std::string& path,
                     const std::optional<FileAccess>& access = std::nullopt,
                     const DocumentWriter* save = nullptr, Naming naming = Naming::kMadeUp);

// Whether a save may replace target. A sealed file this run could not open is asked about. A
// change on disk of the document is merged into the sections first, and the save stops when
// that left conflicts for the writer to see; where the version on disk cannot be merged (it
// cannot be read with the keys in use) the user is asked whether to overwrite it, and else
// offered to save under a new name, which SavedElsewhere tells.
enum class Replace { Go, Stop, SavedElsewhere };
Replace Replacing(Session& s, const std::string& target);
bool MayReplace(Session& s, const std::string& target);

// The name offered for saving beside a version on disk that cannot be merged:
// "d/June.vlp" -> "d/June (edited here).vlp".
std::string NewNameFor(const std::string& fileName);

inline constexpr std::string_view kReplaceUnopened =
    "%s is a sealed document that was not opened, so the text shown here is not its text. "
    "Replace it with the text shown here?";
inline constexpr std::string_view kChangedOnDiskUnmergeable =
    "%s has been changed on disk by another program since it was opened or saved here, and that "
    "version cannot be merged with this one: %s. Overwrite the version on disk?";
inline constexpr std::string_view kSaveUnderNewName =
    "Save the document under a new name instead, and keep the version on disk?";
inline constexpr std::string_view kBackupFolderRefused =
    "No backups are made in %s: it is a symbolic link or belongs to another user, who could "
    "lead the backups over other files. Choose a backup folder of your own in File Parameters.";
inline constexpr std::string_view kBackupLinkRefused =
    "No backup was made as %s: it is a symbolic link, which could lead the backup over another "
    "file, and backups are never written through one. Remove the link to have the backup made.";
inline constexpr std::string_view kBackupForeignRefused =
    "No backup was made as %s: a file of another user stands there, which this folder does not "
    "let you replace. Have it removed, or choose a backup folder of your own in File Parameters.";
inline constexpr std::string_view kSaveUnsealed =
    "%s is not a sealed (.vls) name: the document would be written without encryption. "
    "Write it without encryption?";

}  // namespace velloran
