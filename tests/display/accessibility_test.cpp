// The real program read through the accessibility bus, as Orca reads it: its own session bus
// and accessibility bus, and accessibility_walk.py opening every window by keys and reading it.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QtTest>

#include "support/Display.h"
#include "support/TempDir.h"
#include "support/Xdo.h"

using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

#ifndef VELLORAN_PROGRAM
#error "VELLORAN_PROGRAM must name the program under test"
#endif

constexpr char kBusLauncher[] = "/usr/libexec/at-spi-bus-launcher";
constexpr char kPython[] = "/usr/bin/python3";

void Stop(QProcess& p) {
    if (p.state() != QProcess::NotRunning) {
        p.terminate();
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
}

}  // namespace

class AccessibilityDisplayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    QProcess bus_;
    QProcess launcher_;
    QProcess program_;

  private slots:
    void initTestCase() {
        VELLORAN_REQUIRE_XDOTOOL();
        QProcess probe;
        probe.start(kPython, {"-c", "import pyatspi"});
        const bool python = probe.waitForFinished(30000) && probe.exitCode() == 0;
        if (!QFile::exists(kBusLauncher) || !python ||
            QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            if (qEnvironmentVariableIsSet("VELLORAN_DISPLAY_REQUIRED")) {
                QFAIL("needs at-spi2-core, dbus-daemon and python3-pyatspi");
            }
            QSKIP("needs at-spi2-core, dbus-daemon and python3-pyatspi");
        }
    }
    void init() { dir_ = std::make_unique<WorkFolder>(); }
    void cleanup() {
        Stop(program_);
        Stop(launcher_);
        Stop(bus_);
        dir_.reset();
    }

    void everyWindowReadsAsAScreenReaderNeedsIt() {
        // A bus of the test's own, so that no desktop's screen reader or registry is involved.
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(bus_.canReadLine(), 10000);
        const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
        QVERIFY(!address.isEmpty());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        env.insert("DICPATH", VELLORAN_TEST_DICTIONARIES);
        env.insert("LANG", "en_TEST.UTF-8");
        env.remove("LC_ALL");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir_->path() + "/config"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir_->path() + "/data"));
        launcher_.setProcessEnvironment(env);
        launcher_.setProcessChannelMode(QProcess::ForwardedChannels);
        launcher_.start(kBusLauncher, {"--launch-immediately"});
        QVERIFY(launcher_.waitForStarted());

        WriteBytes("doc.vlp", "one\r\nTeh quick brwn fox\r\n");
        program_.setProcessEnvironment(env);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(VELLORAN_PROGRAM, {"doc.vlp"});
        QVERIFY(program_.waitForStarted());
        QVERIFY(!velloran::testing::XdoWindow(program_.processId(), "^doc.vlp$").isEmpty());

        QProcess walk;
        walk.setProcessEnvironment(env);
        walk.setProcessChannelMode(QProcess::MergedChannels);
        walk.start(kPython, {VELLORAN_ACCESSIBILITY_WALK});
        QVERIFY(walk.waitForStarted());
        const bool finished = walk.waitForFinished(240000);
        const QByteArray told = walk.readAll();
        qInfo().noquote() << told;
        QVERIFY2(finished, "the walk did not finish");
        QCOMPARE(walk.exitCode(), 0);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(AccessibilityDisplayTest)
#include "accessibility_test.moc"
