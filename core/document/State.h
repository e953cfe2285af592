#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/document/Encoding.h"

namespace velloran {

class SealKey;

inline constexpr int kSectionCount = 51;  // slot 0 holds the text before the first marker
inline constexpr int kLastSlot = kSectionCount - 1;

// What tells one version of a file on disk from another.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The state shared by every part of the editor, one instance for the whole run.
struct State {
    std::string FileName = "Velloran.vlp";
    std::string EncFileName = "Velloran.vle";
    std::string DocFolder = ".";
    std::string BackupFolder = "Backup";
    bool BackupPrev = false;
    bool BackupCurr = false;
    int BackupType = 0;
    // The user was told this run of a backup not made because another user could lead it
    // elsewhere; once is enough.
    bool BackupRefusalTold = false;
    bool Enciphered = false;
    std::string CipherKey;
    // The bytes that the last deciphering turned into line breaks. A right key never makes one,
    // so any means the text shown is not the file's.
    std::size_t DecipheredBreaks = 0;
    // The document is sealed: read from or last saved under a ".vls" name.
    bool Sealed = false;
    // The key sealed documents are opened and saved with, kept for the run so that later saves
    // with the same passphrase do not derive it again.
    std::shared_ptr<const SealKey> SealKeyInUse;
    // A sealed file this run could not open: its text is not what the editors show.
    std::string UnopenedSealed;
    bool ExitPrompt = true;
    bool FirstShow = true;
    int LastSection = 0;
    int Panel1Section = 0;
    int Panel2Section = 0;
    int ActiveSection = 0;
    int PanelMode = 1;
    bool Modified = false;
    // How the document's bytes are read as characters: decided by every split, the locale's
    // for a document not read yet.
    Encoding DocumentEncoding = LocaleEncoding();
    std::string SearchText;
    // Editor format.
    std::string FontFace = "Courier New";
    int FontSize = 10;
    bool WordWrap = true;
    // The documents as this run last read or wrote them, by path, so that a save notices when
    // another program or instance changed the file in between.
    std::map<std::string, FileIdentity> OnDisk;
    // The document's text as this run last read or saved it, deciphered, and the file it is the
    // text of: the base a change on disk is merged from. It shares the bytes the buffer and the
    // sections were read from, so that it costs no copy of its own.
    std::shared_ptr<const std::string> MergeBase;
    std::string MergeBasePath;
    // The version of MergeBasePath's file that the keys in use (the sealing key named here)
    // could not read, and why: not read again until the file or the key changes, since a sealed
    // file's key may take seconds to derive.
    std::optional<FileIdentity> UnreadableOnDisk;
    const void* UnreadableWithKey = nullptr;
    std::string UnreadableReason;
};

// The run's one instance.
State& state();

// Puts every value back to its initial value; tests start from here.
void ResetState();

}  // namespace velloran
