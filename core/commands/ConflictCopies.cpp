#include "core/commands/ConflictCopies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/merge/DiskMerge.h"
#include "core/merge/Merge.h"
#include "core/protection/Protection.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"
#include "core/storage/Trash.h"

namespace velloran {
namespace {

const MergeLabels kCopyLabels{"here", "in the copy"};

bool Digits(std::string_view s, std::size_t n) {
    return s.size() == n &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// "June.vlp" -> "June" and ".vlp"; a name without a dot has no extension.
std::pair<std::string_view, std::string_view> StemAndExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {name, {}};
    }
    return {name.substr(0, dot), name.substr(dot)};
}

std::string InFolder(const std::string& folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    return folder.back() == '/' ? folder + std::string(name) : folder + "/" + std::string(name);
}

// Sync tools write their copies as the user, as files of their own. Anything else in the
// folder under such a name (a link, a device, a file another user planted where others may
// write) is no copy to merge: its text would end up in the document, and a link could bring
// in any file the user may read.
bool IsOwnFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// The folder path is in, held open: the copy is reached and moved only relative to it, so that
// a folder swapped meanwhile along the path changes nothing.
int OpenFolderOf(const std::string& path) {
    const std::string folder = FolderPart(path);
    return ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

bool IsConflictCopyName(std::string_view name, std::string_view documentName) {
    const auto [stem, extension] = StemAndExtension(documentName);
    if (name.size() <= documentName.size() || name.substr(0, stem.size()) != stem ||
        name.substr(name.size() - extension.size()) != extension) {
        return false;
    }
    std::string_view middle =
        name.substr(stem.size(), name.size() - stem.size() - extension.size());
    // ".sync-conflict-YYYYMMDD-HHMMSS-ID"
    constexpr std::string_view kSyncthing = ".sync-conflict-";
    if (middle.substr(0, kSyncthing.size()) == kSyncthing) {
        middle.remove_prefix(kSyncthing.size());
        if (middle.size() < 17 || !Digits(middle.substr(0, 8), 8) || middle[8] != '-' ||
            !Digits(middle.substr(9, 6), 6) || middle[15] != '-') {
            return false;
        }
        const std::string_view id = middle.substr(16);
        return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0;
        });
    }
    // " (... conflict ...)"
    return middle.size() > 3 && middle.substr(0, 2) == " (" && middle.back() == ')' &&
           Lower(middle).find("conflict") != std::string::npos;
}

std::vector<std::string> ConflictCopiesOf(const std::string& path) {
    std::vector<std::string> copies;
    const std::string folder = FolderPart(path);
    const std::string name = FileNamePart(path);
    for (const std::string& entryName : FolderNames(folder.empty() ? "." : folder)) {
        if (IsConflictCopyName(entryName, name)) {
            const std::string copy = InFolder(folder, entryName);
            if (IsOwnFile(copy)) {
                copies.push_back(copy);
            }
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

MergeReport MergeConflictCopy(Session& s, const std::string& copyPath) {
    State& st = s.st;
    // Opened once and judged by what was opened: a name checked first and opened after could be
    // a link to any file of the user's by then.
    const std::string name = FileNamePart(copyPath);
    const UniqueFd folder(OpenFolderOf(copyPath));
    const UniqueFd copy(folder ? OpenOwnFileAt(folder.get(), name) : -1);
    if (!copy) {
        throw Error(Format(kNotOwnCopy, copyPath));
    }
    const SharedBytes theirsText = ReadWithKeysInUse(st, copyPath, copy.get());
    std::vector<std::string_view> slots;
    for (int k = 0; k <= st.LastSection; ++k) {
        slots.push_back(s.sections.ReadSlot(k));
    }
    const MergeVersion ours = MergeVersion::OfSections(slots);
    const MergeVersion theirs = MergeVersion::OfText(theirsText);

    // The version both came from, from what this run holds alone: nothing in the folder is
    // trusted for it (another user may plant a backup there, and a backup is one side's own
    // version). As long as the file is what this run last read or saved, that version is the
    // side the copy was made beside, not before: no base is known then.
    const std::string target = SaveTarget(st);
    std::optional<MergeVersion> base;
    if (st.MergeBase && st.MergeBasePath == target && ChangedOnDisk(st, target) &&
        *st.MergeBase != *theirsText) {
        base = MergeVersion::OfText(st.MergeBase);
    }
    // Else the newest version of the history both came from; asked before the copy is kept
    // there, so that the copy is never taken for its own origin.
    std::string fromHistory;
    if (!base) {
        if (std::optional<HistoryBase> kept = s.HistoryMergeBase(*theirsText)) {
            base = MergeVersion::OfText(kept->text);
            fromHistory = kept->name;
        }
    }
    const bool common = !base;
    if (common) {
        base = CommonVersion(ours, theirs);
    }
    s.VersionedText(VersionEvent::ConflictCopy, *theirsText);
    MergeOutcome outcome = MergeVersions(*base, ours, theirs, kCopyLabels);
    ApplyMerge(s, ours, outcome);
    st.Modified = true;
    s.Versioned(VersionEvent::MergedCopy);

    MergeReport report;
    report.notes = MergeNotes(outcome, kCopyLabels);
    for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
        if (outcome.sections[k].NeedsLook()) {
            report.flagged.push_back(static_cast<int>(k));
        }
    }
    report.summary =
        FileNamePart(copyPath) + " was merged into the document, from " +
        (common ? std::string("what both have in common: no earlier version of both is "
                              "known, so wherever they differ both versions were kept")
         : !fromHistory.empty() ? "the history's " + fromHistory + ", which both came from"
                                : "the version of " + FileNamePart(target) +
                                      " last read or saved here, which both came from") +
        ". ";
    const int conflicts = outcome.Conflicts();
    report.summary += conflicts == 0 ? std::string("No conflicts.")
                                     : std::to_string(conflicts) +
                                           (conflicts == 1 ? " conflict" : " conflicts") +
                                           ": both versions stand between marker lines that "
                                           "start with <<<<<<<, ======= and >>>>>>>.";
    report.summary += " The result is not saved yet.";

    // Its text is in the history now; in the trash rather than a folder beside the document, it
    // no longer travels with the folder to every machine, and a file manager can put it back.
    std::string why;
    if (const auto moved =
            MoveToTrash(folder.get(), name, copy.get(), AbsolutePath(copyPath), why)) {
        report.notes.push_back({-1, false, "The copy is now in the trash: " + *moved});
    } else {
        report.notes.push_back({-1, true, Format(kCopyNotMoved, why)});
    }
    s.dialogs.ShowMergeReport(report);
    return report;
}

}  // namespace velloran
