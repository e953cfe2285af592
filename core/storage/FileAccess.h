#pragma once

#include <optional>

namespace velloran {

// Whose name a file goes by, which decides whether a symbolic link there is followed.
enum class Naming {
    // The name the user gave: read and written through symbolic links to the file they lead to.
    kGiven,
    // A name the editor made up itself (a backup, the enciphered name of a document): a symbolic
    // link there is never followed, so that none that another user planted leads a write to a
    // file of the user's. A file there is taken for the one the write replaces (its metadata
    // kept, or written in place) only when it is the user's own (for root, also one of the
    // folder's owner) and has no other name; any other is replaced by a new file, as far as the
    // folder allows.
    kMadeUp,
    // A made-up name in a folder of the editor's own, the backup folder, which must be no
    // symbolic link either and belong to the user.
    kMadeUpInOwnFolder,
};

// Permission bits (and group) that a written file is to have, whatever the file it replaces had:
// a backup shows no more than the document it copies.
struct FileAccess {
    unsigned mode = 0;  // permission bits
    // The group to give the file; where it cannot be given, the group gets what others get.
    std::optional<unsigned> group;
};

}  // namespace velloran
