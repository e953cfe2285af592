#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Host.h"
#include "core/tools/Pattern.h"

namespace velloran {

// One match a replacement across the document would change, as its preview lists it. Texts
// are the document's bytes; start and length are bytes of the section's text.
struct ReplaceRow {
    int section = 0;
    std::size_t line = 1;    // within the section, its marker line being 1
    std::size_t column = 1;  // in characters of the document's encoding
    std::size_t start = 0;
    std::size_t length = 0;
    std::string before;  // a few words of the line before the match
    std::string oldText;
    std::string newText;
    std::string after;  // and after it
    // The replacement would make a section marker line ("[S]" at a line's start) or unmake one,
    // so that the document would be cut into other sections: left unchecked unless the writer
    // checks it.
    bool changesSections = false;
    bool checked = true;
};

// Every match, section by section, with the counts the preview states.
struct ReplacePlan {
    std::vector<ReplaceRow> rows;
    // Per section 0 to the last: its title and the matches found in it.
    std::vector<std::string> titles;
    std::vector<std::size_t> counts;

    std::size_t SectionsWithMatches() const;
};

// A scan of the document for a plan that gives its rows as they are found, so that a preview
// shows the first at once and the rest behind, and may stop at any point. The slots and the
// list must stay as they are while it lives.
class ReplaceScan {
  public:
    // Sections firstSection to lastSection are scanned: the document, or one section alone.
    ReplaceScan(const SectionSlots& slots, const SectionList& list, int lastSection,
                const Pattern& pattern, const Replacement& replacement, int firstSection = 0);
    ~ReplaceScan();

    // Adds at most `most` further rows to the plan; false once the last section is scanned.
    // Throws Error when the pattern is too complex for a section.
    bool Continue(std::size_t most);
    bool Done() const;
    const ReplacePlan& Plan() const { return plan_; }
    ReplacePlan& Plan() { return plan_; }

  private:
    struct Section;
    const SectionSlots& slots_;
    const Pattern& pattern_;
    const Replacement& replacement_;
    int lastSection_;
    int section_ = -1;
    std::unique_ptr<Section> current_;
    ReplacePlan plan_;
};

// The whole plan at once.
ReplacePlan PlanReplacement(const SectionSlots& slots, const SectionList& list, int lastSection,
                            const Pattern& pattern, const Replacement& replacement);

// The text of one section with its checked rows replaced; rows are that section's, in order.
std::string ReplacedText(std::string_view text, const std::vector<const ReplaceRow*>& rows);

// What the checked rows of a plan make of the sections: the new text of each section they
// touch. Where they make or unmake a marker line, the document must be cut anew, as Reload cuts
// it, so that the 51-slot rule holds.
struct SectionChange {
    int section = 0;
    std::string newText;
    std::size_t replaced = 0;
};
struct ReplaceResult {
    std::vector<SectionChange> changes;
    bool resplit = false;
    std::size_t replaced = 0;
};
ReplaceResult BuildReplacement(const SectionSlots& slots, const ReplacePlan& plan);

// What puts the sections back as they were before a replacement, in one step.
struct ReplaceUndo {
    // The old text of each section the replacement set, every section when it cut anew.
    std::vector<std::pair<int, std::string>> texts;
    std::vector<std::string> titles;
    int lastSection = 0;
};

// Sets the sections a replacement changed, one at a time, so that a section's old text is given
// up as its new one comes in, cutting the document anew when markers changed; titles follow the
// sections' first lines. The document is Modified.
ReplaceUndo ApplyReplacement(Session& s, ReplaceResult&& result);
// Puts back every section a replacement changed, and the list as it was.
void UndoReplacement(Session& s, ReplaceUndo&& undo);

}  // namespace velloran
