#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/document/DocumentBuffer.h"
#include "core/document/Host.h"

namespace velloran {

// The marker letter of a line in upper case, or a blank; a line opens a section when it is 'S'.
char MarkerLetter(std::string_view line);
inline bool IsMarkerLine(std::string_view line) {
    return MarkerLetter(line) == 'S';
}

// Where the sections of text (lines each followed by CR LF) lie in it, cut as a split cuts them:
// section 0, then one at each of the first 50 marker lines.
std::vector<std::string_view> SectionTexts(std::string_view crlfText);

// Fills the slots and the section list from the document buffer, after deciding the document's
// encoding from its bytes (DetectEncoding), which it never changes.
void SplitSections(Session& s);
// Rebuilds the document buffer from slots 0 to LastSection.
void JoinSections(Session& s);
// The lines of slots 0 to LastSection, built aside.
DocumentBuffer JoinedSections(Session& s);
// Re-cuts the text in the editors into sections and marks the document modified.
void ReloadSections(Session& s);

}  // namespace velloran
