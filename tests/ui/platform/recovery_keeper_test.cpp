#include "ui/platform/RecoveryKeeper.h"

#include <QAction>
#include <QListWidget>
#include <QtTest>
#include <filesystem>
#include <optional>

#include "core/document/State.h"
#include "core/recovery/Recovery.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/tools/SearchWindow.h"

using velloran::state;
using velloran::testing::ModalScript;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

namespace fs = std::filesystem;

const std::string kDocument = "Preamble\r\n[S] One\r\none body\r\n[S] Two\r\ntwo body\r\n";

// The record on disk: its titles and sections' texts; nothing when there is none.
struct Recorded {
    std::vector<std::string> titles;
    std::vector<std::string> texts;
    velloran::RecordRun run;
};

std::optional<Recorded> ReadRecorded() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(velloran::RecoveryFolder(), ec)) {
        const std::string manifest = entry.path() / "manifest";
        if (!fs::exists(manifest)) {
            continue;
        }
        try {
            const auto m = velloran::DecodeManifest(ReadBytes(manifest), manifest);
            const auto record = velloran::ReadRecord(entry.path(), m, nullptr);
            Recorded r{record.titles, {}, record.run};
            for (const auto& s : record.sections) {
                r.texts.push_back(s.text);
            }
            return r;
        } catch (const velloran::Error&) {
            // Replaced while read: the next look sees the new one.
        }
    }
    return std::nullopt;
}

bool RecordHolds(const std::string& text) {
    const auto r = ReadRecorded();
    if (!r) {
        return false;
    }
    std::string all;
    for (const auto& t : r->texts) {
        all += t;
    }
    return all.find(text) != std::string::npos;
}

}  // namespace

// The windows keep the record in step with what the user does, and a start restores it.
class TestRecoveryKeeper : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

    velloran::ui::WindowSet& Start(const std::string& document) {
        forms_ = velloran::ui::CreateWindows({"velloran", document});
        forms_->Show();
        return *forms_;
    }
    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    // Keys as the user types them, into the editor of a section on screen.
    void Type(int section, const QString& text) {
        SectionEditor* editor = documentWindow().SectionEditors(section);
        QVERIFY(editor->isVisible());
        QTest::keyClicks(editor, text);
    }

  private slots:
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    // Typing makes a record; a save removes it; typing again makes one; an exit without saving
    // leaves nothing behind.
    void aRecordLastsAsLongAsTheUnsavedChanges() {
        WriteBytes("June.vlp", kDocument);
        Start("June.vlp");
        Type(0, "typed");
        QTRY_VERIFY_WITH_TIMEOUT(RecordHolds("typedPreamble"), 10000);
        QCOMPARE(ReadRecorded()->run.fileName, dir_->path() + "/June.vlp");

        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        QVERIFY(!state().Modified);
        QTRY_VERIFY(!ReadRecorded());

        Type(0, "again");
        QTRY_VERIFY_WITH_TIMEOUT(RecordHolds("typedagainPreamble"), 10000);
        ModalScript script;
        script.Click("TForm8", "Button2");  // "Do Not Save"
        sectionListWindow().MFExit->trigger();
        QVERIFY(script.Done());
        QVERIFY(fs::is_empty(velloran::RecoveryFolder()));
    }

    // However the sections on screen change, the record follows within its pause, with no
    // further typing: a killed run comes back showing what the user last saw.
    void everyWayOfChangingTheViewIsRecorded_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("a click in the list") << 0;
        QTest::newRow("a search result") << 1;
        QTest::newRow("Shift+Page Down") << 2;
        QTest::newRow("a click into the other pane") << 3;
    }
    void everyWayOfChangingTheViewIsRecorded() {
        QFETCH(int, way);
        WriteBytes("June.vlp", kDocument);
        Start("June.vlp");
        // Two panes showing sections 0 and 1; one pane showing section 1 for the keys.
        QTest::keyClick(sectionListWindow().ListBox1, way == 2 ? Qt::Key_F5 : Qt::Key_F6);
        sectionListWindow().ListBox1->setCurrentRow(1);
        Type(1, "typed");
        auto recordedView = [] {
            const auto r = ReadRecorded();
            const velloran::State& st = state();
            return r &&
                   std::tie(r->run.panelMode, r->run.panel1Section, r->run.panel2Section,
                            r->run.activeSection) ==
                       std::tie(st.PanelMode, st.Panel1Section, st.Panel2Section, st.ActiveSection);
        };
        QTRY_VERIFY_WITH_TIMEOUT(RecordHolds("typed[S] One") && recordedView(), 10000);
        const velloran::RecordRun before = ReadRecorded()->run;
        switch (way) {
            case 0:
                sectionListWindow().ListBox1->setCurrentRow(2);
                break;
            case 1: {
                SearchWindow& search = *forms_->searchWindow;
                search.Edit1->setText("body");
                search.Button2->click();
                search.ListBox1->setCurrentRow(2);
                break;
            }
            case 2:
                QTest::keyClick(documentWindow().SectionEditors(1), Qt::Key_PageDown,
                                Qt::ShiftModifier);
                break;
            default:
                QTest::mouseClick(documentWindow().SectionEditors(0)->viewport(), Qt::LeftButton);
                break;
        }
        QVERIFY(state().Panel2Section != before.panel2Section ||
                state().ActiveSection != before.activeSection);
        QTRY_VERIFY_WITH_TIMEOUT(recordedView(), 10000);
    }

    // What the record holds of the windows comes back as it was: texts, the list's titles as
    // they were (a marker typed but not yet reloaded), panes, and the section chosen in the list.
    void aRecordIsRestoredIntoTheWindows() {
        WriteBytes("June.vlp", kDocument);
        Start("June.vlp");
        sectionListWindow().ListBox1->setCurrentRow(2);
        QTest::keyClick(sectionListWindow().ListBox1, Qt::Key_F6);
        Type(2, "[S] New marker");
        QTest::keyClick(documentWindow().SectionEditors(2), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(RecordHolds("[S] New marker\r\n[S] Two"), 10000);
        std::vector<std::string> texts;
        for (int k = 0; k <= 2; ++k) {
            texts.push_back(std::string(documentWindow().ReadSlot(k)));
        }
        forms_.reset();  // as a killed program: no close, nothing asked

        velloran::ResetState();
        ModalScript script;
        script.Answer(QMessageBox::Yes);
        Start("June.vlp");
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QVERIFY(script.messages.value(0).startsWith("Unsaved changes to " +
                                                    QString::fromStdString(dir_->path())));
        const velloran::State& st = state();
        QVERIFY(st.Modified);
        QCOMPARE(std::tie(st.PanelMode, st.Panel1Section, st.Panel2Section, st.ActiveSection),
                 std::make_tuple(2, 2, 0, 2));
        QCOMPARE(sectionListWindow().ListBox1->currentRow(), 2);
        QCOMPARE(sectionListWindow().ListBox1->count(), 3);
        QCOMPARE(sectionListWindow().Title(2), std::string("[S] Two"));
        for (int k = 0; k <= 2; ++k) {
            QCOMPARE(std::string(documentWindow().ReadSlot(k)), texts[static_cast<std::size_t>(k)]);
        }
        QVERIFY(documentWindow().SectionEditors(2)->isVisible());

        QTest::keyClick(sectionListWindow().ListBox1, Qt::Key_F1);
        QCOMPARE(ReadBytes("June.vlp"), texts[0] + texts[1] + texts[2]);
        QTRY_VERIFY(!ReadRecorded());
    }
};

QTEST_MAIN(TestRecoveryKeeper)
#include "recovery_keeper_test.moc"
