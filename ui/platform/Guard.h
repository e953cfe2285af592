#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace velloran::ui {

// Runs one user command. A velloran::Error ends the command and its message is shown in a message
// box titled with the application's display name; nothing is thrown past this point, so no
// exception ever reaches the event loop. True when the command ran to its end.
bool Guarded(QWidget* parent, const std::function<void()>& command);

// The message box of the guard, for a failure found outside a command; detail, the system's
// reason when there is one, is its informative text.
void ShowErrorMessage(QWidget* parent, const QString& message, const QString& detail = {});

}  // namespace velloran::ui
