#include "core/merge/DiskMerge.h"

#include <algorithm>
#include <vector>

#include "core/document/Codepage.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Protection.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

namespace velloran {
namespace {

std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// "3", "3 and 7", "3, 7 and 9".
std::string Numbers(const std::vector<int>& sections) {
    std::string out;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (i > 0) {
            out += i + 1 == sections.size() ? " and " : ", ";
        }
        out += std::to_string(sections[i]);
    }
    return out;
}

std::string Sections(const std::vector<int>& sections) {
    return (sections.size() == 1 ? "Section " : "Sections ") + Numbers(sections);
}

// Text on disk in another encoding than the document's is read into the document's where that
// keeps every character: Windows-1252 always goes into UTF-8, and UTF-8 into Windows-1252 where
// the code page holds all of it. Otherwise its bytes stay as they are, and survive as bytes.
SharedBytes InDocumentEncoding(SharedBytes theirs, Encoding document) {
    const ByteForm form = FormOf(*theirs);
    if (form == ByteForm::Other && document == Encoding::Utf8) {
        return std::make_shared<const std::string>(codepage::ToUtf8(*theirs));
    }
    if (form == ByteForm::Utf8 && document == Encoding::Windows1252) {
        bool replaced = false;
        if (auto bytes = codepage::FromUtf8(*theirs, &replaced); bytes && !replaced) {
            return std::make_shared<const std::string>(std::move(*bytes));
        }
    }
    return theirs;
}

bool Within(std::string_view part, std::string_view whole) {
    return !part.empty() && part.data() >= whole.data() &&
           part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

std::vector<int> ApplyMerge(Session& s, const MergeVersion& ours, MergeOutcome& outcome) {
    State& st = s.st;
    // A slot's text may move to another slot; what comes from the slots is copied before any
    // slot changes.
    for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
        MergedSection& m = outcome.sections[k];
        if (!m.own && m.ours >= 0 && m.ours != static_cast<int>(k) &&
            Within(m.text, ours.Section(static_cast<std::size_t>(m.ours)))) {
            auto copy = std::make_shared<const std::string>(m.text);
            m.text = *copy;
            m.own = std::move(copy);
        }
    }
    const int before = st.LastSection;
    std::vector<int> changed;
    for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
        const int slot = static_cast<int>(k);
        const std::string_view text = outcome.sections[k].text;
        // A slot whose last line has no break holds the same lines as the merge's text, and
        // stays as the writer has it, caret and all.
        const std::string_view now = s.sections.ReadSlot(slot);
        const bool same =
            now == text || (text.size() == now.size() + 2 && text.starts_with(now) &&
                            text.ends_with("\r\n") && !now.ends_with('\n') && !now.ends_with('\r'));
        if (slot > before || !same) {
            s.sections.MergeSlotText(slot, text);
            changed.push_back(slot);
        }
    }
    st.LastSection = static_cast<int>(outcome.sections.size()) - 1;
    s.list.Clear();
    const std::string_view first = s.sections.ReadSlot(0);
    s.list.Add(FirstLine(first.empty() && st.LastSection > 0 ? s.sections.ReadSlot(1) : first));
    for (int k = 1; k <= st.LastSection; ++k) {
        s.list.Add(FirstLine(s.sections.ReadSlot(k)));
    }
    // The panes stay on what they showed, as far as it is still there.
    st.Panel1Section = std::min(st.Panel1Section, st.LastSection);
    st.Panel2Section = std::min(st.Panel2Section, st.LastSection);
    st.ActiveSection = std::min(st.ActiveSection, st.LastSection);
    return changed;
}

std::optional<DiskProbe> ProbeOnDisk(State& st, DiskLook& known) {
    known = DiskLook{};
    const std::string& path = st.MergeBasePath;
    if (path.empty() || !st.MergeBase || !ChangedOnDisk(st, path)) {
        return std::nullopt;
    }
    DiskProbe probe;
    probe.path = path;
    probe.identity = IdentityOf(path);
    if (!probe.identity) {
        known.kind = DiskLook::Kind::Gone;
        return std::nullopt;
    }
    if (st.UnreadableOnDisk == probe.identity && st.UnreadableWithKey == st.SealKeyInUse.get()) {
        known.kind = DiskLook::Kind::Unreadable;
        known.reason = st.UnreadableReason;
        return std::nullopt;
    }
    probe.keys.FileName = st.FileName;
    probe.keys.Enciphered = st.Enciphered;
    probe.keys.CipherKey = st.CipherKey;
    probe.keys.SealKeyInUse = st.SealKeyInUse;
    return probe;
}

DiskLook ReadDiskProbe(const DiskProbe& probe) {
    DiskLook look;
    try {
        look.text = ReadWithKeysInUse(probe.keys, probe.path);
        look.kind = DiskLook::Kind::Changed;
    } catch (const Error& e) {
        look.kind = DiskLook::Kind::Unreadable;
        look.reason = e.what();
    }
    return look;
}

