// A day's work without the mouse: the real program, keys alone through the X server, from
// opening the document to quitting it.
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

#ifndef VELLORAN_PROGRAM
#error "VELLORAN_PROGRAM must name the program under test"
#endif

void Keys(const QStringList& keys) {
    QStringList arguments{"key", "--delay", "80"};
    Xdo(arguments + keys);
}

// The caption of the window with the focus, without the program's name the toolkit adds.
QString ActiveCaption() {
    return Xdo({"getactivewindow", "getwindowname"}).section(QString::fromUtf8(" \u2014 "), 0, 0);
}

}  // namespace

class KeyboardDisplayTest : public QObject {
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

    void openStepSearchSaveAndQuit() {
        WriteBytes("doc.vlp", "Notes\r\n[S] First\r\nalpha\r\n[S] Second\r\nbeta gamma\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir_->path() + "/config"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir_->path() + "/data"));
        program_.setProcessEnvironment(env);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(VELLORAN_PROGRAM, {"doc.vlp"});
        QVERIFY(program_.waitForStarted());
        QVERIFY(!velloran::testing::XdoWindow(program_.processId(), "^doc.vlp$").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);

        // The list steps to the first section; F8 goes into its text, which takes a word.
        Keys({"Down"});
        QTRY_COMPARE_WITH_TIMEOUT(Xdo({"search", "--pid", QString::number(program_.processId()),
                                       "--name", "^\\[S\\] First$"})
                                      .isEmpty(),
                                  false, 10000);
        Keys({"F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("[S] First"), 10000);
        Keys({"ctrl+Home", "Down", "End"});
        Xdo({"type", "--delay", "40", "omega"});
        // The editor steps on to the next section, back to the list and into the text again.
        Keys({"F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);
        Keys({"Down", "F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("[S] Second"), 10000);

        // Search: F3, the word typed over the field's text, Tab to "Search", Space; the text
        // found is selected in the editor, which has the focus, and typing replaces it.
        Keys({"F3"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("Search"), 10000);
        Keys({"ctrl+a"});
        Xdo({"type", "--delay", "40", "gamma"});
        Keys({"Tab", "space"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("[S] Second"), 10000);
        Xdo({"type", "--delay", "40", "delta"});

        // F1 saves; File > Exit by Alt+F and the arrows ends the program.
        Keys({"F1"});
        QTRY_COMPARE_WITH_TIMEOUT(
            QString::fromStdString(ReadBytes("doc.vlp")),
            QString("Notes\r\n[S] First\r\nalphaomega\r\n[S] Second\r\nbeta delta\r\n"), 10000);
        Keys({"F8"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);
        Keys({"alt+f", "Up", "Return"});  // Exit, the last item: the menu wraps round
        QVERIFY(program_.waitForFinished(15000));
        QCOMPARE(program_.exitCode(), 0);
    }

    // "Jon" becomes "Jonah" in every section, never in "Jonathan": F3, the pattern, Ctrl+H, the
    // replacement, Alt+W for whole words, Alt+D and Return through the preview, F1; Ctrl+Z in
    // the search window then puts every section back.
    void replaceAcrossTheDocument() {
        const std::string before =
            "Notes on Jon\r\n[S] One\r\nJon met Jonathan.\r\n[S] Two\r\nJon, said Jon\r\n";
        WriteBytes("doc.vlp", before);
        program_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(VELLORAN_PROGRAM, {"doc.vlp"});
        QVERIFY(program_.waitForStarted());
        QVERIFY(!velloran::testing::XdoWindow(program_.processId(), "^doc.vlp$").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("doc.vlp"), 10000);

        Keys({"F3"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("Search"), 10000);
        Keys({"ctrl+a"});
        Xdo({"type", "--delay", "40", "Jon"});
        Keys({"ctrl+h"});
        Xdo({"type", "--delay", "40", "Jonah"});
        Keys({"alt+w", "alt+d"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("Replace All in Document"), 10000);
        Keys({"Return"});
        QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString("Search"), 10000);
        Keys({"F1"});
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("doc.vlp"),
                                  std::string("Notes on Jonah\r\n[S] One\r\nJonah met Jonathan.\r\n"
                                              "[S] Two\r\nJonah, said Jonah\r\n"),
                                  10000);
        Keys({"ctrl+z", "F1"});
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("doc.vlp"), before, 10000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(KeyboardDisplayTest)
#include "keyboard_test.moc"
