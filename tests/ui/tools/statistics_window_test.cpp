#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QtTest>
#include <string>

#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"
#include "ui/tools/StatisticsWindow.h"

using velloran::state;

namespace {

void Split(DocumentWindow& documentWindow, const std::string& text) {
    velloran::PlainList list;
    velloran::CallbackDialogs dialogs;
    velloran::Session session{state(), documentWindow, list, documentWindow.Memo1, dialogs};
    documentWindow.Memo1.AssignText(text);
    velloran::SplitSections(session);
}

QStringList Report(const StatisticsWindow& statisticsWindow) {
    return statisticsWindow.Memo1->toPlainText().split(u'\n');
}

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

}  // namespace

class StatisticsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { velloran::ResetState(); }

    void design() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        QCOMPARE(statisticsWindow.objectName(), QStringLiteral("TForm4"));
        QCOMPARE(statisticsWindow.windowTitle(), QStringLiteral("Edit File"));
        QCOMPARE(statisticsWindow.pos(), QPoint(265, 323));
        QCOMPARE(statisticsWindow.frameGeometry().size(), QSize(371, 444));
        QCOMPARE(statisticsWindow.findChild<QPlainTextEdit*>("Memo1"), statisticsWindow.Memo1);
        QCOMPARE(statisticsWindow.Memo1->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(statisticsWindow.Memo1->font().pixelSize(), 11);
        QCOMPARE(statisticsWindow.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(statisticsWindow.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(statisticsWindow.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!statisticsWindow.Memo1->isReadOnly());
        QVERIFY(!statisticsWindow.isVisible());

        statisticsWindow.show();
        statisticsWindow.resize(500, 300);
        QTRY_COMPARE(statisticsWindow.Memo1->geometry(), statisticsWindow.rect());
    }

    void report_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no markers: one row, totals the same")
            << QByteArray("Title line\r\none two  three\r\n\r\n")
            << QStringList{"Lines  Words  Char  Section", "   3     5     24   Title line",
                           "   3     5     24   TOTALS"};
        QTest::newRow("first line a marker: section 0 empty")
            << QByteArray("[S] First\r\nword\r\n[S] Second")
            << QStringList{"Lines  Words  Char  Section", "   0     0      0   ",
                           "   2     3     13   [S] First", "   1     2     10   [S] Second",
                           "   3     5     23   TOTALS"};
        QTest::newRow("only blanks part words; bytes above 127 are characters")
            << QByteArray("a\tb,c \xC4\xE4  d\r\n")
            << QStringList{"Lines  Words  Char  Section",
                           QString::fromUtf8("   1     3     11   a\tb,c Ää  d"),
                           "   1     3     11   TOTALS"};
    }
    void report() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, lines);
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        Split(documentWindow, text.toStdString());
        statisticsWindow.show();
        QCOMPARE(Report(statisticsWindow), lines);
    }

    // A line shown wrapped in its editor is still one line.
    // Characters as the writer counts them: "Łódź 日本" and "😀 ok" against a reading of each
    // line character by character.
    void utf8CharactersCountOnceEach() {
        const QString text =
            QStringLiteral(u"\u0141\u00f3d\u017a \u65e5\u672c\r\n[S] \U0001F600 ok\r\nmore\r\n");
        DocumentWindow documentWindow;
        Split(documentWindow, text.toUtf8().toStdString());
        QCOMPARE(state().DocumentEncoding, velloran::Encoding::Utf8);
        StatisticsWindow statisticsWindow(&documentWindow);
        statisticsWindow.show();
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        auto chars = [&](qsizetype from, qsizetype to) {
            qsizetype n = 0;
            for (qsizetype i = from; i < to; ++i) {
                n += lines[i].toUcs4().size();
            }
            return n;
        };
        QCOMPARE(chars(0, 1), 7);
        QCOMPARE(chars(1, 3), 12);
        QCOMPARE(Report(statisticsWindow),
                 (QStringList{"Lines  Words  Char  Section",
                              QStringLiteral("   1     2      %1   ").arg(chars(0, 1)) + lines[0],
                              QStringLiteral("   2     4     %1   ").arg(chars(1, 3)) + lines[1],
                              QStringLiteral("   3     6     %1   TOTALS").arg(chars(0, 3))}));
    }

    void wrappedLinesCountOnce() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        Split(documentWindow, "Long\r\n" + Repeat("word ", 2000) + "\r\n");
        documentWindow.resize(200, 300);
        documentWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&documentWindow));
        QTRY_VERIFY(documentWindow.SectionEditors(0)->document()->findBlockByNumber(1).lineCount() >
                    10);
        statisticsWindow.show();
        QCOMPARE(Report(statisticsWindow).at(1), QStringLiteral("   2  2001  10004   Long"));
    }

    // Numbers that fill their columns stay as they are; wider ones keep a blank before them.
    void numbersFillingAndOverflowingColumns() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        // Section 0: 9999 one-letter lines; section 1: 99999 words in 999999 characters;
        // section 2: 100000 words in 1000000 characters.
        std::string doc = Repeat("a\r\n", 9999);
        doc += "[S] Bb\r\n" + Repeat("x ", 99996) + std::string(800001, 'y') + "\r\n";
        doc += "[S] Cc\r\n" + Repeat("x ", 99997) + std::string(800000, 'z') + "\r\n";
        Split(documentWindow, doc);
        statisticsWindow.show();
        QCOMPARE(Report(statisticsWindow),
                 (QStringList{"Lines  Words  Char  Section", "9999  9999   9999   a",
                              "   2 99999 999999   [S] Bb", "   2 100000 1000000   [S] Cc",
                              "10003 209998 2009998   TOTALS"}));
    }

    // Only the sections up to LastSection are reported, however many editors hold text.
    void sectionsPastLastAreLeftOut() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        Split(documentWindow, "One\r\n[S] Two\r\n");
        documentWindow.SetSlotText(5, "left over\r\n");
        statisticsWindow.show();
        QCOMPARE(Report(statisticsWindow).size(), 4);
        QCOMPARE(Report(statisticsWindow).last(), QStringLiteral("   2     3     10   TOTALS"));
    }

    // Opening an open window moves and raises it and keeps its text, the user's edits included;
    // closing and opening again makes the report afresh.
    void rebuiltOnlyWhenOpened() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        QWidget list;
        list.move(30, 40);
        list.resize(120, 200);
        list.show();
        Split(documentWindow, "One\r\n");
        statisticsWindow.ShowAt(&list);
        QVERIFY(statisticsWindow.isVisible());
        const QPoint edge(list.frameGeometry().right() + 1, list.frameGeometry().top());
        QCOMPARE(statisticsWindow.frameGeometry().topLeft(), edge);
        QCOMPARE(Report(statisticsWindow).at(1), QStringLiteral("   1     1      3   One"));

        Split(documentWindow, "One two\r\n");
        statisticsWindow.Memo1->appendPlainText("note");
        list.move(60, 50);
        statisticsWindow.ShowAt(&list);
        QCOMPARE(statisticsWindow.frameGeometry().topLeft(),
                 QPoint(list.frameGeometry().right() + 1, list.frameGeometry().top()));
        QCOMPARE(Report(statisticsWindow).at(1), QStringLiteral("   1     1      3   One"));
        QCOMPARE(Report(statisticsWindow).last(), QStringLiteral("note"));

        statisticsWindow.close();
        statisticsWindow.ShowAt(&list);
        QCOMPARE(Report(statisticsWindow).at(1), QStringLiteral("   1     2      7   One two"));
        QCOMPARE(Report(statisticsWindow).size(), 3);
    }

    // The report is meant to be pasted into documents: a copy keeps every character, the
    // no-break space included, which a plain-text copy would turn into a space.
    void copyingTheReportKeepsEveryCharacter() {
        DocumentWindow documentWindow;
        StatisticsWindow statisticsWindow(&documentWindow);
        Split(documentWindow, "Caf\xe9\xa0Noir\r\n[S]\xa0\x80 two\r\n");
        statisticsWindow.show();
        statisticsWindow.Memo1->selectAll();
        statisticsWindow.Memo1->copy();
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY(copied.contains(QStringLiteral(u"Caf\u00e9\u00a0Noir")));
        QVERIFY(copied.contains(QStringLiteral(u"[S]\u00a0\u20ac two")));
        QCOMPARE(copied,
                 statisticsWindow.Memo1->document()->toRawText().replace(QChar(0x2029), u'\n'));
    }
};

QTEST_MAIN(StatisticsWindowTest)
#include "statistics_window_test.moc"
