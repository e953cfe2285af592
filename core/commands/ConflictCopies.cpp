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
#include "core/storage/FileIO.h"

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

std::optional<FileIdentity> Identity(const std::string& path) {
    return IdentityOf(path);
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

bool Older(const FileIdentity& a, const FileIdentity& b) {
    return std::pair(a.modifiedSeconds, a.modifiedNanoseconds) <
           std::pair(b.modifiedSeconds, b.modifiedNanoseconds);
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

std::string MergedCopyPath(const std::string& copyPath) {
    const std::string folder = InFolder(FolderPart(copyPath), "merged");
    const std::string name = FileNamePart(copyPath);
    const auto [stem, extension] = StemAndExtension(name);
    std::string target = InFolder(folder, name);
    for (int n = 2; IdentityOf(target); ++n) {
        target = InFolder(
            folder, std::string(stem) + " (" + std::to_string(n) + ")" + std::string(extension));
    }
    return target;
}

MergeReport MergeConflictCopy(Session& s, const std::string& copyPath) {
    State& st = s.st;
    if (!IsOwnFile(copyPath)) {
        throw Error(Format(kNotOwnCopy, copyPath));
    }
    const SharedBytes theirsText = ReadWithKeysInUse(st, copyPath);
    s.VersionedText(VersionEvent::ConflictCopy, *theirsText);
    std::vector<std::string_view> slots;
    for (int k = 0; k <= st.LastSection; ++k) {
        slots.push_back(s.sections.ReadSlot(k));
    }
    const MergeVersion ours = MergeVersion::OfSections(slots);
    const MergeVersion theirs = MergeVersion::OfText(theirsText);

    // The version both came from is older than either, and is neither.
    const std::string target = SaveTarget(st);
    const auto document = Identity(target);
    const auto copy = Identity(copyPath);
    const std::string backups = BackupFolderOf(st, target);
    const std::string stem = InFolder(backups, FileNamePart(target));
    std::optional<MergeVersion> base;
    std::optional<FileIdentity> baseIdentity;
    for (const char* suffix : {"-prev", "-copy"}) {
        const std::string candidate = BackupName(stem, suffix);
        const auto id = Identity(candidate);
        if (!id || !copy || !Older(*id, *copy) || (document && !Older(*id, *document)) ||
            (baseIdentity && !Older(*baseIdentity, *id))) {
            continue;
        }
        try {
            SharedBytes text = ReadWithKeysInUse(st, candidate);
            if (*text == *theirsText || (st.MergeBase && *text == *st.MergeBase)) {
                continue;
            }
            base = MergeVersion::OfText(std::move(text));
            baseIdentity = id;
        } catch (const Error&) {
            // A backup that cannot be read is no base.
        }
    }
    const bool common = !base;
    if (common) {
        base = CommonVersion(ours, theirs);
    }
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
        (common ? std::string("what both have in common (no earlier version of both "
                              "was found)")
                : "the backup copy of " + FileNamePart(target) + " they both came from") +
        ". ";
    const int conflicts = outcome.Conflicts();
    report.summary += conflicts == 0 ? std::string("No conflicts.")
                                     : std::to_string(conflicts) +
                                           (conflicts == 1 ? " conflict" : " conflicts") +
                                           ": both versions stand between marker lines that "
                                           "start with <<<<<<<, ======= and >>>>>>>.";
    report.summary += " The result is not saved yet.";

    // Never into a folder of another's, nor over a file that came there meanwhile.
    std::string moved = MergedCopyPath(copyPath);
    MakeDirectory(FolderPart(moved));
    bool done = false;
    std::string why = "it is not a folder of your own";
    for (int tries = 0; !done && tries < 100 && !IsForeignFolder(FolderPart(moved)); ++tries) {
        done =
            ::renameat2(AT_FDCWD, copyPath.c_str(), AT_FDCWD, moved.c_str(), RENAME_NOREPLACE) == 0;
        if (!done) {
            why = std::strerror(errno);
            if (errno != EEXIST) {
                break;
            }
            moved = MergedCopyPath(copyPath);
        }
    }
    if (!done) {
        report.notes.push_back({-1, true, Format(kCopyNotMoved, why)});
    } else {
        report.notes.push_back({-1, false, "The copy is now " + moved});
    }
    s.dialogs.ShowMergeReport(report);
    return report;
}

}  // namespace velloran
