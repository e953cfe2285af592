#pragma once

// Keys typed through mutter's remote desktop service on the session's bus, as a keyboard types
// them. On native Wayland no program may send input to another, and a window is only let take
// the focus in answer to the user's input: these keys are that input.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QEvent>
#include <QTest>
#include <memory>

namespace velloran::testing {

class CompositorKeys : public QObject {
  public:
    static constexpr quint32 kShift = 0xffe1;
    static constexpr quint32 kDown = 0xff54;
    static constexpr quint32 kF7 = 0xffc4;

    CompositorKeys() {
        const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
        QDBusInterface desktop(service, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), service,
                               QDBusConnection::sessionBus());
        const QDBusReply<QDBusObjectPath> path = desktop.call(QStringLiteral("CreateSession"));
        if (!path.isValid()) {
            error_ = path.error().message();
            return;
        }
        session_ = std::make_unique<QDBusInterface>(service, path.value().path(),
                                                    service + QStringLiteral(".Session"),
                                                    QDBusConnection::sessionBus());
        const QDBusMessage started = session_->call(QStringLiteral("Start"));
        if (started.type() == QDBusMessage::ErrorMessage) {
            error_ = started.errorMessage();
            session_.reset();
        }
    }
    ~CompositorKeys() override {
        if (session_) {
            session_->call(QStringLiteral("Stop"));
        }
    }

    // Why there are no keys; empty when there are.
    const QString& Error() const { return error_; }

    void Press(quint32 keysym) {
        session_->call(QStringLiteral("NotifyKeyboardKeysym"), keysym, true);
        session_->call(QStringLiteral("NotifyKeyboardKeysym"), keysym, false);
    }

    // Presses Shift, again until it arrives in one of this program's windows (the compositor's
    // new keyboard may drop the first keys while it sets itself up): true once it did. Shift
    // alone changes nothing where it lands; it is input the window that has the focus answers.
    bool ShiftArrives() {
        arrived_ = false;
        QCoreApplication::instance()->installEventFilter(this);
        for (int attempt = 0; attempt < 10 && !arrived_; ++attempt) {
            Press(kShift);
            static_cast<void>(QTest::qWaitFor([this] { return arrived_; }, 500));
        }
        QCoreApplication::instance()->removeEventFilter(this);
        return arrived_;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::KeyRelease) {
            arrived_ = true;
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    std::unique_ptr<QDBusInterface> session_;
    QString error_;
    bool arrived_ = false;
};

}  // namespace velloran::testing
