// The real program, driven through the X server as a user drives it: mouse clicks and keys sent
// by xdotool to whatever window has the focus.
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <string>

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

// Latin-1 bytes, not UTF-8: a name that no text decoding gives back.
const std::string kName = "\xe9t\xe9.vlp";

// A caption as the window manager shows it: the toolkit adds the program's name.
QString Shown(const QString& caption) {
    return caption + QString::fromUtf8(" \u2014 Velloran Editor");
}

std::string Document() {
    std::string text = "Preamble\r\n";
    for (int i = 1; i <= 120; ++i) {
        text += "preamble line " + std::to_string(i) + "\r\n";
    }
    return text + "[S] One [*] star\r\none body\r\n[S] Two\r\ntwo body\r\n";
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

    // The program's window whose caption matches pattern, once it is shown.
    QString Window(const QString& pattern) {
        return velloran::testing::XdoWindow(program_.processId(), pattern);
    }

    std::unique_ptr<WorkFolder> dir_;
    QProcess program_;

    // A window's client area on the screen, as xdotool reports it.
    static QRect ClientArea(const QString& window) {
        QRect area;
        for (const QString& line : Xdo({"getwindowgeometry", "--shell", window}).split('\n')) {
            const int value = line.section('=', 1).toInt();
            if (line.startsWith("X=")) {
                area.moveLeft(value);
            } else if (line.startsWith("Y=")) {
                area.moveTop(value);
            } else if (line.startsWith("WIDTH=")) {
                area.setWidth(value);
            } else if (line.startsWith("HEIGHT=")) {
                area.setHeight(value);
            }
        }
        return area;
    }

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

    // Without settings the list's frame stands at 50,0 and the document window's at 300,0, each
    // 250 pixels wide: the document window's client area begins just right of the list's, on
    // the same line. A program that cannot place its windows has them open on top of each other.
    void theWindowsStandSideBySide() {
        WriteBytes("Velloran.vlp", Document());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(VELLORAN_PROGRAM), {});
        QVERIFY(program_.waitForStarted());
        const QString list = Window(QStringLiteral("^Velloran\\.vlp"));
        const QString document = Window(QStringLiteral("^Program Description"));
        QVERIFY(!list.isEmpty() && !document.isEmpty());
        // xdotool counts a client's offset in its frame twice, so only the order is exact.
        const auto sideBySide = [&] {
            const QRect left = ClientArea(list);
            const QRect right = ClientArea(document);
            return left.left() >= 50 && left.right() < right.left() && right.left() >= 300 &&
                   right.left() < 300 + 50 && left.top() == right.top();
        };
        QTRY_VERIFY2(sideBySide(), qPrintable(QStringLiteral("list %1, document %2")
                                                  .arg(Xdo({"getwindowgeometry", list}),
                                                       Xdo({"getwindowgeometry", document}))));
    }

    // Opens a document whose name is not UTF-8, steps away from the section being typed in,
    // types on, clicks into the section shown, types and saves with F1: only what was typed
    // into the shown section is saved, and the hidden one stays byte for byte.
    void keysAfterASectionStepReachOnlyTheSectionShown() {
        WriteBytes(kName, Document());
        // The name goes through a shell as bytes; the toolkit's argument list would decode it.
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral("/bin/sh"),
                       {"-c", "exec \"$0\" \"$(printf '\\351t\\351.vlp')\"", VELLORAN_PROGRAM});
        QVERIFY(program_.waitForStarted());

        const QString list = Window(QStringLiteral("\\.vlp"));
        QVERIFY(!list.isEmpty());
        // The caption shows the name as the platform decodes file names.
        QCOMPARE(Xdo({"getwindowname", list}),
                 Shown(QFile::decodeName(QByteArray::fromStdString(kName))));
        const QString document = Window(QStringLiteral("^Program Description"));
        QVERIFY(!document.isEmpty());

        Xdo({"mousemove", "--window", document, "100", "100", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+Home", "shift+Next"});
        // A first line holding the toolkit's placeholder shows as it is.
        QTRY_COMPARE(Xdo({"getwindowname", document}), Shown("[S] One [*] star"));
        Xdo({"type", "Z"});
        Xdo({"key", "Delete"});
        Xdo({"mousemove", "--window", document, "100", "100", "click", "1"});
        Xdo({"key", "ctrl+End"});
        Xdo({"type", "Y"});
        Xdo({"key", "F1"});
        QTRY_VERIFY_WITH_TIMEOUT(ReadBytes(kName).find('Y') != std::string::npos, 10000);

        std::string expected = Document();
        expected.insert(expected.find("[S] Two"), "Y\r\n");
        QCOMPARE(QByteArray::fromStdString(ReadBytes(kName)), QByteArray::fromStdString(expected));
    }

    // New File hands a second instance a name that is not there yet: no open-file dialog comes
    // first, the first save makes the file, and the windows stand a step down and right of where
    // the settings put the first instance's.
    void aNewNameIsAnEmptyDocumentThatTheFirstSaveCreates() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELLORAN_CASCADE"), QStringLiteral("100"));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(VELLORAN_PROGRAM), {QStringLiteral("NewBook.vlp")});
        QVERIFY(program_.waitForStarted());
        const QString list = Window(QStringLiteral("^NewBook\\.vlp"));
        const QString document = Window(QStringLiteral("^Program Description"));
        QVERIFY(!list.isEmpty() && !document.isEmpty());
        QTRY_VERIFY(ClientArea(list).left() >= 150 && ClientArea(list).top() >= 100);
        QVERIFY(!QFile::exists(QStringLiteral("NewBook.vlp")));

        Xdo({"mousemove", "--window", document, "100", "100", "click", "1"});
        Xdo({"type", "Chapter"});
        Xdo({"key", "F1"});
        QTRY_VERIFY_WITH_TIMEOUT(ReadBytes("NewBook.vlp") == "Chapter\r\n", 10000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(ProgramTest)
#include "program_test.moc"