DiskLook TakeDiskLook(State& st, const DiskProbe& probe, DiskLook read) {
    if (probe.path != st.MergeBasePath || probe.keys.SealKeyInUse != st.SealKeyInUse ||
        probe.keys.CipherKey != st.CipherKey || probe.keys.Enciphered != st.Enciphered ||
        !st.MergeBase) {
        return DiskLook{};
    }
    if (read.kind == DiskLook::Kind::Unreadable) {
        st.UnreadableOnDisk = probe.identity;
        st.UnreadableWithKey = st.SealKeyInUse.get();
        st.UnreadableReason = read.reason;
        return read;
    }
    if (*read.text == *st.MergeBase) {
        // Touched, or written again as it was: no change of the document.
        st.OnDisk[probe.path] = *probe.identity;
        return DiskLook{};
    }
    return read;
}

DiskLook LookOnDisk(State& st) {
    DiskLook known;
    const std::optional<DiskProbe> probe = ProbeOnDisk(st, known);
    if (!probe) {
        return known;
    }
    return TakeDiskLook(st, *probe, ReadDiskProbe(*probe));
}

MergeReport TakeDiskText(Session& s, SharedBytes theirs, bool forSave) {
    State& st = s.st;
    const std::string path = st.MergeBasePath;
    const bool reload = !st.Modified;
    MergeReport report;
    report.reload = reload;

    // A document with nothing unsaved whose file now stands in another encoding is read again
    // whole, as at start.
    if (reload && DetectEncoding(*theirs) != st.DocumentEncoding) {
        s.buffer.AssignText(std::string(*theirs));
        SplitSections(s);
        KeepMergeBase(st, path, s.buffer.Bytes());
        RememberOnDisk(st, path);
        report.summary = "The document changed on disk and was reloaded";
        s.Versioned(VersionEvent::Reloaded);
        s.dialogs.ShowMergeReport(report);
        return report;
    }
    if (!reload) {
        theirs = InDocumentEncoding(std::move(theirs), st.DocumentEncoding);
    }

    const MergeVersion base =
        MergeVersion::OfText(st.MergeBase ? st.MergeBase : std::make_shared<std::string>());
    std::vector<std::string_view> slots;
    for (int k = 0; k <= st.LastSection; ++k) {
        slots.push_back(s.sections.ReadSlot(k));
    }
    const MergeVersion ours = MergeVersion::OfSections(slots);
    const MergeVersion disk = MergeVersion::OfText(theirs);
    MergeOutcome outcome = MergeVersions(base, ours, disk, kDiskLabels);

    const std::vector<int> changed = ApplyMerge(s, ours, outcome);
    KeepMergeBase(st, path, theirs);
    RememberOnDisk(st, path);
    st.Modified = !reload;
    if (reload) {
        s.Versioned(VersionEvent::Reloaded);
    } else {
        s.VersionedText(VersionEvent::OnDisk, *theirs);
        s.Versioned(VersionEvent::MergedDisk);
    }

    report.notes = MergeNotes(outcome, kDiskLabels);
    for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
        if (outcome.sections[k].NeedsLook()) {
            report.flagged.push_back(static_cast<int>(k));
        }
    }
    if (reload) {
        if (!changed.empty()) {
            report.summary = Sections(changed) + " changed" + " on disk and " +
                             (changed.size() == 1 ? "was" : "were") + " reloaded";
        } else {
            report.summary = "The document changed on disk and was reloaded";
        }
    } else {
        std::vector<int> fromDisk;
        for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
            switch (outcome.sections[k].how) {
                case SectionMerge::Theirs:
                case SectionMerge::Merged:
                case SectionMerge::Conflict:
                case SectionMerge::AddedTheirs:
                case SectionMerge::KeptTheirs:
                    fromDisk.push_back(static_cast<int>(k));
                    break;
                default:
                    break;
            }
        }
        report.summary = "The document changed on disk";
        if (!fromDisk.empty()) {
            report.summary += ": " + Sections(fromDisk) + " came" + " in from there and " +
                              (fromDisk.size() == 1 ? "was" : "were") +
                              " merged with the unsaved changes here";
        } else {
            report.summary += " and was merged with the unsaved changes here";
        }
        const int conflicts = outcome.Conflicts();
        if (conflicts == 0) {
            report.summary += ", without conflicts. The result is not saved yet.";
        } else {
            report.summary += ". " + std::to_string(conflicts) +
                              (conflicts == 1 ? " conflict" : " conflicts") + " in " +
                              Sections(report.flagged) +
                              ": both versions stand between marker lines that start with "
                              "<<<<<<<, ======= and >>>>>>>.";
            if (forSave) {
                report.summary += " Nothing was saved: look at them, then save again.";
            }
        }
    }
    s.dialogs.ShowMergeReport(report);
    return report;
}

std::optional<MergeReport> FollowDiskChange(Session& s, std::string* unreadable) {
    return FollowDiskLook(s, LookOnDisk(s.st), unreadable);
}

std::optional<MergeReport> FollowDiskLook(Session& s, DiskLook look, std::string* unreadable) {
    switch (look.kind) {
        case DiskLook::Kind::Same:
        case DiskLook::Kind::Gone:
            return std::nullopt;
        case DiskLook::Kind::Unreadable:
            if (unreadable) {
                *unreadable = look.reason;
            }
            return std::nullopt;
        case DiskLook::Kind::Changed:
            break;
    }
    return TakeDiskText(s, std::move(look.text));
}

}  // namespace velloran
