#include "ui/platform/Platform.h"

#include <QGuiApplication>

namespace velloran::ui {

namespace {

constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";

}  // namespace

std::optional<QByteArray> PreferredPlatform(const QByteArray& qpaPlatform,
                                            const QByteArray& display) {
    if (!qpaPlatform.trimmed().isEmpty() || display.trimmed().isEmpty()) {
        return std::nullopt;
    }
    // A list is tried in order; without an X server after all, Wayland still starts.
    return QByteArrayLiteral("xcb;wayland");
}

PlatformChoice::PlatformChoice() {
    if (qEnvironmentVariableIsSet(kPlatformVariable)) {
        before_ = qgetenv(kPlatformVariable);
    }
    if (const auto platform =
            PreferredPlatform(before_.value_or(QByteArray()), qgetenv("DISPLAY"))) {
        set_ = qputenv(kPlatformVariable, *platform);
    }
}

PlatformChoice::~PlatformChoice() {
    if (!set_) {
        return;
    }
    if (before_) {
        qputenv(kPlatformVariable, *before_);
    } else {
        qunsetenv(kPlatformVariable);
    }
}

QString DescribePlatform(const QByteArray& qpaPlatform, const QByteArray& display) {
    if (PreferredPlatform(qpaPlatform, display)) {
        return QStringLiteral("X11 (DISPLAY=%1)").arg(QString::fromLocal8Bit(display.trimmed()));
    }
    if (!qpaPlatform.trimmed().isEmpty()) {
        return QStringLiteral("%1 (QT_QPA_PLATFORM)").arg(QString::fromLocal8Bit(qpaPlatform));
    }
    return QStringLiteral("the toolkit's choice (no DISPLAY)");
}

bool PlacesWindows() {
    // "wayland", "wayland-egl" and the like.
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace velloran::ui
