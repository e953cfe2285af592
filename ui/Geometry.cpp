#include "ui/Geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace velloran::ui {

QRect ReachableBounds(QRect wanted, const QList<QRect>& screens, QSize minimum) {
    QSize size(std::max(wanted.width(), minimum.width()),
               std::max(wanted.height(), minimum.height()));
    if (screens.isEmpty()) {
        return {wanted.topLeft(), size};
    }
    // The screen the window is mostly on, else the first.
    QRect screen = screens.constFirst();
    qint64 most = 0;
    for (const QRect& s : screens) {
        const QRect overlap = QRect(wanted.topLeft(), size) & s;
        const qint64 area = qint64(overlap.width()) * overlap.height();
        if (area > most) {
            most = area;
            screen = s;
        }
    }
    size = size.boundedTo(screen.size()).expandedTo(minimum);
    constexpr int kGrab = 48;  // of the title bar, left on the screen
    const int left = std::clamp(wanted.left(), screen.left() - size.width() + kGrab,
                                screen.left() + screen.width() - kGrab);
    const int top = std::clamp(wanted.top(), screen.top(), screen.top() + screen.height() - kGrab);
    return {QPoint(left, top), size};
}

QRect ReachableOnScreens(QRect wanted) {
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens()) {
        screens.push_back(s->availableGeometry());
    }
    return ReachableBounds(wanted, screens);
}

}  // namespace velloran::ui
