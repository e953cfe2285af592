#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class DocumentWindow;

// Several sections set as one step of the writer's, which one Undo puts back at once: a
// replacement across the document, a restore from the history. Each editor that holds its
// section takes the new text as one step of its own undo; a section never shown keeps its text
// out of an editor. A step that adds or removes sections cuts the document anew through reload.
class SectionsStep {
  public:
    using Reload = std::function<void()>;

    // texts: the new text of each section set. count: the sections after the step, when it
    // changes their number (the sections from count on are emptied and the document cut anew).
    static SectionsStep Apply(DocumentWindow& window,
                              std::vector<std::pair<int, std::string>> texts, const Reload& reload,
                              std::optional<int> count = std::nullopt);
    // Puts back every section as it was before Apply.
    void Undo(DocumentWindow& window, const Reload& reload);

  private:
    std::vector<std::pair<int, std::string>> before_;
    bool reload_ = false;
};
