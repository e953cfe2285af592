#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace velloran::ui {

// Window sizes are outer sizes, frame included where the window system reports one.
inline QRect OuterBounds(const QWidget* w) {
    return w->frameGeometry();
}

inline void SetOuterBounds(QWidget* w, int left, int top, int width, int height) {
    const QSize frame = w->frameGeometry().size() - w->geometry().size();
    w->move(left, top);
    w->resize(width - frame.width(), height - frame.height());
}

inline void SetOuterSize(QWidget* w, int width, int height) {
    const QSize frame = w->frameGeometry().size() - w->geometry().size();
    w->resize(width - frame.width(), height - frame.height());
}

// Where a window placed at w's right edge goes: left = w's left + w's width, top = w's top.
inline QPoint RightEdgeOf(const QWidget* w) {
    const QRect outer = OuterBounds(w);
    return {outer.left() + outer.width(), outer.top()};
}

// The smallest window a user can still work with.
inline constexpr QSize kMinimumWindow{120, 160};

// Bounds as close to wanted as keep the window usable: at least the minimum size, no larger than
// its screen, and far enough on a screen that its title bar can be grabbed. Settings from another
// machine or edited by hand may ask for anything.
QRect ReachableBounds(QRect wanted, const QList<QRect>& screens, QSize minimum = kMinimumWindow);

// ReachableBounds on the screens this program runs on.
QRect ReachableOnScreens(QRect wanted);

}  // namespace velloran::ui
