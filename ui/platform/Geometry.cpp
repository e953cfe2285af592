#include "ui/platform/Geometry.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <optional>

#include "ui/platform/Platform.h"

namespace velloran::ui {

namespace {

// One window manager frames all of this program's windows alike, so the last frame seen is the
// best guess for a window not framed yet.
QMargins lastFrame;

// The frame the window manager gave w, once it is known: read from the native window, as the
// widget's own copy may lag behind. A frame still being built can be reported for a moment with
// sizes no frame has; those are not taken.
std::optional<QMargins> FrameOf(const QWidget* w) {
    const QWindow* window = w->windowHandle();
    if (!window) {
        return std::nullopt;
    }
    const QMargins m = window->frameMargins();
    constexpr int kThickest = 100;
    const bool plausible = m.left() >= 0 && m.top() >= 0 && m.right() >= 0 && m.bottom() >= 0 &&
                           m.left() <= kThickest && m.top() <= kThickest &&
                           m.right() <= kThickest && m.bottom() <= kThickest;
    if (m.isNull() || !plausible) {
        return std::nullopt;
    }
    return m;
}

QRect FrameGeometry(const QWidget* w) {
    const std::optional<QMargins> frame = FrameOf(w);
    return frame ? w->geometry().marginsAdded(*frame) : w->frameGeometry();
}

// The outer bounds asked for a window, kept until its frame stands there. The window manager
// frames a window only after it was mapped, so bounds are applied first with a guessed frame,
// and again whenever the window's frame turns out different from the one last applied.
class OuterPlacement : public QObject {
    Q_OBJECT

  public:
    explicit OuterPlacement(QWidget* w) : QObject(w), w_(w) {
        w->installEventFilter(this);
        settle_.setInterval(50);
        connect(&settle_, &QTimer::timeout, this, &OuterPlacement::Settle);
    }

    static OuterPlacement* Of(const QWidget* w) {
        return w->findChild<OuterPlacement*>(QString(), Qt::FindDirectChildrenOnly);
    }

    // Still waiting for the window's frame: its outer bounds are those asked for.
    bool Unframed() const { return tracking_ && !FrameOf(w_); }
    QRect Wanted() const { return {topLeft_, size_.value_or(w_->size().grownBy(lastFrame))}; }
    QPoint WantedTopLeft() const { return topLeft_; }

    void Place(QPoint topLeft, std::optional<QSize> size) {
        topLeft_ = topLeft;
        // A size still waiting for the frame stays wanted when only the corner moves.
        if (size || !tracking_) {
            size_ = size;
        }
        tracking_ = true;
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
                if (tracking_ && !applying_) {
                    if (const auto frame = FrameOf(w_)) {
                        if (Placed()) {
                            tracking_ = false;
                        } else if (*frame != applied_) {
                            Apply();
                        }
                    }
                }
                break;
            default:
                break;
        }
        return false;
    }

  private:
    bool Placed() const {
        const QRect frame = FrameGeometry(w_);
        // A platform that tells no position has placed the window once its size is right.
        return (frame.topLeft() == topLeft_ || !PlacesWindows()) &&
               (!size_ || frame.size() == *size_);
    }

    // A frame can change with no event to the window: mutter's X11 frames are first read with
    // their invisible borders, then without. For a while after bounds were applied the frame is
    // looked at again, and the bounds applied anew when it changed.
    void Settle() {
        constexpr qint64 kSettleMs = 1500;
        if (settling_.elapsed() > kSettleMs) {
            settle_.stop();
            return;
        }
        const std::optional<QMargins> frame = FrameOf(w_);
        if (frame && *frame != applied_ && w_->isVisible() && !applying_) {
            tracking_ = true;
            Apply();
        }
    }

    // Some frames are only known by the time the native window is exposed.
    void WatchWindow() {
        QWindow* window = w_->windowHandle();
        if (window && window != window_) {
            window->installEventFilter(this);
            window_ = window;
        }
    }

    void Apply() {
        // A maximised window keeps the bounds the window manager gave it.
        if (w_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
            tracking_ = false;
            return;
        }
        applying_ = true;
        const std::optional<QMargins> known = FrameOf(w_);
        const QMargins frame = known.value_or(lastFrame);
        if (known) {
            lastFrame = frame;
        }
        const QSize client = size_ ? size_->shrunkBy(frame) : w_->size();
        w_->setGeometry(QRect(topLeft_ + QPoint(frame.left(), frame.top()), client));
        applied_ = frame;
        applying_ = false;
        WatchWindow();
        settling_.start();
        settle_.start();
    }

    QWidget* w_;
    QPointer<QWindow> window_;
    QPoint topLeft_;
    std::optional<QSize> size_;
    QMargins applied_;
    QTimer settle_;
    QElapsedTimer settling_;
    bool tracking_ = false;
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
    if (placement && placement->Unframed()) {
        return placement->Wanted();
    }
    const QRect frame = FrameGeometry(w);
    // Where the platform tells no position, the one asked for is all that is known: it is what
    // the settings keep, instead of the corner the toolkit makes up.
    if (placement && !PlacesWindows()) {
        return {placement->WantedTopLeft(), frame.size()};
    }
    return frame;
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
    const QRect reachable = ReachableBounds(wanted, screens);
    // Where the compositor places every window, none is ever out of reach, and the position
    // asked for stays as it was, to be kept by the settings.
    if (!PlacesWindows()) {
        return {wanted.topLeft(), reachable.size()};
    }
    return reachable;
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
