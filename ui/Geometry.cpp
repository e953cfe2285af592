#include "ui/Geometry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <optional>

namespace velloran::ui {

namespace {

// One window manager frames all of this program's windows alike, so the last frame seen is the
// best guess for a window not framed yet.
QMargins lastFrame;

QMargins FrameOf(const QWidget* w) {
    const QRect outer = w->frameGeometry();
    const QRect inner = w->geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

bool Framed(const QWidget* w) {
    return w->frameGeometry() != w->geometry();
}

// The outer bounds asked for a window, kept until its frame is known. The window manager may
// frame the window after the bounds were applied (they are applied before the window is
// mapped), and reports the frame by events on the window; the bounds are then applied again.
class OuterPlacement : public QObject {
    Q_OBJECT

  public:
    explicit OuterPlacement(QWidget* w) : QObject(w), w_(w) { w->installEventFilter(this); }

    static OuterPlacement* Of(const QWidget* w) {
        return w->findChild<OuterPlacement*>(QString(), Qt::FindDirectChildrenOnly);
    }

    bool Pending() const { return pending_; }
    QRect Wanted() const { return {topLeft_, size_.value_or(w_->size().grownBy(lastFrame))}; }

    void Place(QPoint topLeft, std::optional<QSize> size) {
        topLeft_ = topLeft;
        // A size still waiting for the frame stays wanted when only the corner moves.
        if (size || !pending_) {
            size_ = size;
        }
        pending_ = true;
        Apply();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        switch (e->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Expose:
                if (watched == w_) {
                    WatchWindow();
                }
                if (pending_ && !applying_ && Framed(w_)) {
                    if (FrameOf(w_) == applied_) {
                        pending_ = false;  // the guess was right, or the frame came in time
                    } else {
                        Apply();
                    }
                }
                break;
            default:
                break;
        }
        return false;
    }

  private:
    // Some frames are only reported by an exposure of the native window.
    void WatchWindow() {
        QWindow* window = w_->windowHandle();
        if (window && window != window_) {
            window->installEventFilter(this);
            window_ = window;
        }
    }

    void Apply() {
        if (w_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
            pending_ = false;
            return;
        }
        applying_ = true;
        const bool framed = Framed(w_);
        const QMargins frame = framed ? FrameOf(w_) : lastFrame;
        if (framed) {
            lastFrame = frame;
        }
        const QSize client = size_ ? size_->shrunkBy(frame) : w_->size();
        w_->setGeometry(QRect(topLeft_ + QPoint(frame.left(), frame.top()), client));
        applied_ = frame;
        pending_ = !framed;
        applying_ = false;
        WatchWindow();
    }

    QWidget* w_;
    QPointer<QWindow> window_;
    QPoint topLeft_;
    std::optional<QSize> size_;
    QMargins applied_;
    bool pending_ = false;
    bool applying_ = false;
};

void Place(QWidget* w, QPoint topLeft, std::optional<QSize> size) {
    OuterPlacement* placement = OuterPlacement::Of(w);
    if (!placement) {
        placement = new OuterPlacement(w);
    }
    placement->Place(topLeft, size);
}

}  // namespace

QRect OuterBounds(const QWidget* w) {
    const OuterPlacement* placement = OuterPlacement::Of(w);
    if (placement && placement->Pending()) {
        return placement->Wanted();
    }
    return w->frameGeometry();
}

void PlaceOuter(QWidget* w, const QRect& outer) {
    Place(w, outer.topLeft(), outer.size());
}

void PlaceOuterAt(QWidget* w, QPoint topLeft) {
    Place(w, topLeft, std::nullopt);
}

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

QPoint AtRightEdgeOf(const QWidget* beside, QSize outerSize) {
    return ReachableOnScreens(QRect(RightEdgeOf(beside), outerSize)).topLeft();
}

void ShowAtRightEdgeOf(QWidget* w, const QWidget* beside) {
    PlaceOuterAt(w, AtRightEdgeOf(beside, OuterBounds(w).size()));
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace velloran::ui

#include "Geometry.moc"
