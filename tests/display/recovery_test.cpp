// The real program killed while a document has unsaved changes, and started again: everything
// typed comes back, for plain, enciphered and sealed documents; and a second program started on a
// document that a running one has open says so. Keys and clicks go through the X server.
#include <signal.h>

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <string>

#include "core/protection/Cipher.h"
#include "core/protection/Seal.h"
#include "core/recovery/RecoveryRecord.h"
#include "core/storage/DocumentFile.h"
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

const std::string kKey = "k3y of mine";
const std::string kPlain =
    "Preamble\r\nfirst line\r\n[S] One\r\none body\r\n[S] Two\r\ntwo body\r\n";
// What the two sections typed into hold afterwards.
const std::string kTyped =
    "alpha typed Preamble\r\nfirst line\r\n[S] One\r\none body\r\n"
    "omega typed\r\n[S] Two\r\ntwo body\r\n";

std::string Enciphered(const std::string& plain) {
    velloran::DocumentBuffer lines;
    lines.AssignText(plain);
    std::string out;
    velloran::KeyIndex index;
    for (std::size_t i = 0; i < lines.LineCount(); ++i) {
        std::string line(lines.Line(i));
        velloran::EncipherLine(line, kKey, index);
        out += line + "\r\n";
    }
    return out;
}

// The document's text as its file holds it, deciphered or unsealed with the key.
std::string TextOf(const std::string& name) {
    try {
        if (velloran::IsSealedName(name)) {
            return velloran::UnsealBytes(ReadBytes(name), kKey, name);
        }
        velloran::DocumentBuffer lines;
        velloran::ReadDocument(name, lines);
        std::string out;
        velloran::KeyIndex index;
        for (std::size_t i = 0; i < lines.LineCount(); ++i) {
            std::string line(lines.Line(i));
            if (velloran::IsEncipheredName(name)) {
                velloran::DecipherLine(std::span<char>(line.data(), line.size()), kKey, index);
            }
            out += line + "\r\n";
        }
        return out;
    } catch (const velloran::Error&) {
        return {};
    }
}

// The sections' text in the records kept in the state folder, read with the key where sealed.
std::string RecordedText() {
    std::string text;
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/velloran/recovery";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string manifest = entry.path().string() + "/manifest";
        if (!std::filesystem::exists(manifest)) {
            continue;
        }
        try {
            const auto m = velloran::DecodeManifest(ReadBytes(manifest), manifest);
            std::shared_ptr<const velloran::SealKey> key;
            if (m.protection != velloran::RecordProtection::None) {
                key = velloran::SealKey::Derive(kKey, m.salt, m.params);
            }
            for (const auto& s : velloran::ReadRecord(entry.path(), m, key).sections) {
                text += s.text;
            }
        } catch (const velloran::Error&) {
            // Replaced while it was read: the next look sees the new one.
        }
    }
    return text;
}

