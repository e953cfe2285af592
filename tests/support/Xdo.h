#pragma once

// The real program driven through the X server as a user drives it: xdotool sends mouse clicks
// and keys to whatever window has the focus.

#include <QDebug>
#include <QElapsedTimer>
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

// The first window of process pid whose caption matches pattern, once it is shown. A search
// walks the window tree, and fails when a window goes while it does (a dialog closing): it is
// tried again then.
inline QString XdoWindow(qint64 pid, const QString& pattern) {
    QElapsedTimer waited;
    waited.start();
    QString found;
    while (found.isEmpty() && waited.elapsed() < 20000) {
        found = Xdo({"search", "--sync", "--all", "--onlyvisible", "--pid", QString::number(pid),
                     "--name", pattern})
                    .section('\n', 0, 0);
    }
    return found;
}

}  // namespace velloran::testing

// In a test's initTestCase: without xdotool the tests are skipped, or fail where a display with
// everything it needs was promised.
#define VELLORAN_REQUIRE_XDOTOOL()                                                 \
    do {                                                                           \
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) { \
            if (qEnvironmentVariableIsSet("VELLORAN_DISPLAY_REQUIRED")) {          \
                QFAIL("xdotool is missing");                                       \
            }                                                                      \
            QSKIP("needs xdotool");                                                \
        }                                                                          \
    } while (false)
