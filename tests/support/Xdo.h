#pragma once

// The real program driven through the X server as a user drives it: xdotool sends mouse clicks
// and keys to whatever window has the focus.

#include <QDebug>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace velloran::testing {

// Runs xdotool and gives its output; empty when it failed.
inline QString Xdo(const QStringList& arguments) {
    QProcess xdo;
    xdo.start(QStringLiteral("xdotool"), arguments);
    if (!xdo.waitForFinished(15000) || xdo.exitCode() != 0) {
        qWarning() << "xdotool" << arguments << "failed:" << xdo.readAllStandardError();
        xdo.kill();
        return {};
    }
    return QString::fromUtf8(xdo.readAllStandardOutput()).trimmed();
}

// The first window of process pid whose caption matches pattern, once it is shown.
inline QString XdoWindow(qint64 pid, const QString& pattern) {
    return Xdo({"search", "--sync", "--all", "--onlyvisible", "--pid", QString::number(pid),
                "--name", pattern})
        .section('\n', 0, 0);
}

inline bool HaveXdotool() {
    return !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

}  // namespace velloran::testing
