// What a screen reader finds in the windows, through the toolkit's accessibility: every
// control it can act on has a name, windows are windows, the editors are named for their
// sections; and what the keyboard alone reaches.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

#include "core/document/State.h"
#include "support/TempDir.h"
#include "ui/Windows.h"

using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

bool Interactive(QAccessible::Role role) {
    switch (role) {
        case QAccessible::Window:
        case QAccessible::Dialog:
        case QAccessible::MenuItem:
        case QAccessible::PushButton:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::EditableText:
        case QAccessible::SpinBox:
        case QAccessible::List:
        case QAccessible::Tree:
        case QAccessible::ProgressBar:
        case QAccessible::Chart:
        case QAccessible::ComboBox:
            return true;
        default:
            return false;
    }
}

// The nodes with an interactive role and no name, by the path of roles that leads to them.
void Unnamed(QAccessibleInterface* node, const QString& path, QStringList* out, int depth = 0) {
    if (!node || depth > 12 || node->state().invisible) {
        return;
    }
    const QString here = path + "/" + QString::number(node->role(), 16) + ":" +
                         (node->object() ? node->object()->objectName() : QString());
    if (Interactive(node->role()) && node->text(QAccessible::Name).trimmed().isEmpty()) {
        out->append(here);
    }
    // A list's rows and a tree's cells are named by their text.
    if (node->role() == QAccessible::List || node->role() == QAccessible::Tree) {
        return;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        Unnamed(node->child(i), here, out, depth + 1);
    }
}

