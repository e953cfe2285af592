#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <string>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "tests/support/ModalScript.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/SearchWindow.h"

using velloran::state;

namespace {

// A document window filled from text and shown, with its section list and a search window.
struct Windows {
    explicit Windows(const std::string& text) {
        Split(text);
        documentWindow.show();
        documentWindow.LayoutPanels();
    }
    void Split(const std::string& text) {
        velloran::CallbackDialogs dialogs;
        velloran::Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
        documentWindow.Memo1.AssignText(text);
        velloran::SplitSections(session);
    }
    void Search(const QString& text) {
        searchWindow.Edit1->setText(text);
        searchWindow.Button1->click();
    }
    QStringList SearchAll(const QString& text) {
        searchWindow.Edit1->setText(text);
        searchWindow.Button2->click();
        QStringList rows;
        for (int i = 0; i < searchWindow.ListBox1->count(); ++i) {
            rows << searchWindow.ListBox1->item(i)->text();
        }
        return rows;
    }
    SectionEditor* Editor(int k) { return documentWindow.SectionEditors(k); }

    DocumentWindow documentWindow;
    velloran::PlainList list;
    SearchWindow searchWindow{&documentWindow, &list};
};

QString Selected(SectionEditor* ed) {
    return QStringLiteral("%1+%2").arg(ed->SelStart()).arg(ed->SelLength());
}

}  // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { velloran::ResetState(); }

    void design() {
        DocumentWindow documentWindow;
        velloran::PlainList list;
        SearchWindow searchWindow(&documentWindow, &list);
        QCOMPARE(searchWindow.objectName(), QStringLiteral("TForm6"));
        QCOMPARE(searchWindow.windowTitle(), QStringLiteral("Search"));
        QCOMPARE(searchWindow.pos(), QPoint(757, 2));
        QCOMPARE(searchWindow.frameGeometry().size(), QSize(201, 266));
        QCOMPARE(searchWindow.findChild<QLineEdit*>("Edit1"), searchWindow.Edit1);
        QCOMPARE(searchWindow.findChild<QPushButton*>("Button1"), searchWindow.Button1);
        QCOMPARE(searchWindow.findChild<QPushButton*>("Button2"), searchWindow.Button2);
        QCOMPARE(searchWindow.findChild<QListWidget*>("ListBox1"), searchWindow.ListBox1);
        QCOMPARE(searchWindow.Edit1->text(), QStringLiteral("Edit1"));
        QCOMPARE(searchWindow.Edit1->font().family(), QStringLiteral("Arial"));
        QCOMPARE(searchWindow.Edit1->font().pixelSize(), 13);
        QVERIFY(searchWindow.Edit1->font().bold());
        QCOMPARE(searchWindow.Button1->text(), QStringLiteral("Search"));
        QCOMPARE(searchWindow.Button2->text(), QStringLiteral("Search All"));
        QVERIFY(searchWindow.Edit1->geometry().bottom() < searchWindow.Button1->geometry().top());
        QVERIFY(searchWindow.Button1->geometry().bottom() <
                searchWindow.ListBox1->geometry().top());
        QVERIFY(!searchWindow.isVisible());

        searchWindow.show();
        searchWindow.resize(300, 400);
        QTRY_COMPARE(searchWindow.ListBox1->height(), 400 - 88);
        QCOMPARE(searchWindow.ListBox1->geometry().bottom(), searchWindow.rect().bottom());
        QCOMPARE(searchWindow.ListBox1->width(), 300);
    }

    // Every opening places the window at the document window's right edge, an open one too.
    void showAtDocumentWindow() {
        Windows w("text\r\n");
        w.documentWindow.move(40, 30);
        w.searchWindow.ShowAt(&w.documentWindow);
        QVERIFY(w.searchWindow.isVisible());
        QCOMPARE(w.searchWindow.frameGeometry().topLeft(),
                 QPoint(w.documentWindow.frameGeometry().right() + 1,
                        w.documentWindow.frameGeometry().top()));
        w.documentWindow.move(90, 70);
        w.searchWindow.ShowAt(&w.documentWindow);
        QCOMPARE(w.searchWindow.frameGeometry().topLeft(),
                 QPoint(w.documentWindow.frameGeometry().right() + 1,
                        w.documentWindow.frameGeometry().top()));
    }

    // Repeated Search from a caret position: the selections made, then the caret after the
    // miss that ends the run.
    void searchSteps_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("a match at the caret is found")
            << QByteArray("a the The end") << "the" << 6 << QStringList{"6+3", "6+0"};
        QTest::newRow("step through every match, then the caret stays at the last")
            << QByteArray("The cat, the hat.\r\nTHE end; tHe") << "the" << 0
            << QStringList{"0+3", "9+3", "19+3", "28+3", "28+0"};
        QTest::newRow("line breaks count two") << QByteArray("x\r\n\r\nfind\r\nfind") << "FIND" << 1
                                               << QStringList{"5+4", "11+4", "11+0"};
        QTest::newRow("no match leaves the caret")
            << QByteArray("nothing here") << "zz" << 4 << QStringList{"4+0"};
        QTest::newRow("longer than the text")
            << QByteArray("ab") << "abc" << 1 << QStringList{"1+0"};
        QTest::newRow("overlapping matches step by one")
            << QByteArray("aaaa") << "aa" << 0 << QStringList{"0+2", "1+2", "2+2", "2+0"};
    }
    void searchSteps() {
        QFETCH(QByteArray, text);
        QFETCH(QString, search);
        QFETCH(int, caret);
        QFETCH(QStringList, steps);
        Windows w(text.toStdString());
        SectionEditor* ed = w.Editor(0);
        ed->SetCaretPos(caret);
        QStringList seen;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            w.Search(search);
            seen << Selected(ed);
        }
        QCOMPARE(seen, steps);
        QCOMPARE(state().SearchText, search.toStdString());
        QTRY_COMPARE(QApplication::focusWidget(), ed);
        QCOMPARE(state().Modified, false);
    }

    void emptySearchTextChangesNothing() {
        Windows w("abc abc\r\n");
        w.Editor(0)->Select(4, 2);
        w.Search(QString());
        QCOMPARE(Selected(w.Editor(0)), QStringLiteral("4+2"));
        QCOMPARE(state().SearchText, std::string());
    }

    // Case folding covers A to Z alone: the field's text is taken as code-page bytes, and
    // bytes above 127 match only themselves.
    void bytesAboveAsciiMatchOnlyThemselves() {
        Windows w(
            "\xE4"
            "b \xC4"
            "b \xC4"
            "B\r\n[S] \xC4"
            "B there\r\n");
        QCOMPARE(w.SearchAll(QString::fromUtf8("ÄB")),
                 (QStringList{QString::fromUtf8("2    äb Äb ÄB"),
                              QString::fromUtf8("1    [S] ÄB there")}));
        QCOMPARE(state().SearchText, std::string("\xC4"
                                                 "B"));
        w.Search(QString::fromUtf8("ÄB"));
        QCOMPARE(Selected(w.Editor(0)), QStringLiteral("3+2"));
        w.Search(QString::fromUtf8("ÄB"));
        QCOMPARE(Selected(w.Editor(0)), QStringLiteral("6+2"));
    }

    void searchAllRows_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("overlapping matches each count")
            << QByteArray("aaaa\r\n[S] none\r\n") << "aa"
            << QStringList{"3    aaaa", "0    [S] none"};
        QTest::newRow("empty text counts every position, a break as two")
            << QByteArray("ab\r\n[S] x1\r\n[S] y2 z") << ""
            << QStringList{"5    ab", "9    [S] x1", "11    [S] y2 z"};
        QTest::newRow("an empty section 0 counts nothing under the document's first line")
            << QByteArray("[S] Only\r\n") << "o" << QStringList{"0    [S] Only", "1    [S] Only"};
        QTest::newRow("titles count too, in any case")
            << QByteArray("Intro\r\n[S] One one\r\nONE\r\n") << "one"
            << QStringList{"0    Intro", "3    [S] One one"};
    }
    void searchAllRows() {
        QFETCH(QByteArray, text);
        QFETCH(QString, search);
        QFETCH(QStringList, rows);
        Windows w(text.toStdString());
        QCOMPARE(w.SearchAll(search), rows);
        // A second run replaces the rows.
        QCOMPARE(w.SearchAll(search), rows);
    }

    // A UTF-8 document with characters of one to four bytes: Search steps through the matches
    // and Search All counts them at the positions a reading of the text character by character
    // gives, a line break counting two.
    void searchInCharactersOfEveryLength() {
        const QString text = QStringLiteral(
            u"\u00c7a caf\u00e9 \u65e5\u672c CAF\u00e9\r\n\U0001F600caf\u00e9!\r\n"
            u"\U0001F600 CAFE caf\u00c9 cAf\u00e9\r\n");
        const QString needle = QStringLiteral(u"caf\u00e9");
        const QList<uint> chars = text.toUcs4();
        const QList<uint> wanted = needle.toUcs4();
        auto fold = [](uint c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
        QList<int> starts;
        for (qsizetype p = 0; p + wanted.size() <= chars.size(); ++p) {
            bool same = true;
            for (qsizetype j = 0; j < wanted.size(); ++j) {
                same = same && fold(chars[p + j]) == fold(wanted[j]);
            }
            if (same) {
                starts << static_cast<int>(p);
            }
        }
        QCOMPARE(starts.size(), 4);  // "café", "CAFé", "café", "cAfé"; not "CAFE", "cafÉ"

        Windows w(text.toUtf8().toStdString());
        QCOMPARE(state().DocumentEncoding, velloran::Encoding::Utf8);
        SectionEditor* ed = w.Editor(0);
        ed->SetCaretPos(0);
        QStringList seen;
        QStringList expected;
        for (int p : starts) {
            w.Search(needle);
            seen << Selected(ed);
            expected << QStringLiteral("%1+4").arg(p);
            QCOMPARE(ed->textCursor().selectedText().toUpper(), needle.toUpper());
        }
        w.Search(needle);
        seen << Selected(ed);
        expected << QStringLiteral("%1+0").arg(starts.last());
        QCOMPARE(seen, expected);

        const QString title = text.left(text.indexOf(u'\r'));
        QCOMPARE(w.SearchAll(needle), QStringList{QStringLiteral("4    ") + title});
        QCOMPARE(w.SearchAll(QString()),
                 QStringList{QStringLiteral("%1    ").arg(chars.size() + 1) + title});
    }

    void rowClickShowsSection() {
        Windows w("Intro\r\n[S] One\r\n[S] Two\r\n[S] Three\r\n");
        w.searchWindow.show();
        w.SearchAll("o");
        QListWidget* list = w.searchWindow.ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(2)).center());
        QCOMPARE(state().Panel1Section, 2);
        QVERIFY(w.Editor(2)->isVisible());
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentRow(), 3);
        QCOMPARE(state().Panel1Section, 3);
        QCOMPARE(state().ActiveSection, 3);

        // The row already selected shows its section again after the list window moved on.
        w.documentWindow.SelectSection(1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(3)).center());
        QCOMPARE(state().Panel1Section, 3);
    }

    // After a reload leaves fewer sections, the old rows stay; those past the last section
    // point at editors no save writes, and a click on them shows nothing.
    void staleRowPastLastSectionIsIgnored() {
        Windows w("Intro\r\n[S] One\r\n[S] Two\r\n[S] Three\r\n");
        w.searchWindow.show();
        QCOMPARE(w.SearchAll("t").size(), 4);
        w.Split("Intro\r\n[S] One\r\n");
        QCOMPARE(state().LastSection, 1);
        QCOMPARE(w.searchWindow.ListBox1->count(), 4);
        w.searchWindow.ListBox1->setCurrentRow(3);
        QCOMPARE(state().Panel1Section, 0);
        QVERIFY(!w.Editor(3)->isVisible());
        w.searchWindow.ListBox1->setCurrentRow(1);
        QCOMPARE(state().Panel1Section, 1);
    }

    // In two panes the editor clicked last is the one searched.
    void clickIntoOtherPaneMovesTheSearch() {
        Windows w("Intro\r\n[S] One find\r\n[S] Two find\r\n");
        w.documentWindow.SelectSection(1);
        w.documentWindow.SelectSection(2);
        state().PanelMode = 2;
        w.documentWindow.resize(400, 300);
        w.documentWindow.LayoutPanels();
        QVERIFY(QTest::qWaitForWindowExposed(&w.documentWindow));
        QCOMPARE(state().ActiveSection, 2);

        w.Search("find");
        QCOMPARE(Selected(w.Editor(2)), QStringLiteral("8+4"));
        QTest::mouseClick(w.Editor(1)->viewport(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(state().ActiveSection, 1);
        w.Editor(1)->SetCaretPos(0);
        w.Search("find");
        QCOMPARE(Selected(w.Editor(1)), QStringLiteral("8+4"));
        QCOMPARE(Selected(w.Editor(2)), QStringLiteral("8+4"));
    }

    // A section shown for the first time is searched in its text, and an edit made after that
    // moves the matches with it.
    void searchInASectionShownForTheFirstTime() {
        Windows w("Intro\r\n[S] One\r\nfind me\r\n\r\nfind\r\n[S] Two\r\n");
        QVERIFY(!w.documentWindow.IsFilled(1));
        w.documentWindow.SelectSection(1);
        w.Search("FIND");
        QCOMPARE(Selected(w.Editor(1)), QStringLiteral("9+4"));
        w.Editor(1)->SetCaretPos(0);
        QTest::keyClick(w.Editor(1), Qt::Key_Return);
        QTest::keyClicks(w.Editor(1), "ab");
        w.Search("find");
        QCOMPARE(Selected(w.Editor(1)), QStringLiteral("13+4"));
        w.Search("find");
        QCOMPARE(Selected(w.Editor(1)), QStringLiteral("24+4"));
    }

    void invisibleActiveEditorIsReported() {
        Windows w("Intro find\r\n[S] One find\r\n[S] Two find\r\n");
        w.documentWindow.SelectSection(1);
        w.documentWindow.SelectSection(2);
        // A split left ActiveSection on an editor no pane shows.
        state().ActiveSection = 1;
        w.Editor(1)->SetCaretPos(3);
        velloran::testing::ModalScript script;
        script.Answer(QMessageBox::Ok);
        w.Search("find");
        QVERIFY(script.Done());
        QCOMPARE(script.messages, QStringList{"Cannot focus a disabled or invisible window"});
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(Selected(w.Editor(1)), QStringLiteral("3+0"));

        // A closed document window cannot take the focus either.
        state().ActiveSection = 2;
        w.documentWindow.close();
        script.Answer(QMessageBox::Ok);
        w.Search("find");
        QVERIFY(script.Done());
        QCOMPARE(script.messages.size(), 2);
        QCOMPARE(Selected(w.Editor(2)), QStringLiteral("0+0"));
    }
};

QTEST_MAIN(SearchWindowTest)
#include "search_window_test.moc"
