// The real program, a misspelled word typed through the X server: the screen shows it underlined.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QtTest>

#include "support/Display.h"
#include "support/TempDir.h"
#include "support/Xdo.h"

using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using velloran::testing::Xdo;

namespace {

#ifndef VELLORAN_PROGRAM
#error "VELLORAN_PROGRAM must name the program under test"
#endif

// The pixels of the misspelling underline's red on screen, in the window with that id.
int RedPixels(const QString& window) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
    int red = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 80 && c.blue() < 80 ? 1 : 0;
        }
    }
    return red;
}

}  // namespace

class SpellingDisplayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    QProcess program_;

  private slots:
    void initTestCase() { VELLORAN_REQUIRE_XDOTOOL(); }
    void init() { dir_ = std::make_unique<WorkFolder>(); }
    void cleanup() {
        if (program_.state() != QProcess::NotRunning) {
            program_.terminate();
            program_.waitForFinished(10000);
        }
        dir_.reset();
    }

    void typedMisspellingIsUnderlinedOnScreen() {
        WriteBytes("doc.vlp", "the quick fox\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DICPATH", VELLORAN_TEST_DICTIONARIES);
        env.insert("LANG", "en_TEST.UTF-8");
        env.remove("LC_ALL");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir_->path() + "/config"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir_->path() + "/data"));
        program_.setProcessEnvironment(env);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(VELLORAN_PROGRAM, {"doc.vlp"});
        QVERIFY(program_.waitForStarted());
        const QString document = velloran::testing::XdoWindow(
            program_.processId(), QStringLiteral("the quick fox|Program Description"));
        QVERIFY(!document.isEmpty());
        QTest::qWait(300);  // a correct text: nothing to see
        QCOMPARE(RedPixels(document), 0);

        Xdo({"mousemove", "--window", document, "60", "40", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+End"});
        Xdo({"type", "--delay", "20", " brwn"});
        // Not while it is typed: the caret is still in it.
        QTest::qWait(300);
        QCOMPARE(RedPixels(document), 0);
        Xdo({"type", "--delay", "20", " "});
        QTRY_VERIFY_WITH_TIMEOUT(RedPixels(document) > 10, 10000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(SpellingDisplayTest)
#include "spelling_test.moc"
