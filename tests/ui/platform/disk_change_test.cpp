#include <stdio.h>

#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

#include "core/document/State.h"
#include "core/protection/Seal.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/dialogs/ReloadNotice.h"
#include "ui/platform/DiskWatcher.h"
#include "ui/tools/MergeReportWindow.h"

using velloran::state;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

const std::string kDoc =
    "Intro\r\n[S] One\r\none a\r\none b\r\none c\r\n[S] Two\r\ntwo a\r\ntwo b\r\n";

// Another program saves the document through a new file, as sync tools and our saves do.
void ReplaceOnDisk(const std::string& text) {
    WriteBytes("June.vlp.new", text);
    QCOMPARE(::rename("June.vlp.new", "June.vlp"), 0);
}

}  // namespace

// The document's file changed by another program while the windows run.
class TestDiskChange : public QObject {
    Q_OBJECT

  private:
    velloran::ui::WindowSet& Start() {
        WriteBytes("June.vlp", kDoc);
        forms_ = velloran::ui::CreateWindows({"velloran", "June.vlp"});
        forms_->Show();
        return *forms_;
    }
    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    QString Text(int k) { return QString::fromStdString(documentWindow().SlotText(k)); }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

  private slots:
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
    }
    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    // Nothing unsaved: the change is read in as it happens, each changed editor as one step of
    // its undo, the caret where it stood, and a notice says what changed.
    void aChangeIsReloadedWhileTheWindowsRun() {
        Start();
        documentWindow().SelectSection(1);
        SectionEditor* one = documentWindow().SectionEditors(1);
        one->SetCaretPos(9);  // in "one a"
        ReplaceOnDisk("Intro\r\n[S] One\r\none a\r\none b\r\none C\r\n[S] Two\r\ntwo a\r\n2b\r\n");
        QTRY_COMPARE(Text(2), QString("[S] Two\r\ntwo a\r\n2b\r\n"));
        QCOMPARE(Text(1), QString("[S] One\r\none a\r\none b\r\none C\r\n"));
        QCOMPARE(one->CaretPos(), 9);
        QVERIFY(!state().Modified);
        QVERIFY(forms_->reloadNotice->isVisible());
        QCOMPARE(forms_->reloadNotice->Label1->text(),
                 QString("Sections 1 and 2 changed on disk and were reloaded"));
        QVERIFY(!forms_->mergeReportWindow->isVisible());
        one->undo();
        QCOMPARE(Text(1), QString("[S] One\r\none a\r\none b\r\none c\r\n"));
        QVERIFY(state().Modified);
    }

    void aTouchedFileIsNoChange() {
        Start();
        QSignalSpy looked(&sectionListWindow().Watcher(), &DiskWatcher::looked);
        ReplaceOnDisk(kDoc);
        QVERIFY(looked.wait());
        QVERIFY(!forms_->reloadNotice->isVisible());
        QVERIFY(!forms_->mergeReportWindow->isVisible());
        QVERIFY(!state().Modified);
    }

    // Unsaved changes: merged, left unsaved, a report of it, the conflict flagged in the list
    // until edited, each editor's merge one undoable step.
    void aChangeIsMergedWithUnsavedChangesAndUndoneStepByStep() {
        Start();
        documentWindow().SelectSection(1);
        SectionEditor* one = documentWindow().SectionEditors(1);
        one->SetCaretPos(static_cast<int>(std::string("[S] One\r\none a\r\n").size()));
        one->textCursor().insertText("mine\n");
        QVERIFY(state().Modified);
        const QString typed = Text(1);
        ReplaceOnDisk(
            "Intro\r\n[S] One\r\none a\r\ntheirs\r\none b\r\none c\r\n[S] Two\r\ntwo a\r\n2b\r\n");
        QTRY_VERIFY(forms_->mergeReportWindow->isVisible());
        QCOMPARE(Text(1), QString("[S] One\r\none a\r\n<<<<<<< as changed here\r\nmine\r\n"
                                  "=======\r\ntheirs\r\n>>>>>>> as changed on disk\r\none b\r\n"
                                  "one c\r\n"));
        QCOMPARE(Text(2), QString("[S] Two\r\ntwo a\r\n2b\r\n"));
        QVERIFY(state().Modified);
        QVERIFY(sectionListWindow().IsFlagged(1));
        QVERIFY(!sectionListWindow().IsFlagged(2));
        QVERIFY(forms_->mergeReportWindow->Label1->text().contains("1 conflict in Section 1"));
        QCOMPARE(forms_->mergeReportWindow->ListBox1->count(), 2);

        // A click on a line of the report shows its section, the first marker line selected.
        documentWindow().SelectSection(2);
        QListWidgetItem* line = forms_->mergeReportWindow->ListBox1->item(0);
        emit forms_->mergeReportWindow->ListBox1->itemClicked(line);
        QCOMPARE(state().Panel1Section, 1);
        QCOMPARE(one->textCursor().selectedText(), QString("<<<<<<<"));

        one->undo();
        QCOMPARE(Text(1), typed);
        QVERIFY(!sectionListWindow().IsFlagged(1));  // edited since
        // A save now writes what the writer kept, and nothing asks.
        sectionListWindow().ListBox1KeyDown(Qt::Key_F1);
        QCOMPARE(
            ReadBytes("June.vlp"),
            "Intro\r\n[S] One\r\none a\r\nmine\r\none b\r\none c\r\n[S] Two\r\ntwo a\r\n2b\r\n");
    }

    // Before the file is looked at: the save merges first, with no question.
    void aSaveMergesAChangeItHasNotSeenYet() {
        Start();
        documentWindow().SelectSection(1);
        documentWindow().SectionEditors(1)->moveCursor(QTextCursor::End);
        documentWindow().SectionEditors(1)->insertPlainText("one d\n");
        ReplaceOnDisk("Intro\r\n[S] One\r\none a\r\none b\r\none c\r\n[S] Two\r\ntwo a\r\n2b\r\n");
        velloran::testing::ModalScript script;
        sectionListWindow().ListBox1KeyDown(Qt::Key_F1);
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(ReadBytes("June.vlp"),
                 "Intro\r\n[S] One\r\none a\r\none b\r\none c\r\none d\r\n"
                 "[S] Two\r\ntwo a\r\n2b\r\n");
        QVERIFY(!state().Modified);
    }

    // A sealed file written elsewhere has a salt of its own: its key is derived off the window
    // thread, the windows answering meanwhile, and then the change is read in.
    void aSealedChangeIsReadWhileTheWindowsGoOn() {
        velloran::SealingParams() = velloran::kQuickestSealParams;
        const std::string passphrase = "a key of mine";
        auto seal = [&](const char* path, std::string_view text, velloran::SealParams params) {
            WriteBytes(path,
                       velloran::SealBytes(*velloran::SealKey::Derive(passphrase, params), text));
        };
        seal("June.vls", kDoc, velloran::kQuickestSealParams);
        velloran::testing::ModalScript script;
        script.Click("TForm7", "Button1", QString::fromStdString(passphrase));
        forms_ = velloran::ui::CreateWindows({"velloran", "June.vls"});
        forms_->Show();
        QVERIFY(script.Done());

        // The moderate cost: long enough to see the windows answer while it is derived.
        seal("June.vls.new", kDoc + "[S] Three\r\nthree\r\n", velloran::kSealParams);
        QCOMPARE(::rename("June.vls.new", "June.vls"), 0);
        QTRY_VERIFY(sectionListWindow().Watcher().Reading());
        QTRY_COMPARE_WITH_TIMEOUT(sectionListWindow().ListBox1->count(), 4, 30000);
        QCOMPARE(Text(3), QString("[S] Three\r\nthree\r\n"));
        QVERIFY(!state().Modified);
        QVERIFY(!sectionListWindow().Watcher().Reading());

        // Under another key it cannot be read: told once, and not derived again until it changes.
        const auto key = velloran::SealKey::Derive("not mine", velloran::kQuickestSealParams);
        WriteBytes("June.vls.new", velloran::SealBytes(*key, kDoc));
        script.Answer(QMessageBox::Ok);
        QCOMPARE(::rename("June.vls.new", "June.vls"), 0);
        QTRY_VERIFY(script.Done());
        QVERIFY(script.messages.front().contains("cannot be merged"));
        QSignalSpy looked(&sectionListWindow().Watcher(), &DiskWatcher::looked);
        QVERIFY(looked.wait(DiskWatcher::kLookMs * 2));
        QVERIFY(!sectionListWindow().Watcher().Reading());
        QVERIFY(script.unexpected.isEmpty());
    }

    // A sync tool's copy is offered at start and merged once the writer agrees.
    void aConflictCopyIsOfferedAtStart() {
        WriteBytes("June.sync-conflict-20260101-120000-ABCDEF7.vlp",
                   "Intro\r\n[S] One\r\none a\r\none b\r\none c\r\n[S] Two\r\ntwo a\r\ntwo b\r\n"
                   "[S] Three\r\nthree\r\n");
        velloran::testing::ModalScript script;
        script.Answer(QMessageBox::Yes);
        Start();
        QTRY_VERIFY(script.Done());
        QVERIFY(script.messages.front().contains("June.sync-conflict-20260101-120000-ABCDEF7.vlp"));
        QCOMPARE(sectionListWindow().ListBox1->count(), 4);
        QCOMPARE(Text(3), QString("[S] Three\r\nthree\r\n"));
        QVERIFY(state().Modified);
        QVERIFY(forms_->mergeReportWindow->isVisible());
        QVERIFY(QFile::exists("data/Trash/files/June.sync-conflict-20260101-120000-ABCDEF7.vlp"));
    }

    // A name is shown as the characters it holds: markup in it takes no box over.
    void aConflictCopyNamedInMarkupIsAskedAboutByItsName() {
        const QString name = "June (conflict<br><font size=6 color=red>Damaged! Press Yes<b>).vlp";
        WriteBytes(name.toStdString(), "Intro\r\n");
        velloran::testing::ModalScript script;
        bool plain = false;
        script.Then([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                return false;
            }
            plain = box->textFormat() == Qt::PlainText && box->text().contains(name);
            for (QLabel* label : box->findChildren<QLabel*>()) {
                plain = plain && label->textFormat() == Qt::PlainText;
            }
            box->button(QMessageBox::No)->click();
            return true;
        });
        Start();
        QTRY_VERIFY(script.Done());
        QVERIFY(plain);
        QVERIFY(!state().Modified);
    }
};

QTEST_MAIN(TestDiskChange)
#include "disk_change_test.moc"
