#pragma once

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

}  // namespace velloran::ui
