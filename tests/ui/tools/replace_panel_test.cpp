#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <string>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/ReplacePanel.h"
#include "ui/tools/ReplacePreview.h"
#include "ui/tools/SearchWindow.h"

using velloran::state;

namespace {

const std::string kNovel =
    "Jon's prologue\r\n"
    "[S] One\r\nJon met Jonathan.\r\n"
    "[S] Two\r\nJon wept. (S) Jon\r\n"
    "[S] Three\r\nJon, Jon and Jonathan\r\n";

// A document window filled from text, section 1 shown, with its list and a search window whose
// replacement is open.
struct Windows {
    explicit Windows(const std::string& text) {
        velloran::CallbackDialogs dialogs;
        velloran::Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
        documentWindow.Memo1.AssignText(text);
        velloran::SplitSections(session);
        documentWindow.show();
        documentWindow.SelectSection(1);
        searchWindow.ShowReplace(true);
    }
    std::string Text(int k) const { return std::string(documentWindow.ReadSlot(k)); }
    ReplacePanel& Panel() { return *searchWindow.Replace; }
    void Set(const QString& pattern, const QString& replacement, bool words = false,
             bool regex = false) {
        searchWindow.Edit1->setText(pattern);
        Panel().ReplaceEdit->setText(replacement);
        Panel().WholeWords->setChecked(words);
        Panel().RegularExpression->setChecked(regex);
    }

    DocumentWindow documentWindow;
    velloran::PlainList list;
    SearchWindow searchWindow{&documentWindow, &list};
};

}  // namespace

class ReplacePanelTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { velloran::ResetState(); }

    void collapsedUntilAskedForAndEveryControlNamed() {
        DocumentWindow documentWindow;
        velloran::PlainList list;
        SearchWindow w(&documentWindow, &list);
        QVERIFY(!w.ReplaceShown());
        QCOMPARE(w.ListBox1->geometry().top(), SearchWindow::kListTop);
        const int listHeight = w.ListBox1->height();
        w.ReplaceToggle->click();
        QVERIFY(w.ReplaceShown());
        QCOMPARE(w.ListBox1->geometry().top(), SearchWindow::kListTop + w.Replace->height());
        QCOMPARE(w.ListBox1->height(), listHeight);
        ReplacePanel& p = *w.Replace;
        for (QWidget* c : std::initializer_list<QWidget*>{
                 w.ReplaceToggle, p.ReplaceEdit, p.MatchCase, p.WholeWords, p.RegularExpression,
                 p.ReplaceButton, p.ReplaceSectionButton, p.ReplaceDocumentButton, p.UndoButton,
                 p.Status}) {
            QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
        }
        // The keyboard reaches each of them in order, from the toggle to the list.
        QCOMPARE(w.ReplaceToggle->nextInFocusChain(), p.ReplaceEdit);
        QCOMPARE(p.ReplaceDocumentButton->nextInFocusChain(), p.UndoButton);
        w.ShowReplace(false);
        QCOMPARE(w.ListBox1->geometry().top(), SearchWindow::kListTop);
        QCOMPARE(w.ListBox1->height(), listHeight);
    }

    void previewThenPartialReplacementThenOneUndo() {
        Windows w(kNovel);
        QVERIFY(!w.documentWindow.IsFilled(3));
        const std::string before[] = {w.Text(0), w.Text(1), w.Text(2), w.Text(3)};
        w.Set("Jon", "Jonah", true);
        int previews = 0;
        w.Panel().runPreview = [&](ReplacePreview& preview) {
            ++previews;
            preview.Plan();
            const QTreeWidget* rows = preview.Rows;
            if (rows->topLevelItemCount() != 6 ||
                preview.Summary->text() != QStringLiteral("6 matches in 4 sections")) {
                return false;
            }
            // All checked: no replacement of "Jon" makes a marker line. The writer leaves out
            // the first row of section 3.
            for (int i = 0; i < rows->topLevelItemCount(); ++i) {
                if (rows->topLevelItem(i)->checkState(0) != Qt::Checked) {
                    return false;
                }
            }
            rows->topLevelItem(4)->setCheckState(0, Qt::Unchecked);
            return true;
        };
        w.Panel().ReplaceDocumentButton->click();
        QCOMPARE(previews, 1);
        QCOMPARE(w.Text(0), std::string("Jonah's prologue\r\n"));
        QCOMPARE(w.Text(1), std::string("[S] One\r\nJonah met Jonathan.\r\n"));
        QCOMPARE(w.Text(2), std::string("[S] Two\r\nJonah wept. (S) Jonah\r\n"));
        QCOMPARE(w.Text(3), std::string("[S] Three\r\nJon, Jonah and Jonathan\r\n"));
        QVERIFY(state().Modified);
        // Sections never shown took their text without an editor.
        QVERIFY(!w.documentWindow.IsFilled(3));
        QVERIFY(w.Panel().CanUndo());
        QCOMPARE(w.Panel().Status->text(),
                 QStringLiteral("5 replacements in 4 sections, 1 match left as it was"));

        w.Panel().UndoButton->click();
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(w.Text(k), before[k]);
        }
        QVERIFY(!w.Panel().CanUndo());
        QVERIFY(!w.documentWindow.IsFilled(3));
    }

    void aMarkerRowWaitsForTheWriter() {
        Windows w(kNovel);
        w.Set("\\(S\\) ", "\\n[S] ", false, true);
        bool unchecked = false;
        w.Panel().runPreview = [&](ReplacePreview& preview) {
            preview.Plan();
            unchecked = preview.Rows->topLevelItemCount() == 1 &&
                        preview.Rows->topLevelItem(0)->checkState(0) == Qt::Unchecked &&
                        preview.Rows->topLevelItem(0)->text(4).startsWith("Changes the sections");
            return true;
        };
        w.Panel().ReplaceDocumentButton->click();
        QVERIFY(unchecked);
        QCOMPARE(w.Text(2), std::string("[S] Two\r\nJon wept. (S) Jon\r\n"));
        QVERIFY(!w.Panel().CanUndo());
    }

    void replaceStepsThroughTheActiveSection() {
        Windows w(kNovel);
        w.documentWindow.SelectSection(3);
        state().ActiveSection = 3;
        w.Set("Jon", "Jonah", true);
        SectionEditor* ed = w.documentWindow.SectionEditors(3);
        ed->SetCaretPos(0);
        // The first press selects the first match, the next replaces it and selects the next.
        w.Panel().ReplaceButton->click();
        QCOMPARE(ed->ByteSelection(), (velloran::Selection{11, 3}));
        w.Panel().ReplaceButton->click();
        QCOMPARE(w.Text(3), std::string("[S] Three\r\nJonah, Jon and Jonathan\r\n"));
        QCOMPARE(ed->ByteSelection(), (velloran::Selection{18, 3}));
        // One step of the editor's own undo.
        ed->undo();
        QCOMPARE(w.Text(3), std::string("[S] Three\r\nJon, Jon and Jonathan\r\n"));

        w.Panel().ReplaceSectionButton->click();
        QCOMPARE(w.Text(3), std::string("[S] Three\r\nJonah, Jonah and Jonathan\r\n"));
        QCOMPARE(w.Text(1), std::string("[S] One\r\nJon met Jonathan.\r\n"));
        w.Panel().UndoReplaceAllClick();
        QCOMPARE(w.Text(3), std::string("[S] Three\r\nJon, Jon and Jonathan\r\n"));
    }

    void badPatternsAreSaidInTheWindow() {
        Windows w(std::string(20000, 'a') + "!\r\n[S] One\r\n" + std::string(20000, 'a') + "!\r\n");
        w.Set("(", "x", false, true);
        w.Panel().ReplaceDocumentButton->click();
        QVERIFY(w.Panel().Status->text().startsWith("The pattern cannot be used: missing"));
        w.Set("(a+)+$", "x", false, true);
        w.Panel().ReplaceSectionButton->click();
        QVERIFY(w.Panel().Status->text().startsWith("The pattern is too complex"));
        bool failed = false;
        w.Panel().runPreview = [&](ReplacePreview& preview) {
            failed = !preview.ReplaceButton->isEnabled() &&
                     preview.Summary->text().startsWith("The pattern is too complex");
            return false;
        };
        w.Panel().ReplaceDocumentButton->click();
        QVERIFY(failed);
        QVERIFY(!state().Modified);
    }
};

QTEST_MAIN(ReplacePanelTest)
#include "replace_panel_test.moc"
