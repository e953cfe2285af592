#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "core/document/State.h"
#include "support/TempDir.h"
#include "ui/Windows.h"

using velloran::state;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

// The History window on a document saved a few times in this run, as a writer uses it.
class TestHistoryWindow : public QObject {
    Q_OBJECT

  private:
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    HistoryWindow& history() { return *forms_->historyWindow; }
    std::string Slot(int k) { return documentWindow().SlotText(k); }
    void SaveWith(int k, const QString& text) {
        documentWindow().SelectSection(k);
        SectionEditor* ed = documentWindow().SectionEditors(k);
        ed->selectAll();
        ed->insertPlainText(text);
        forms_->sectionListWindow->ListBox1KeyDown(Qt::Key_F1);
        QVERIFY(!state().Modified);
    }
    // The rows, newest first, by their Words column.
    QStringList Words() {
        QStringList words;
        for (int i = 0; i < history().ListView1->topLevelItemCount(); ++i) {
            words << history().ListView1->topLevelItem(i)->text(2);
        }
        return words;
    }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

  private slots:
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        WriteBytes("June.vlp", "Intro\r\n[S] One\r\nthe old line\r\n[S] Two\r\nsecond\r\n");
        forms_ = velloran::ui::CreateWindows({"velloran", "June.vlp"});
        forms_->Show();
        QVERIFY(QTest::qWaitForWindowExposed(forms_->sectionListWindow.get()));
    }
    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    // Only the versions in which the section changed are listed; the one chosen stands beside
    // the text now, its words marked; a restore is one step of the editor's undo.
    void aSectionIsComparedAndRestoredAsOneStep() {
        SaveWith(1, "[S] One\nthe new line\n");
        SaveWith(2, "[S] Two\nsecond, rewritten\n");
        SaveWith(1, "[S] One\nthe newest line of all\n");
        forms_->sectionListWindow->ListBox1->setCurrentRow(1);
        forms_->sectionListWindow->HistoryOfSection->trigger();
        QVERIFY(history().isVisible());
        QCOMPARE(history().Label1->text(), QString("Section 1: [S] One"));
        // Opened, then the two saves that changed it; not the save of section 2.
        QCOMPARE(Words(), QStringList({"7", "5", "5"}));

        QTreeWidget* rows = history().ListView1;
        rows->setCurrentItem(rows->topLevelItem(2));
        QCOMPARE(history().Memo1->toPlainText(), QString("[S] One\nthe old line\n"));
        QCOMPARE(history().Memo2->toPlainText(), QString("[S] One\nthe newest line of all\n"));
        QVERIFY(history().Label2->text().contains("Other sections that differ: 2."));
        QVERIFY(history().Memo1->document()->toHtml().contains("line-through"));

        QTest::mouseClick(history().RestoreSection, Qt::LeftButton);
        QCOMPARE(Slot(1), std::string("[S] One\r\nthe old line\r\n"));
        QVERIFY(state().Modified);
        documentWindow().SectionEditors(1)->undo();
        QCOMPARE(Slot(1), std::string("[S] One\r\nthe newest line of all\r\n"));
    }

    // The whole document as it was opened, fewer sections than now included, and one Undo
    // Restore puts every section back.
    void theWholeDocumentIsRestoredAndPutBackAtOnce() {
        SaveWith(2, "[S] Two\nsecond\n[S] Three\nthird\n");
        forms_->sectionListWindow->MFReload->trigger();
        QCOMPARE(forms_->sectionListWindow->ListBox1->count(), 4);
        documentWindow().SelectSection(1);
        forms_->sectionListWindow->MVHistory->trigger();
        QTreeWidget* rows = history().ListView1;
        rows->setCurrentItem(rows->topLevelItem(rows->topLevelItemCount() - 1));
        QTest::mouseClick(history().RestoreDocument, Qt::LeftButton);
        QCOMPARE(forms_->sectionListWindow->ListBox1->count(), 3);
        QCOMPARE(Slot(2), std::string("[S] Two\r\nsecond\r\n"));
        QVERIFY(state().Modified);

        QTest::mouseClick(history().UndoRestore, Qt::LeftButton);
        QCOMPARE(forms_->sectionListWindow->ListBox1->count(), 4);
        QCOMPARE(Slot(3), std::string("[S] Three\r\nthird\r\n"));
        QVERIFY(!history().UndoRestore->isEnabled());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "history_window_test.moc"
