#pragma once

namespace velloran::ui {

// A section editor is read by a screen reader as the toolkit reads any text area, named for
// its section and with its misspelled words told as such: the marks are drawn beside the text's
// layout, where the toolkit's own reading of the text's formats does not find them. Installed
// once, before any window is created.
void InstallEditorAccessibility();

}  // namespace velloran::ui
