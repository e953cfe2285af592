// A week's versions of a chapter, by keys alone through the X server: three saves, the first
// version restored from the History window and saved, and that version's bytes back on disk as
// velloran-cli reads them from the history.
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include "support/Display.h"
#include "support/TempDir.h"
#include "support/Xdo.h"

using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using velloran::testing::Xdo;

namespace {

#if !defined(VELLORAN_PROGRAM) || !defined(VELLORAN_CLI)
#error "VELLORAN_PROGRAM and VELLORAN_CLI must name the programs under test"
#endif

constexpr const char* kFirst = "Notes\r\n[S] First\r\nalpha\r\n[S] Second\r\nbeta\r\n";

void Keys(const QStringList& keys) {
    Xdo(QStringList{"key", "--delay", "80"} + keys);
}

QString ActiveCaption() {
    return Xdo({"getactivewindow", "getwindowname"}).section(QString::fromUtf8(" \u2014 "), 0, 0);
}

QByteArray Cli(const QStringList& arguments) {
    QProcess cli;
    cli.start(VELLORAN_CLI, arguments);
    if (!cli.waitForFinished(20000) || cli.exitCode() != 0) {
        return "velloran-cli failed: " + cli.readAllStandardError();
    }
    return cli.readAllStandardOutput();
}

}  // namespace

class HistoryDisplayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    QProcess program_;

  private slots:
    void initTestCase() { VELLORAN_REQUIRE_XDOTOOL(); }
    void init() { dir_ = std::make_unique<WorkFolder>(); }
    void cleanup() {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(10000);
        }
        dir_.reset();
    }

    void threeSavesAndTheFirstVersionRestored() {
        WriteBytes("doc.vlp", kFirst);
        program_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(VELLORAN_PROGRAM, {"doc.vlp"});
        QVERIFY(program_.waitForStarted());
        QVERIFY(!velloran::testing::XdoWindow(program_.processId(), "^doc.vlp$").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);
        Keys({"Down", "F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("[S] First"), 10000);

        std::string text = "alpha";
        for (const char* word : {" Monday", " Tuesday", " Wednesday"}) {
            Keys({"ctrl+End", "Up", "End"});
            Xdo({"type", "--delay", "40", word});
            Keys({"F1"});
            text += word;
            QTRY_COMPARE_WITH_TIMEOUT(
                ReadBytes("doc.vlp"),
                "Notes\r\n[S] First\r\n" + text + "\r\n[S] Second\r\nbeta\r\n", 10000);
        }

        // From the list, the Menu key's "History of this section"; the oldest version is the
        // last row; Alt+R restores it into the editor, F1 saves from the History window.
        Keys({"F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);
        Keys({"Menu", "Down", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("History"), 10000);
        Keys({"End", "alt+r", "F1"});
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("doc.vlp"), std::string(kFirst), 10000);

        QCOMPARE(Cli({"history", "doc.vlp", "--show", "1", "--section", "1"}),
                 QByteArray("[S] First\r\nalpha\r\n"));
        QCOMPARE(Cli({"history", "doc.vlp", "--show", "1"}), QByteArray(kFirst));
        // The restore is a version of its own, the newest: the save after it, of the same
        // text, adds none.
        const QByteArray list = Cli({"history", "doc.vlp"});
        QVERIFY2(list.trimmed().split('\n').last().contains("restored"), list.constData());
    }
};

VELLORAN_DISPLAY_TEST_MAIN(HistoryDisplayTest)
#include "history_test.moc"
