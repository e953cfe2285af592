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
// "secured-<device>-<inode>" (mode 0600, with the file's path and size, flushed to disk and
// locked while the write goes on). When writing or flushing fails, or produce throws, they are
// put back; the copy is removed once the new bytes are on disk. A copy that a killed writer left
// for the same file is put back first, so that its bytes count as the old ones (one whose path
// now leads to another file is set aside, as RestoreInterruptedWrites does); while another
// process is writing the same file, the write fails. access, when given, sets the permission
// bits (and group) before anything is written. expected, when given, is the file found at target
// before: another one found there now is not written. A failure comes with the system's reason.
WriteResult WriteInPlace(const std::string& target, const std::function<void(OutputFile&)>& produce,
                         const std::optional<FileAccess>& access,
                         const struct stat* expected = nullptr);

// A write in place that did not finish because the program was killed while it ran.
struct InterruptedWrite {
    std::string file;  // the file that was being written
    std::string copy;  // its old bytes in the state folder, removed once put back
    bool restored = false;
};

// What the user is told of an interrupted write: its old bytes were put back, or are kept aside.
std::string DescribeInterruptedWrite(const InterruptedWrite& write);

inline constexpr std::string_view kWriteUndone =
    "A save of %s was interrupted when the program stopped; its previous version was put back.";
inline constexpr std::string_view kWriteKeptAside =
    "A save of %s was interrupted when the program stopped, and the file has since been removed "
    "or replaced; its previous version is kept in %s until you remove it.";

// Puts back the old bytes of every write in place that a killed program left unfinished, and
// removes the copies it had not finished making. Copies held by a writer that is still running
// (another instance in the middle of a save) are left alone. A copy whose file is gone or has
// since been replaced by another file is kept, as "unrestored-..." in the state folder, and
// reported as not restored at every call. Called once at start, before any document is read.
std::vector<InterruptedWrite> RestoreInterruptedWrites();

}  // namespace velloran
