#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FileIO.h"
#include "Host.h"

namespace velloran {

// Joins slots 0 to LastSection, enciphers them when the document is enciphered, makes the
// backups the settings ask for, writes FileName (or its enciphered name) and shows the notice.
// A ".vls" FileName is saved sealed (SaveSealedDocument); a sealed document is only written under
// another name after the user agreed to write it without encryption.
// Throws Error when the file cannot be written or the key cannot encipher the document; nothing
// on disk changes in the latter case. Returns false when the user declined a key that differs
// from the one in force, or declined to overwrite a file changed on disk by another program:
// then nothing is written. A save that does not go on leaves the buffer,
// CipherKey and Enciphered as they were.
bool SaveDocument(Session& s);

// The Save Document dialog, then SaveDocument for "Save Document". True when the document was
// saved or the user chose not to save it; false for "Do Not Exit", a closed dialog, or a save
// the user stopped at the key question, so that an exit does not lose the edits.
bool SaveWithPrompt(Session& s, bool showDoNotExit);

// The "-prev" copy of target as it is on disk and the "-copy" of the new content, as the backup
// policy asks. Every failure is silent. The backups' names are made up, so no symbolic link there
// is followed, and a backup folder other than the document's is only used when it is the user's
// own (see Naming); a backup not made for that reason is said once a run. target is made up too
// when it is not FileName (the enciphered name).
void MakeBackups(Session& s, const std::string& target);

// path with suffix put before its last four characters: "d/June.vlp" -> "d/June-prev.vlp".
std::string BackupName(std::string_view path, std::string_view suffix);

// Writes the slots' lines to path, enciphered when the document is (asking for the key again);
// a ".vls" path, the copy of a sealed save, is sealed with the key in use without asking. The
// copy gets the permission bits of access when given. Writes nothing when the copy cannot be
// made; never reports a failure.
void WriteBackupCopy(Session& s, const std::string& path,
                     const std::optional<FileAccess>& access = std::nullopt,
                     Naming naming = Naming::kMadeUp);

inline constexpr std::string_view kKeyCannotEncipher =
    "This key cannot encipher this document: the enciphered file could not be read back. "
    "Please save again with another key.";
inline constexpr std::string_view kKeyDiffersDocument =
    "The key differs from the one in use. Encipher the document with the new key?";
inline constexpr std::string_view kKeyDiffersCopy =
    "The key differs from the one in use. Encipher the backup copy with the new key?";
inline constexpr std::string_view kBackupFolderRefused =
    "No backups are made in %s: it is a symbolic link or belongs to another user, who could "
    "lead the backups over other files. Choose a backup folder of your own in File Parameters.";
inline constexpr std::string_view kBackupLinkRefused =
    "No backup was made as %s: it is a symbolic link, which could lead the backup over another "
    "file, and backups are never written through one. Remove the link to have the backup made.";

}  // namespace velloran
