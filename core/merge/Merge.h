#pragma once

// Three versions of a document merged section by section: the base both others came from,
// ours and theirs. Sections are followed by content and title wherever either side moved,
// added or removed them; a section changed on both sides is merged line by line.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/DocumentBuffer.h"
#include "core/document/Host.h"

namespace velloran {

struct MergeLabels;
struct MergeOutcome;

// One version's sections, each lines followed by CR LF, section 0 first.
class MergeVersion {
  public:
    MergeVersion() = default;
    // A document's bytes, cut into sections as reading cuts them (any line breaks, at most 50
    // markers). The bytes are shared, not copied, when they are lines each followed by CR LF.
    static MergeVersion OfText(SharedBytes bytes);
    static MergeVersion OfText(std::string bytes);
    // Section texts as the slots hold them; they must outlast the version. A text that is not
    // lines each followed by CR LF is copied into that form.
    static MergeVersion OfSections(std::span<const std::string_view> texts);

    std::size_t Count() const { return sections_.size(); }
    std::string_view Section(std::size_t k) const { return sections_[k]; }
    bool Absent(std::size_t k) const { return k < absent_.size() && absent_[k]; }
    // No version both sides came from: what they have in common (CommonVersion).
    bool Unknown() const { return unknown_; }

  private:
    friend MergeVersion CommonVersion(const MergeVersion&, const MergeVersion&);
    friend MergeOutcome MergeVersions(const MergeVersion&, const MergeVersion&, const MergeVersion&,
                                      const MergeLabels&);
    std::vector<std::string_view> sections_;
    std::vector<SharedBytes> held_;
    // Sections of no version, which a side that lacks them did not remove.
    std::vector<bool> absent_;
    bool unknown_ = false;
};

enum class SectionMerge {
    Unchanged,    // alike in all three
    Ours,         // changed by ours only
    Theirs,       // changed by theirs only
    Same,         // changed alike by both
    Merged,       // changed by both in different lines
    Conflict,     // both changed the same lines: both versions kept between marker lines
    AddedOurs,    // new in ours
    AddedTheirs,  // new in theirs
    KeptOurs,     // removed by theirs but changed by ours: ours kept, a conflict
    KeptTheirs,   // removed by ours but changed by theirs: theirs kept, a conflict
};

struct MergedSection {
    std::string_view text;  // lines each followed by CR LF, in an input or in own
    SharedBytes own;
    SectionMerge how = SectionMerge::Unchanged;
    // Where it came from in each version, -1 where it is not there.
    int base = -1;
    int ours = -1;
    int theirs = -1;
    // Places in text where both versions stand between marker lines.
    int conflicts = 0;
    bool NeedsLook() const {
        return conflicts > 0 || how == SectionMerge::KeptOurs || how == SectionMerge::KeptTheirs;
    }
};

// Where each side's changes were made, in the marker lines ("<<<<<<< as changed here") and the
// notes: "here" and "on disk" in the editor.
struct MergeLabels {
    std::string ours = "in ours";
    std::string theirs = "in theirs";
};

struct MergeOutcome {
    std::vector<MergedSection> sections;  // 1 to 51
    // Base sections that a side removed, the other leaving them unchanged: their titles.
    std::vector<std::string> removedByOurs;
    std::vector<std::string> removedByTheirs;
    // A side put sections in another order; where both did, ours' order was kept.
    bool oursReordered = false;
    bool theirsReordered = false;
    // Sections beyond the 51st, whose marker lines stay ordinary lines of the last section.
    int overflow = 0;

    // The bytes of the versions that texts may lie in, held for as long as the outcome is; texts
    // of slots (MergeVersion::OfSections) must outlast it.
    std::vector<SharedBytes> held;

    // Conflict blocks and kept sections: what a writer has to look at.
    int Conflicts() const;
    // The whole merged text, lines each followed by CR LF.
    std::string Text() const;
};

// The marker lines of a conflict: none of them opens a section.
inline constexpr std::string_view kConflictStart = "<<<<<<< ";
inline constexpr std::string_view kConflictMiddle = "=======";
inline constexpr std::string_view kConflictEnd = ">>>>>>> ";

MergeOutcome MergeVersions(const MergeVersion& base, const MergeVersion& ours,
                           const MergeVersion& theirs, const MergeLabels& labels = {});

// Where no version both came from is known: a base of what the two have in common, the lines
// alike in the sections that are the same one. Merged from it, nothing tells which side changed
// what, so every place where the two differ keeps both versions between marker lines, as if
// changed on both sides, and no side's text ever silently replaces the other's. A section only
// one has stays, as if added there.
MergeVersion CommonVersion(const MergeVersion& ours, const MergeVersion& theirs);

// What a merge did: a note per section that is not as it was in all three, then removals, moves
// and the limit. Titles stand in the notes as the document's bytes.
std::vector<MergeNote> MergeNotes(const MergeOutcome& outcome, const MergeLabels& labels);

}  // namespace velloran
