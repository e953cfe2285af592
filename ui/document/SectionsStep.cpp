#include "ui/document/SectionsStep.h"

#include <algorithm>

#include "core/document/Sections.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"

using velloran::state;

SectionsStep SectionsStep::Apply(DocumentWindow& window,
                                 std::vector<std::pair<int, std::string>> texts,
                                 const Reload& reload, std::optional<int> count) {
    SectionsStep step;
    step.reload_ = count.has_value() && reload;
    velloran::State& st = state();
    if (step.reload_) {
        // Cut anew, the sections are others: every one is put back.
        for (int k = 0; k <= st.LastSection; ++k) {
            step.before_.emplace_back(k, std::string(window.ReadSlot(k)));
        }
        const int last = std::clamp(*count, 1, velloran::kSectionCount) - 1;
        for (int k = last + 1; k <= st.LastSection; ++k) {
            texts.emplace_back(k, std::string());
        }
        st.LastSection = std::max(st.LastSection, last);
    }
    for (auto& [k, text] : texts) {
        if (!step.reload_) {
            step.before_.emplace_back(k, std::string(window.ReadSlot(k)));
        }
        window.MergeSlotText(k, text);
    }
    st.Modified = true;
    if (step.reload_) {
        reload();
    }
    return step;
}

void SectionsStep::Undo(DocumentWindow& window, const Reload& reload) {
    velloran::State& st = state();
    if (reload_) {
        for (int k = static_cast<int>(before_.size()); k <= st.LastSection; ++k) {
            window.MergeSlotText(k, {});
        }
        st.LastSection = std::max(st.LastSection, static_cast<int>(before_.size()) - 1);
    }
    for (auto& [k, text] : before_) {
        window.MergeSlotText(k, text);
    }
    st.Modified = true;
    if (reload_ && reload) {
        reload();
    }
}
