// The real program, a misspelled word typed through the X server: the screen shows it underlined.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QSet>
#include <QtTest>
#include <algorithm>

#include "support/Display.h"
#include "support/TempDir.h"
#include "support/Xdo.h"
#include "ui/platform/Colours.h"

using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using velloran::testing::Xdo;

namespace {

#ifndef VELLORAN_PROGRAM
#error "VELLORAN_PROGRAM must name the program under test"
#endif

// What the window with that id shows of the marks: the rows holding the underline's red, how
// many pixels of it, and how many of the selection's colour.
struct Marks {
    QSet<int> rows;
    int red = 0;
    int selected = 0;
};

Marks MarksOnScreen(const QString& window) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
    Marks marks;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 80 && c.blue() < 80) {
                ++marks.red;
                marks.rows.insert(y);
            }
            marks.selected += c.rgb() == QColor(velloran::ui::kFixedSelection).rgb() ? 1 : 0;
        }
    }
    return marks;
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

    // Each wait is for something to appear, so that what must not appear has had its chance.
    void typedMisspellingIsUnderlinedOnScreen() {
        WriteBytes("doc.vlp", "the quick fox\r\nbrwn\r\n");
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
        // The screen's words are answered together: "brwn" underlined, the line of correct
        // words above it not.
        QTRY_VERIFY_WITH_TIMEOUT(MarksOnScreen(document).red > 10, 10000);
        const Marks first = MarksOnScreen(document);
        QVERIFY2(*std::max_element(first.rows.begin(), first.rows.end()) -
                         *std::min_element(first.rows.begin(), first.rows.end()) <=
                     3,
                 "more than one line underlined");

        // The same word typed again, its answer known: not while the caret is in it. A
        // selection made after it shows that every key before it was taken and painted.
        Xdo({"mousemove", "--window", document, "60", "40", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+End"});
        Xdo({"type", "--delay", "20", "brwn"});
        Xdo({"key", "--delay", "20", "shift+Left"});
        QTRY_VERIFY_WITH_TIMEOUT(MarksOnScreen(document).selected > 0, 10000);
        QCOMPARE(MarksOnScreen(document).red, first.red);
        Xdo({"key", "--delay", "20", "End"});
        Xdo({"type", "--delay", "20", " "});
        QTRY_VERIFY_WITH_TIMEOUT(MarksOnScreen(document).red > first.red + 10, 10000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(SpellingDisplayTest)
#include "spelling_test.moc"
