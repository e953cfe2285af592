// A day's work without the mouse: the real program, keys alone through the X server, from
// opening the document to quitting it, a character renamed across the book, a chapter's first
// version restored from its history.
#include <QProcess>
#include <QtTest>

#include "support/Display.h"
#include "support/Programs.h"
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

void Keys(const QStringList& keys) {
    QStringList arguments{"key", "--delay", "80"};
    Xdo(arguments + keys);
}

// The caption of the window with the focus, without the program's name the toolkit adds.
QString ActiveCaption() {
    return Xdo({"getactivewindow", "getwindowname"}).section(QString::fromUtf8(" \u2014 "), 0, 0);
}

constexpr const char* kFirst = "Notes\r\n[S] First\r\nalpha\r\n[S] Second\r\nbeta\r\n";

// What velloran-cli prints, or why it failed.
QByteArray Cli(const QStringList& arguments) {
    QProcess cli;
    cli.start(VELLORAN_CLI, arguments);
    if (!cli.waitForFinished(20000) || cli.exitCode() != 0) {
        return "velloran-cli failed: " + cli.readAllStandardError();
    }
    return cli.readAllStandardOutput();
}

#define VERIFY_ACTIVE(caption) QTRY_COMPARE_WITH_TIMEOUT(ActiveCaption(), QString(caption), 10000)

}  // namespace

class KeyboardDisplayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    velloran::testing::Programs programs_;

    // The program on doc.vlp holding text, its section list window active.
    QProcess* Start(const std::string& text) {
        WriteBytes("doc.vlp", text);
        QProcess& program = programs_.Start("doc.vlp");
        if (velloran::testing::XdoWindow(program.processId(), "^doc.vlp$").isEmpty()) {
            return nullptr;
        }
        return &program;
    }

  private slots:
    void initTestCase() { VELLORAN_REQUIRE_XDOTOOL(); }
    void init() { dir_ = std::make_unique<WorkFolder>(); }
    void cleanup() {
        programs_.EndAll();
        dir_.reset();
    }

    void openStepSearchSaveAndQuit() {
        QProcess* program = Start("Notes\r\n[S] First\r\nalpha\r\n[S] Second\r\nbeta gamma\r\n");
        QVERIFY(program);
        VERIFY_ACTIVE("doc.vlp");

        // The list steps to the first section; F8 goes into its text, which takes a word.
        Keys({"Down"});
        QTRY_COMPARE_WITH_TIMEOUT(Xdo({"search", "--pid", QString::number(program->processId()),
                                       "--name", "^\\[S\\] First$"})
                                      .isEmpty(),
                                  false, 10000);
        Keys({"F8"});
        VERIFY_ACTIVE("[S] First");
        Keys({"ctrl+Home", "Down", "End"});
        Xdo({"type", "--delay", "40", "omega"});
        // The editor steps on to the next section, back to the list and into the text again.
        Keys({"F8"});
        VERIFY_ACTIVE("doc.vlp");
        Keys({"Down", "F8"});
        VERIFY_ACTIVE("[S] Second");

        // Search: F3, the word typed over the field's text, Tab to "Search", Space; the text
        // found is selected in the editor, which has the focus, and typing replaces it.
        Keys({"F3"});
        VERIFY_ACTIVE("Search");
        Keys({"ctrl+a"});
        Xdo({"type", "--delay", "40", "gamma"});
        Keys({"Tab", "space"});
        VERIFY_ACTIVE("[S] Second");
        Xdo({"type", "--delay", "40", "delta"});

        // F1 saves; File > Exit by Alt+F and the arrows ends the program.
        Keys({"F1"});
        QTRY_COMPARE_WITH_TIMEOUT(
            QString::fromStdString(ReadBytes("doc.vlp")),
            QString("Notes\r\n[S] First\r\nalphaomega\r\n[S] Second\r\nbeta delta\r\n"), 10000);
        Keys({"F8"});
        VERIFY_ACTIVE("doc.vlp");
        Keys({"alt+f", "Up", "Return"});  // Exit, the last item: the menu wraps round
        QVERIFY(program->waitForFinished(15000));
        QCOMPARE(program->exitCode(), 0);
    }

    // "Jon" becomes "Jonah" in every section, never in "Jonathan": F3, the pattern, Ctrl+H, the
    // replacement, Alt+W for whole words, Alt+D and Return through the preview, F1; Ctrl+Z in
    // the search window then puts every section back.
    void replaceAcrossTheDocument() {
        const std::string before =
            "Notes on Jon\r\n[S] One\r\nJon met Jonathan.\r\n[S] Two\r\nJon, said Jon\r\n";
        QVERIFY(Start(before));
        VERIFY_ACTIVE("doc.vlp");

        Keys({"F3"});
        VERIFY_ACTIVE("Search");
        Keys({"ctrl+a"});
        Xdo({"type", "--delay", "40", "Jon"});
        Keys({"ctrl+h"});
        Xdo({"type", "--delay", "40", "Jonah"});
        Keys({"alt+w", "alt+d"});
        VERIFY_ACTIVE("Replace All in Document");
        Keys({"Return"});
        VERIFY_ACTIVE("Search");
        Keys({"F1"});
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("doc.vlp"),
                                  std::string("Notes on Jonah\r\n[S] One\r\nJonah met Jonathan.\r\n"
                                              "[S] Two\r\nJonah, said Jonah\r\n"),
                                  10000);
        Keys({"ctrl+z", "F1"});
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("doc.vlp"), before, 10000);
    }

    // Three saves of a chapter; from the list, the Menu key's "History of this section", the
    // oldest version the last row, Alt+R restoring it into the editor and F1 saving from the
    // History window: the file and velloran-cli's history hold that version's bytes.
    void threeSavesAndTheFirstVersionRestored() {
        QVERIFY(Start(kFirst));
        VERIFY_ACTIVE("doc.vlp");
        Keys({"Down", "F8"});
        VERIFY_ACTIVE("[S] First");

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

        Keys({"F8"});
        VERIFY_ACTIVE("doc.vlp");
        Keys({"Menu", "Down", "Return"});
        VERIFY_ACTIVE("History");
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

VELLORAN_DISPLAY_TEST_MAIN(KeyboardDisplayTest)
#include "keyboard_test.moc"
