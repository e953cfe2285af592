// The real program running while another process rewrites its document, or a sync tool leaves
// a conflict copy beside it: what the writer typed and what the other side wrote both end up in
// the saved file, and a killed run after a merge recovers the merged text. Keys and clicks go
// through the X server.
#include <signal.h>

#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <string>

#include "core/recovery/RecoveryRecord.h"
#include "support/Display.h"
#include "support/Programs.h"
#include "support/TempDir.h"
#include "support/Xdo.h"

using velloran::testing::Programs;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using velloran::testing::Xdo;
using velloran::testing::XdoWindow;

namespace {

#ifndef VELLORAN_PROGRAM
#error "VELLORAN_PROGRAM must name the program under test"
#endif

const std::string kDoc = "Preamble\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\nsun\r\n";

// The sections' text in the records kept in the state folder.
std::string RecordedText() {
    std::string text;
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/velloran/recovery";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string manifest = entry.path().string() + "/manifest";
        try {
            if (std::filesystem::exists(manifest)) {
                const auto m = velloran::DecodeManifest(ReadBytes(manifest), manifest);
                for (const auto& s : velloran::ReadRecord(entry.path(), m, nullptr).sections) {
                    text += s.text;
                }
            }
        } catch (const velloran::Error&) {
            // Replaced while it was read: the next look sees the new one.
        }
    }
    return text;
}

}  // namespace

class DiskChangeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    Programs programs_;

    QProcess& Start(const std::string& name) { return programs_.Start(name); }

    // Another program writes the document as editors and sync tools do: a new file renamed
    // over it.
    static void RewriteFromAnotherProcess(const std::string& text) {
        QProcess shell;
        shell.start(QStringLiteral("sh"),
                    {QStringLiteral("-c"),
                     QStringLiteral("cat > June.vlp.part && mv June.vlp.part June.vlp")});
        QVERIFY(shell.waitForStarted());
        shell.write(QByteArray::fromStdString(text));
        shell.closeWriteChannel();
        QVERIFY(shell.waitForFinished());
        QCOMPARE(shell.exitCode(), 0);
    }

    // Types at the end of the section shown, after a click into the document window.
    static void TypeAtTheEnd(const QProcess& program, const QString& caption, const char* text) {
        const QString document = XdoWindow(program.processId(), caption);
        QVERIFY(!document.isEmpty());
        Xdo({"mousemove", "--window", document, "60", "60", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+End"});
        Xdo({"type", "--delay", "20", text});
    }

    static void Save(const QProcess& program) {
        const QString list = XdoWindow(program.processId(), QStringLiteral("^June\\.vlp$"));
        QVERIFY(!list.isEmpty());
        Xdo({"windowactivate", "--sync", list});
        Xdo({"key", "F1"});
    }

  private slots:
    void initTestCase() { VELLORAN_REQUIRE_XDOTOOL(); }

    void init() { dir_ = std::make_unique<WorkFolder>(); }

    void cleanup() {
        programs_.EndAll();
        dir_.reset();
    }

    // Two writers in different sections: one types in the editor, the other rewrites the file
    // while it runs. The merge comes with its report, and F1 saves both without a question.
    void editsInDifferentSectionsBothReachTheFile() {
        WriteBytes("June.vlp", kDoc);
        QProcess& program = Start("June.vlp");
        TypeAtTheEnd(program, QStringLiteral("^Program Description"), "written at the desk");
        RewriteFromAnotherProcess(
            "Preamble\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\nsun, then "
            "wind\r\n");
        QVERIFY(!XdoWindow(program.processId(), QStringLiteral("^Merged$")).isEmpty());
        Save(program);
        QTRY_COMPARE_WITH_TIMEOUT(
            ReadBytes("June.vlp"),
            std::string("Preamble\r\nwritten at the desk\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\n"
                        "sun, then wind\r\n"),
            20000);
    }

    // Both changed the same lines: both versions kept, marked; the record follows the merge, so
    // that a run killed then gives the merged text back.
    void aKilledRunAfterAConflictRecoversTheMergedText() {
        WriteBytes("June.vlp", kDoc);
        QProcess& killed = Start("June.vlp");
        TypeAtTheEnd(killed, QStringLiteral("^Program Description"), "desk");
        RewriteFromAnotherProcess(
            "Preamble\r\nlaptop\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\n"
            "sun\r\n");
        QVERIFY(!XdoWindow(killed.processId(), QStringLiteral("^Merged$")).isEmpty());
        const std::string merged =
            "Preamble\r\n<<<<<<< as changed here\r\ndesk\r\n=======\r\nlaptop\r\n"
            ">>>>>>> as changed on disk\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(RecordedText().find(merged) != std::string::npos, 20000);
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(10000));

        QProcess& again = Start("June.vlp");
        const QString box = XdoWindow(again.processId(), QStringLiteral("^Velloran Editor$"));
        QVERIFY(!box.isEmpty());
        Xdo({"windowactivate", "--sync", box});
        Xdo({"key", "alt+y"});
        Save(again);
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("June.vlp"),
                                  merged + "[S] Monday\r\nrain\r\n[S] Tuesday\r\nsun\r\n", 20000);
    }

    // A sync tool's conflict copy appears beside the running document: offered, merged, moved
    // to the trash.
    void aConflictCopyThatAppearsIsMerged() {
        WriteBytes("June.vlp", kDoc);
        QProcess& program = Start("June.vlp");
        QVERIFY(!XdoWindow(program.processId(), QStringLiteral("^June\\.vlp$")).isEmpty());
        const std::string copy = "June.sync-conflict-20260101-120000-ABCDEF7.vlp";
        WriteBytes(copy + ".tmp", kDoc + "[S] Wednesday\r\nfog\r\n");
        QCOMPARE(::rename((copy + ".tmp").c_str(), copy.c_str()), 0);
        const QString box = XdoWindow(program.processId(), QStringLiteral("^Velloran Editor$"));
        QVERIFY(!box.isEmpty());
        Xdo({"windowactivate", "--sync", box});
        Xdo({"key", "alt+y"});
        QVERIFY(!XdoWindow(program.processId(), QStringLiteral("^Merged$")).isEmpty());
        QTRY_VERIFY(std::filesystem::exists("data/Trash/files/" + copy));
        QVERIFY(std::filesystem::exists("data/Trash/info/" + copy + ".trashinfo"));
        QVERIFY(!std::filesystem::exists(copy));
        Save(program);
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes("June.vlp"), kDoc + "[S] Wednesday\r\nfog\r\n", 20000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(DiskChangeTest)
#include "disk_change_test.moc"
