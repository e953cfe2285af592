#pragma once

// A change of the document on disk brought into the sections: read again where nothing here was
// unsaved, else merged with what was, the document as last read or saved being the base.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Host.h"
#include "core/merge/Merge.h"

namespace velloran {

// What the document's file holds against what this run last read or wrote there.
struct DiskLook {
    enum class Kind {
        Same,        // nothing changed, or only the file's times: noted as seen
        Changed,     // text holds the file's text now
        Unreadable,  // changed, but not readable with the keys in use: reason says why
        Gone,        // no file there now
    };
    Kind kind = Kind::Same;
    SharedBytes text;
    std::string reason;
};

// Looks at the file of the merge base. Cheap when the file's identity did not change, or is that
// of a version already found unreadable with the same keys; otherwise reads the file and
// compares its text.
DiskLook LookOnDisk(State& st);

// LookOnDisk in three steps, so that the read, and the key derivation a sealed file saved
// elsewhere needs (its salt is its own), can run off the window thread:
// ProbeOnDisk and TakeDiskLook on the thread that owns the state, ReadDiskProbe on any.
struct DiskProbe {
    std::string path;
    std::optional<FileIdentity> identity;
    // The keys in use, copied: the only part of the state a read looks at.
    State keys;
};
// Nothing to read: the look is already known (the file is as last seen, gone, or the version
// found unreadable before), and is in known.
std::optional<DiskProbe> ProbeOnDisk(State& st, DiskLook& known);
// Reads the file with the probe's keys; touches no shared state.
DiskLook ReadDiskProbe(const DiskProbe& probe);
// Brings a read into the state: compared with the merge base, and an unreadable version noted so
// that it is not read again. A probe of a file or keys that changed meanwhile counts as no look
// (Same), to be looked at again.
DiskLook TakeDiskLook(State& st, const DiskProbe& probe, DiskLook read);

// Puts the outcome of a merge into the slots, ours being the slots as they were: each slot
// whose text changes takes it through MergeSlotText; LastSection and the list follow, the
// panes stay where they were as far as the sections are still there. The slots that changed.
std::vector<int> ApplyMerge(Session& s, const MergeVersion& ours, MergeOutcome& outcome);

// Brings theirs, the file's text now, into the sections: the sections of the document as last read
// or saved, the slots and theirs merged; each slot whose text changes takes its new text through
// MergeSlotText, the list its titles. Read again (Modified false) where nothing was unsaved,
// merged and unsaved otherwise. theirs is the base from then on. The report goes to
// ShowMergeReport and is returned; forSave tells that a save waits for it.
MergeReport TakeDiskText(Session& s, SharedBytes theirs, bool forSave = false);

// A look brought in: a change merged or read again, as FollowDiskChange does with its own look.
std::optional<MergeReport> FollowDiskLook(Session& s, DiskLook look,
                                          std::string* unreadable = nullptr);

// Both: a change on disk, if any, brought in. Nothing for no change; a report with an empty
// summary and reason for a change that cannot be read with the keys in use.
std::optional<MergeReport> FollowDiskChange(Session& s, std::string* unreadable = nullptr);

// The words of the editor's marker lines and notes.
inline const MergeLabels kDiskLabels{"here", "on disk"};

}  // namespace velloran