QStringList TabStops(QWidget* window, int most = 20) {
    QStringList stops;
    QWidget* first = QApplication::focusWidget();
    for (QWidget* w = first; w && stops.size() < most;) {
        stops << (w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName());
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
        if (w == first || !window->isAncestorOf(w)) {
            break;
        }
    }
    return stops;
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> work_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

    QWidget* Window(const char* name) const {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String(name)) {
                return w;
            }
        }
        return nullptr;
    }

  private slots:
    void init() {
        work_ = std::make_unique<WorkFolder>();
        velloran::ResetState();
        WriteBytes("Velloran.vlp",
                   "Preamble\r\n[S] Chapter One\r\none\r\n[S] Chapter Two\r\ntwo\r\n"
                   "[S] Chapter Three\r\nthree\r\n");
        forms_ = velloran::ui::CreateWindows({"velloran"});
        forms_->Show();
        QTRY_COMPARE(forms_->sectionListWindow->Count(), 4);
    }
    void cleanup() {
        forms_.reset();
        work_.reset();
    }

    void everyControlHasAName_data() {
        QTest::addColumn<QString>("window");
        for (const char* name : {"TForm1", "TForm2", "TForm4", "TForm5", "TForm6", "TForm7",
                                 "TForm8", "TForm9", "TForm12", "TForm13", "HistoryWindow"}) {
            QTest::newRow(name) << name;
        }
    }
    void everyControlHasAName() {
        QFETCH(QString, window);
        QWidget* w = Window(window.toLatin1().constData());
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(w);
        QVERIFY(root);
        // Windows, never the filler a plain widget would be, named by their captions.
        QVERIFY2(root->role() == QAccessible::Window || root->role() == QAccessible::Dialog,
                 qPrintable(QString::number(root->role(), 16)));
        QCOMPARE(root->text(QAccessible::Name), w->windowTitle());
        QStringList unnamed;
        Unnamed(root, window, &unnamed);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join("\n")));
    }

    void theMenuTitlesAreHeardWithoutTheirPaddingAndOpenByAlt() {
        SectionListWindow& list = *forms_->sectionListWindow;
        list.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&list));
        const auto titles = list.menuBar()->actions();
        QStringList names;
        for (QAction* a : titles) {
            names << QAccessible::queryAccessibleInterface(a)->text(QAccessible::Name);
        }
        QCOMPARE(names, (QStringList{"File", "Edit", "View", "Panels"}));
        // The captions stay as they are.
        QCOMPARE(titles[0]->text(), QString(" File "));
        struct Row {
            QKeyCombination key;
            int menu;
        };
        for (const Row& row :
             {Row{Qt::ALT | Qt::Key_F, 0}, Row{Qt::ALT | Qt::Key_E, 1}, Row{Qt::ALT | Qt::Key_V, 2},
              Row{Qt::ALT | Qt::Key_P, 3}, Row{QKeyCombination(Qt::Key_F10), 0}}) {
            QTest::keyClick(list.ListBox1, row.key.key(), row.key.keyboardModifiers());
            QTRY_VERIFY(titles[row.menu]->menu()->isVisible());
            titles[row.menu]->menu()->hide();
            QTRY_VERIFY(!titles[row.menu]->menu()->isVisible());
        }
    }

    void anEditorIsNamedForItsSectionAsItsTitleChanges() {
        SectionEditor* ed = forms_->documentWindow->SectionEditors(3);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(ed);
        QCOMPARE(iface->role(), QAccessible::EditableText);
        QCOMPARE(iface->text(QAccessible::Name), QString("Section 3: Chapter Three"));
        QTextCursor c(ed->document());
        c.movePosition(QTextCursor::EndOfBlock);
        c.insertText(" Revised");
        QCOMPARE(iface->text(QAccessible::Name), QString("Section 3: Chapter Three Revised"));
        QCOMPARE(QAccessible::queryAccessibleInterface(forms_->documentWindow->SectionEditors(0))
                     ->text(QAccessible::Name),
                 QString("Section 0: Preamble"));
        // The text and the caret as a screen reader reads them.
        c.setPosition(4);
        ed->setTextCursor(c);
        QCOMPARE(iface->textInterface()->cursorPosition(), 4);
        QCOMPARE(iface->textInterface()->text(0, 7), QString("[S] Cha"));
    }

    // F8 goes from the list to the text shown and back; the tool windows close with Escape and
    // take the function keys as the list does.
    void theKeyboardReachesEveryWindow() {
        SectionListWindow& list = *forms_->sectionListWindow;
        DocumentWindow& doc = *forms_->documentWindow;
        list.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&list));
        list.ListBox1->setFocus();
        QTest::keyClick(list.ListBox1, Qt::Key_Down);
        QTest::keyClick(list.ListBox1, Qt::Key_Down);
        QTest::keyClick(list.ListBox1, Qt::Key_F8);
        QTRY_COMPARE(QApplication::focusWidget(), doc.SectionEditors(2));
        QTest::keyClick(doc.SectionEditors(2), Qt::Key_F8);
        QTRY_COMPARE(QApplication::focusWidget(), list.ListBox1);

        QWidget* statistics = Window("TForm4");
        list.Statistics1->trigger();
        QVERIFY(QTest::qWaitForWindowActive(statistics));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : statistics,
                        Qt::Key_F4);
        QTRY_VERIFY(Window("TForm5")->isVisible());
        for (const char* name : {"TForm5", "TForm4"}) {
            QWidget* tool = Window(name);
            tool->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(tool));
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : tool,
                            Qt::Key_Escape);
            QTRY_VERIFY2(!tool->isVisible(), name);
        }
    }

    void tabVisitsEveryControlInReadingOrder_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("stops");
        QTest::newRow("search") << "TForm6"
                                << QStringList{"Edit1", "Button1", "Button2", "ReplaceToggle",
                                               "ListBox1"};
        QTest::newRow("key prompt") << "TForm7" << QStringList{"Edit1", "Button1", "Button2"};
        QTest::newRow("save document")
            << "TForm8" << QStringList{"Edit1", "Button1", "Button2", "Button3"};
        QTest::newRow("file parameters")
            << "TForm9"
            << QStringList{"SpinEdit1", "RadioButton1", "RadioButton4", "CheckBox1", "CheckBox2",
                           "Edit1",     "UpDown1",      "Button2",      "Button3",   "Button1"};
        QTest::newRow("progress") << "TForm12" << QStringList{"Chart1", "SpinEdit1", "ListView1"};
    }
    void tabVisitsEveryControlInReadingOrder() {
        QFETCH(QString, window);
        QFETCH(QStringList, stops);
        QWidget* w = Window(window.toLatin1().constData());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->findChild<QWidget*>(stops.first())->setFocus(Qt::TabFocusReason);
        QCOMPARE(TabStops(w).join(", "), stops.join(", "));
        w->hide();
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
