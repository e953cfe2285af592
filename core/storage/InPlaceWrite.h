#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/storage/FileIO.h"

namespace velloran {

// Writes what produce writes over the regular file target itself, for ReplaceFile's in-place way.
// Before the first byte is overwritten, the old bytes are copied to the state folder as
// "secured-<device>-<inode>" (mode 0600, with the file's absolute path, size and modification
// time, flushed to disk and locked while the write goes on). Before each piece of the new bytes
// is written, the copy records their checksums, flushed to disk, and after it the file's size and
// modification time, so that a start after a kill can tell the file as the write left it from one
// changed since. When writing or flushing fails, or produce throws, the old bytes are put back;
// the copy is removed once the new bytes are on disk. A copy that a killed writer left for the
// same file is put back first, so that its bytes count as the old ones (one whose path now leads
// to another file, or whose file was changed since, is set aside, as RestoreInterruptedWrites
// does); while another process is writing the same file, the write fails. Everything in the state
// folder is reached relative to the folder once it is known to be private (StateFolder.h).
// access, when given, sets the permission bits (and group) before anything is written. expected,
// when given, is the file found at target before: another one found there now is not written.
// A failure comes with the system's reason.
WriteResult WriteInPlace(const std::string& target, const std::function<void(OutputFile&)>& produce,
                         const std::optional<FileAccess>& access,
                         const struct stat* expected = nullptr);

// Why the old bytes of an interrupted write were not put back.
enum class KeptBecause {
    kReplaced,          // the file is gone or another file has its name: set aside for good
    kChanged,           // the file was changed since the write was interrupted: set aside for good
    kUnsure,            // whether it was changed cannot be told: set aside for good
    kUnreachable,       // the file cannot be reached or written now: put back at a later start
    kNotPrivate,        // the copy belongs to another user or others may change it: left alone
    kFolderNotPrivate,  // copy names the state folder, which is not private: nothing read there
};

// A write in place that did not finish because the program was killed while it ran.
struct InterruptedWrite {
    std::string file;  // the file that was being written; empty when nothing was read (kept)
    std::string copy;  // its old bytes in the state folder, removed once put back
    bool restored = false;
    KeptBecause kept = KeptBecause::kReplaced;  // when not restored
};

// What the user is told of an interrupted write: its old bytes were put back, or are kept aside.
std::string DescribeInterruptedWrite(const InterruptedWrite& write);

inline constexpr std::string_view kWriteUndone =
    "A save of %s was interrupted when the program stopped; its previous version was put back.";
inline constexpr std::string_view kWriteKeptAside =
    "A save of %s was interrupted when the program stopped, and the file has since been removed "
    "or replaced; its previous version is kept in %s until you remove it.";
inline constexpr std::string_view kWriteChangedSince =
    "A save of %s was interrupted when the program stopped, but the file has been changed since; "
    "its previous version is kept in %s until you remove it.";
inline constexpr std::string_view kWriteUnsure =
    "A save of %s was interrupted when the program stopped, and whether the file has been changed "
    "since cannot be told; its previous version is kept in %s until you remove it.";
inline constexpr std::string_view kWriteUnreachable =
    "A save of %s was interrupted when the program stopped, and the file cannot be reached or "
    "written now (its disk may not be mounted); its previous version is kept in %s and will be put "
    "back when the file can be reached.";
inline constexpr std::string_view kCopyNotPrivate =
    "%s claims to hold the previous version of a file, but it is a link, belongs to another user "
    "or others may change it, so nothing was put back from it. Someone else may have placed it "
    "there: look at it, then remove it.";
inline constexpr std::string_view kStateFolderNotPrivate =
    "The folder %s, where the program keeps the previous versions of files during saves, is a "
    "link, belongs to another user or others may change what it holds, so nothing in it was put "
    "back into any file. Someone else may have placed what it holds there: look at it, then "
    "remove it.";

// Puts back the old bytes of every write in place that a killed program left unfinished, and
// removes the copies it had not finished making. The state folder and every copy are trusted
// only when private to the user; anything else is left alone and reported. Copies held by a
// writer that is still running (another instance in the middle of a save) are left alone. Old
// bytes go back only into a file still exactly as the killed write left it. A copy whose file is
// gone or has since been replaced by another file, or was changed since, is kept, as
// "unrestored-..." in the state folder, and reported as not restored at every call; one whose file
// cannot be reached now (its disk not mounted) stays as it is, reported at every call until it
// can be put back or is removed. Called once at start, before any document is read.
std::vector<InterruptedWrite> RestoreInterruptedWrites();

}  // namespace velloran
