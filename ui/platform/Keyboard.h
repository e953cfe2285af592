#pragma once

#include <QtCore/qnamespace.h>
#include <functional>

class QWidget;

namespace velloran::ui {

// The key that moves between the section list and the text of the section shown.
inline constexpr Qt::Key kSwitchKey = Qt::Key_F8;

// The function keys F1 to F8 pressed anywhere in window go to handler, as they do from
// the list and the editors, whatever the modifiers.
void ForwardFunctionKeys(QWidget* window, std::function<void(int key)> handler);

// Escape closes window, a tool window beside the document that blocks nothing.
void CloseOnEscape(QWidget* window);

}  // namespace velloran::ui
