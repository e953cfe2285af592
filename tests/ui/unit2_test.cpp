#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "core/Document.h"
#include "core/Host.h"
#include "core/State.h"
#include "ui/Unit2.h"

using velloran::state;

namespace {

QRect Bounds(const TForm2& form, int k) {
    return form.SectionEditors(k)->geometry();
}

// The editors that would be on screen with the window shown, by index.
QList<int> Shown(const TForm2& form) {
    QList<int> shown;
    for (int k = 0; k < velloran::kSectionCount; ++k) {
        if (!form.SectionEditors(k)->isHidden()) {
            shown << k;
        }
    }
    return shown;
}

void ShowAt(TForm2& form, QSize client) {
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(client);
    QTRY_COMPARE(form.size(), client);
}

// Five sections, each titled by its first line.
void Split(TForm2& form) {
    velloran::PlainList list;
    velloran::CallbackDialogs dialogs;
    velloran::Session session{state(), form, list, form.Memo1, dialogs};
    form.Memo1.AssignText(
        "Preamble\r\n[S] One\r\n[S] Two\r\n[S] Three\r\n[S] Four\r\n[S] Five\r\n");
    velloran::SplitSections(session);
}

}  // namespace

class Unit2Test : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }
    void init() { velloran::ResetState(); }

    void creation() {
        state().Modified = true;
        state().Panel2Section = 7;
        TForm2 form;
        QCOMPARE(form.objectName(), QStringLiteral("TForm2"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Program Description"));
        QCOMPARE(form.pos(), QPoint(251, 2));
        QCOMPARE(form.frameGeometry().size(), QSize(506, 645));
        QCOMPARE(Shown(form), QList<int>{0});
        for (int k = 0; k < velloran::kSectionCount; ++k) {
            auto* ed = form.findChild<SectionEditor*>(QStringLiteral("SectionEditor%1").arg(k));
            QVERIFY(ed);
            QCOMPARE(ed, form.SectionEditors(k));
            QCOMPARE(ed->Tag(), k);
            QCOMPARE(ed->geometry(), form.rect());
        }
        QCOMPARE(form.SectionEditors(50)->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(state().Modified, false);
        QCOMPARE(state().Panel2Section, 0);
    }

    void sectionColors_data() {
        QTest::addColumn<int>("k");
        QTest::addColumn<QColor>("color");
        QTest::newRow("editor 0, first entry") << 0 << QColor(208, 192, 192);
        QTest::newRow("editor 17, last entry") << 17 << QColor(208, 224, 224);
        QTest::newRow("editor 18 starts again") << 18 << QColor(208, 192, 192);
        QTest::newRow("editor 36 starts again") << 36 << QColor(208, 192, 192);
        QTest::newRow("editor 50") << 50 << QColor(208, 208, 224);
    }
    void sectionColors() {
        QFETCH(int, k);
        QFETCH(QColor, color);
        TForm2 form;
        const QPalette pal = form.SectionEditors(k)->palette();
        QCOMPARE(pal.color(QPalette::Active, QPalette::Base), color);
        QCOMPARE(pal.color(QPalette::Inactive, QPalette::Base), color);
    }

    void slotsAndModified() {
        TForm2 form;
        Split(form);
        QCOMPARE(state().LastSection, 5);
        QCOMPARE(state().Modified, false);
        QCOMPARE(form.SlotText(0), std::string("Preamble\r\n"));
        QCOMPARE(form.SlotText(3), std::string("[S] Three\r\n"));
        QVERIFY(!form.SectionEditors(3)->document()->isUndoAvailable());

        QTest::keyClicks(form.SectionEditors(3), "x");
        QCOMPARE(state().Modified, true);
        QCOMPARE(form.SlotText(3), std::string("x[S] Three\r\n"));

        // A fill notifies like an edit; the operations that fill set the flag afterwards.
        state().Modified = false;
        form.SetSlotText(4, "filled\r\n");
        QCOMPARE(state().Modified, true);
        QCOMPARE(form.SlotText(4), std::string("filled\r\n"));

        Split(form);
        QCOMPARE(state().Modified, false);
    }

    void selectionInModeOne() {
        TForm2 form;
        Split(form);
        form.SelectSection(3);
        form.SelectSection(5);
        QCOMPARE(state().Panel1Section, 5);
        QCOMPARE(state().Panel2Section, 3);
        QCOMPARE(state().ActiveSection, 5);
        QCOMPARE(Shown(form), QList<int>{5});
        QCOMPARE(form.windowTitle(), QStringLiteral("[S] Five"));

        state().ActiveSection = 1;
        form.SelectSection(5);  // already shown: nothing changes
        QCOMPARE(state().ActiveSection, 1);
        QCOMPARE(state().Panel2Section, 3);

        state().PanelMode = 3;
        form.LayoutPanels();
        QCOMPARE(Shown(form), (QList<int>{3, 5}));
        QCOMPARE(Bounds(form, 5).left(), 0);
        QCOMPARE(Bounds(form, 3).left(), form.width() / 2);
    }

    void selectionInTwoPanes_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("stacked") << 2;
        QTest::newRow("side by side") << 3;
    }
    void selectionInTwoPanes() {
        QFETCH(int, mode);
        TForm2 form;
        Split(form);
        form.SelectSection(1);
        form.SelectSection(2);
        state().PanelMode = mode;
        form.LayoutPanels();
        state().ActiveSection = 4;
        for (int shown : {1, 2}) {
            form.SelectSection(shown);
            QCOMPARE(state().Panel1Section, 2);
            QCOMPARE(state().Panel2Section, 1);
            QCOMPARE(state().ActiveSection, 4);
        }
        form.SelectSection(4);
        QCOMPARE(state().Panel1Section, 2);
        QCOMPARE(state().Panel2Section, 4);
        QCOMPARE(state().ActiveSection, 4);
        QCOMPARE(Shown(form), (QList<int>{2, 4}));
        QCOMPARE(form.windowTitle(), QStringLiteral("[S] Two"));

        form.SelectSection(-1);
        form.SelectSection(velloran::kSectionCount);
        QCOMPARE(state().Panel2Section, 4);
    }

    void stackedRightAfterStart() {
        TForm2 form;
        form.resize(400, 301);
        state().PanelMode = 2;
        form.LayoutPanels();
        QCOMPARE(Shown(form), QList<int>{0});
        QCOMPARE(Bounds(form, 0), QRect(0, 150, 400, 145));
    }

    void captionIsFirstLineOfFirstPane() {
        TForm2 form;
        Split(form);
        form.SetSlotText(2, "");
        form.SelectSection(2);
        QCOMPARE(form.windowTitle(), QString());
        form.SetSlotText(3, "Only line");
        form.SelectSection(3);
        QCOMPARE(form.windowTitle(), QStringLiteral("Only line"));
        form.SelectSection(0);
        QCOMPARE(form.windowTitle(), QStringLiteral("Preamble"));
    }

    // Client 500x600, then resized to 321x457.
    void geometry_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QRect>("first");
        QTest::addColumn<QRect>("second");
        QTest::addColumn<QRect>("firstResized");
        QTest::addColumn<QRect>("secondResized");
        QTest::newRow("one panel")
            << 1 << QRect(0, 0, 500, 600) << QRect() << QRect(0, 0, 321, 457) << QRect();
        QTest::newRow("stacked") << 2 << QRect(0, 0, 500, 295) << QRect(0, 300, 500, 295)
                                 << QRect(0, 0, 321, 223) << QRect(0, 228, 321, 223);
        QTest::newRow("side by side") << 3 << QRect(0, 0, 245, 600) << QRect(250, 0, 245, 600)
                                      << QRect(0, 0, 155, 457) << QRect(160, 0, 155, 457);
    }
    void geometry() {
        QFETCH(int, mode);
        QFETCH(QRect, first);
        QFETCH(QRect, second);
        QFETCH(QRect, firstResized);
        QFETCH(QRect, secondResized);
        TForm2 form;
        Split(form);
        form.SelectSection(4);  // first pane 4, second pane 0
        state().PanelMode = mode;
        ShowAt(form, QSize(500, 600));
        form.LayoutPanels();
        const QList<int> shown = mode == 1 ? QList<int>{4} : QList<int>{0, 4};
        QCOMPARE(Shown(form), shown);
        QCOMPARE(Bounds(form, 4), first);
        if (mode != 1) {
            QCOMPARE(Bounds(form, 0), second);
        }

        form.resize(321, 457);
        QTRY_COMPARE(Bounds(form, 4), firstResized);
        if (mode != 1) {
            QCOMPARE(Bounds(form, 0), secondResized);
        }
        QCOMPARE(Shown(form), shown);
        // Hidden editors fill the window, ready to be shown alone.
        QCOMPARE(Bounds(form, 7), form.rect());
    }

    void resizeFollowsTheShownPanes() {
        TForm2 form;
        Split(form);
        form.SelectSection(1);
        form.SelectSection(2);
        state().PanelMode = 2;
        ShowAt(form, QSize(400, 400));
        form.LayoutPanels();
        Split(form);  // the first pane's section is 0 now, but 2 and 1 stay on screen
        QCOMPARE(state().Panel1Section, 0);
        form.resize(300, 200);
        QTRY_COMPARE(Bounds(form, 2), QRect(0, 0, 300, 95));
        QCOMPARE(Bounds(form, 1), QRect(0, 100, 300, 95));
        QCOMPARE(Bounds(form, 0), form.rect());
        QCOMPARE(Shown(form), (QList<int>{1, 2}));
    }

    void applyFormat() {
        TForm2 form;
        Split(form);
        QTest::keyClicks(form.SectionEditors(1), "ab");
        state().Modified = false;
        state().FontFace = "Times New Roman";
        state().FontSize = 14;
        state().WordWrap = false;
        form.ApplyFormat();
        for (int k : {0, 1, 50}) {
            SectionEditor* ed = form.SectionEditors(k);
            QCOMPARE(ed->font().family(), QStringLiteral("Times New Roman"));
            QCOMPARE(ed->font().pointSize(), 14);
            QCOMPARE(ed->lineWrapMode(), QPlainTextEdit::NoWrap);
            QCOMPARE(ed->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QCOMPARE(ed->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        }
        state().WordWrap = true;
        form.ApplyFormat();
        QCOMPARE(form.SectionEditors(7)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(form.SectionEditors(7)->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        // A change of format is no change of text, and keeps each editor's undo.
        QCOMPARE(state().Modified, false);
        form.SectionEditors(1)->undo();
        QCOMPARE(form.SlotText(1), std::string("[S] One\r\n"));
    }

    void closedWindowComesBackOnLayout() {
        TForm2 form;
        Split(form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        QCOMPARE(form.SlotText(1), std::string("[S] One\r\n"));
        form.SelectSection(2);
        QVERIFY(form.isVisible());
        QVERIFY(form.SectionEditors(2)->isVisible());
    }

    void clickSetsActiveSection() {
        TForm2 form;
        Split(form);
        form.SelectSection(1);
        form.SelectSection(2);
        state().PanelMode = 3;
        ShowAt(form, QSize(400, 300));
        form.LayoutPanels();
        QCOMPARE(state().ActiveSection, 2);
        QTest::mouseClick(form.SectionEditors(1)->viewport(), Qt::LeftButton);
        QCOMPARE(state().ActiveSection, 1);
        QTest::mouseClick(form.SectionEditors(2)->viewport(), Qt::LeftButton);
        QCOMPARE(state().ActiveSection, 2);
        QCOMPARE(state().Modified, false);
    }

    void keyHooksRunBeforeTheEditorAndKeepTheKey() {
        TForm2 form;
        Split(form);
        QStringList down;
        QList<int> up;
        form.onEditorKeyDown = [&](int key, Qt::KeyboardModifiers m, SectionEditor* ed) {
            down << QStringLiteral("%1 %2 %3 %4")
                        .arg(key)
                        .arg(m.testFlag(Qt::ShiftModifier))
                        .arg(ed->Tag())
                        .arg(QString::fromStdString(ed->Bytes()).trimmed());
        };
        form.onEditorKeyUp = [&](int key, Qt::KeyboardModifiers, SectionEditor*) { up << key; };
        QTest::keyClick(form.SectionEditors(3), 'Z', Qt::ShiftModifier);
        // QTest presses Shift on its own first.
        QCOMPARE(down.size(), 2);
        QCOMPARE(down.last(), QStringLiteral("%1 1 3 [S] Three").arg(Qt::Key_Z));
        QVERIFY(up.contains(Qt::Key_Z));
        QCOMPARE(form.SlotText(3), std::string("Z[S] Three\r\n"));
    }

  private:
    QTemporaryDir config_;
};

QTEST_MAIN(Unit2Test)
#include "unit2_test.moc"