bool HasManifest() {
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/velloran/recovery";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (std::filesystem::exists(entry.path() / "manifest")) {
            return true;
        }
    }
    return false;
}

}  // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    Programs programs_;

    QProcess& Start(const std::string& name) { return programs_.Start(name); }

    // Answers the key prompt of program, which comes up with its field selected.
    void GiveKey(const QProcess& program) {
        const QString prompt = XdoWindow(program.processId(), QStringLiteral("^Encript Key"));
        QVERIFY(!prompt.isEmpty());
        Xdo({"windowactivate", "--sync", prompt});
        Xdo({"type", "--delay", "20", QString::fromStdString(kKey)});
        Xdo({"key", "--delay", "20", "Tab", "space"});  // "Do Encript"; Enter presses nothing
    }

    // Answers the question program asks at start: "Yes" or "No".
    void Answer(const QProcess& program, const char* key) {
        const QString box = XdoWindow(program.processId(), QStringLiteral("^Velloran Editor$"));
        QVERIFY(!box.isEmpty());
        Xdo({"windowactivate", "--sync", box});
        Xdo({"key", key});
    }

    void TypeIntoTwoSections(const QProcess& program) {
        const QString document = XdoWindow(program.processId(), "^Program Description");
        QVERIFY(!document.isEmpty());
        Xdo({"mousemove", "--window", document, "60", "60", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+Home"});
        Xdo({"type", "--delay", "20", "alpha typed "});
        Xdo({"key", "--delay", "20", "shift+Next"});  // on to section 1
        QVERIFY(!XdoWindow(program.processId(), QStringLiteral("^\\[S\\] One")).isEmpty());
        Xdo({"mousemove", "--window", document, "60", "60", "click", "1"});
        Xdo({"key", "--delay", "20", "ctrl+End"});
        Xdo({"type", "--delay", "20", "omega typed"});
    }

  private slots:
    void initTestCase() { VELLORAN_REQUIRE_XDOTOOL(); }

    void init() { dir_ = std::make_unique<WorkFolder>(); }

    void cleanup() {
        programs_.EndAll();
        dir_.reset();
    }

    void aKilledRunLosesNothingTyped_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "June.vlp";
        QTest::newRow("enciphered") << "June.vle";
        QTest::newRow("sealed") << "June.vls";
    }

    // Types into two sections, waits until the record holds it, kills the program, starts it
    // again, recovers, and saves with F1: the file holds everything typed.
    void aKilledRunLosesNothingTyped() {
        QFETCH(QString, name);
        const std::string file = name.toStdString();
        const bool keyed = !name.endsWith(".vlp");
        if (name.endsWith(".vle")) {
            WriteBytes(file, Enciphered(kPlain));
        } else if (name.endsWith(".vls")) {
            const auto key = velloran::SealKey::Derive(kKey, velloran::kQuickestSealParams);
            WriteBytes(file, velloran::SealBytes(*key, kPlain));
        } else {
            WriteBytes(file, kPlain);
        }
        QCOMPARE(TextOf(file), kPlain);

        QProcess& killed = Start(file);
        if (keyed) {
            GiveKey(killed);
        }
        TypeIntoTwoSections(killed);
        QTRY_VERIFY_WITH_TIMEOUT(RecordedText().find("alpha typed ") != std::string::npos &&
                                     RecordedText().find("omega typed") != std::string::npos,
                                 20000);
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(10000));
        QCOMPARE(TextOf(file), kPlain);  // nothing was saved

        QProcess& again = Start(file);
        Answer(again, "alt+y");
        if (keyed) {
            GiveKey(again);
        }
        // Restored with its panes: the section typed in last is the one shown.
        const QString list = XdoWindow(again.processId(), name);
        QVERIFY(!XdoWindow(again.processId(), QStringLiteral("^\\[S\\] One")).isEmpty());
        Xdo({"windowactivate", "--sync", list});
        Xdo({"key", "F1"});
        if (keyed) {
            GiveKey(again);
        }
        QTRY_COMPARE_WITH_TIMEOUT(TextOf(file), kTyped, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!HasManifest(), 10000);  // saved: no record is left
    }

    // While one program has the document open, another started on it says so; "No" ends it, "Yes"
    // opens the document.
    void aSecondProgramOnTheDocumentWarns() {
        WriteBytes("June.vlp", kPlain);
        QProcess& first = Start("June.vlp");
        QVERIFY(!XdoWindow(first.processId(), QStringLiteral("^June\\.vlp")).isEmpty());

        QProcess& declined = Start("June.vlp");
        Answer(declined, "alt+n");
        QVERIFY(declined.waitForFinished(10000));
        QCOMPARE(declined.exitCode(), 0);

        QProcess& anyway = Start("June.vlp");
        Answer(anyway, "alt+y");
        QVERIFY(!XdoWindow(anyway.processId(), QStringLiteral("^June\\.vlp")).isEmpty());
        QCOMPARE(first.state(), QProcess::Running);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(RecoveryTest)
#include "recovery_test.moc"
