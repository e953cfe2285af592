#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace velloran::ui {

// Window sizes and positions are outer bounds, frame included where the window system reports
// one. The frame is only known once the window manager has framed the window, so bounds are put
// in place twice when needed: at once, with the frame other windows of this program got, and
// again when the window's own frame is reported.

// Outer bounds: those asked for while the window waits for its frame, else its frame geometry;
// on a platform that tells no position (native Wayland), at the position last asked for.
QRect OuterBounds(const QWidget* w);

// Puts w's frame at outer, now and once more when w's frame becomes known.
void PlaceOuter(QWidget* w, const QRect& outer);
// The same for the top-left corner only; the outer size stays.
void PlaceOuterAt(QWidget* w, QPoint topLeft);

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

// ReachableBounds on the screens this program runs on; where the compositor places the windows,
// only the size is kept within them.
QRect ReachableOnScreens(QRect wanted);

// The top-left corner for a window of outerSize at beside's right edge, kept within reach.
QPoint AtRightEdgeOf(const QWidget* beside, QSize outerSize);

// Shows a tool window at beside's right edge, or moves an open one there, and brings it forward.
void ShowAtRightEdgeOf(QWidget* w, const QWidget* beside);

}  // namespace velloran::ui
