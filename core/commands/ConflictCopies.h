#pragma once

// The copies that sync tools make of a document changed on two machines at once, merged back
// into it.

#include <string>
#include <string_view>
#include <vector>

#include "core/document/Host.h"

namespace velloran {

// True when name is one a sync tool gives a conflict copy of the file documentName, for
// "June.vlp": "June.sync-conflict-20260101-120000-ABCDEF1.vlp" (Syncthing),
// "June (Ann's conflicted copy 2026-01-01).vlp" (Dropbox), "June (conflicted copy 2026-01-01
// 120000).vlp" and "June (Conflict 2026-01-01).vlp" (Nextcloud and others).
bool IsConflictCopyName(std::string_view name, std::string_view documentName);

// The conflict copies of the document at path in its folder, in the order of their names: only
// regular files of this user's own, never through a link.
std::vector<std::string> ConflictCopiesOf(const std::string& path);

// Merges the copy at copyPath into the sections, the result unsaved, keeps it in the history and
// moves it to the user's trash. The base is the document as this run last read or saved it, once
// the file is no longer that (else that version is the one the copy was made beside), or else the
// newest version of the history both came from; nothing in the folder ever is. Without a base,
// every place where the two differ keeps both versions between marker lines. Throws Error when the
// copy cannot be read with the keys in use or is no longer a file of this user's own, and then
// leaves it where it is.
MergeReport MergeConflictCopy(Session& s, const std::string& copyPath);

inline constexpr std::string_view kMergeConflictCopy =
    "%s is a copy that a sync tool made of this document when it was changed in two places at "
    "once. Merge it into the document now? (The copy is then kept in the "
    "document's history and moved to the trash.)";
inline constexpr std::string_view kNotOwnCopy =
    "%s is not a file of your own (it is a link, or another user made it), so it was not "
    "merged.";
inline constexpr std::string_view kCopyNotMoved =
    "The copy was merged but could not be moved to the trash: %s";

}  // namespace velloran
