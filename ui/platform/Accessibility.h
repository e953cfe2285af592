#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace velloran::ui {

// What a screen reader hears of the windows beyond what the toolkit tells by itself: a window
// made of a plain widget is announced as a window, not as an anonymous filler, and a menu title
// by the name given to it with NameMenuTitle. Installed once, before any window is created.
void InstallAccessibility();

// The menu's title is heard as name, without the blanks its caption is padded with, and the
// title opens with key (Alt and its letter) from the window that holds the menu bar, where
// the caption cannot carry a mnemonic of its own.
void NameMenuTitle(QMenu* menu, const QString& name, const QKeySequence& key, QWidget* window);

// caption with a mnemonic of its own among the items of menu so far: the first letter of a word
// that no item there has taken, else any such letter or digit; as it was when none is left.
QString WithMnemonic(const QMenu* menu, const QString& caption);

// The name a menu title is heard by; empty when it has none of its own.
QString MenuTitleName(const QAction* action);

}  // namespace velloran::ui
