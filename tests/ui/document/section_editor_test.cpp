#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <random>
#include <string>

#include "ui/document/SectionEditor.h"

Q_DECLARE_METATYPE(velloran::Encoding)

namespace {

using velloran::Encoding;
using namespace std::string_literals;
constexpr Encoding kCp1252 = Encoding::Windows1252;

// Every byte value but CR and LF, the ones a line can hold.
std::string AllLineBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes;
}

QByteArray Show(const std::string& s) {
    return QByteArray::fromStdString(s).toHex(' ');
}

void Type(QWidget* w, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
}

}  // namespace

class SectionEditorTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }

    void everyByteSurvives_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Encoding>("encoding");
        const QByteArray all = QByteArray::fromStdString(AllLineBytes());
        QTest::newRow("one line") << all + "\r\n" << kCp1252;
        QTest::newRow("between lines") << "first\r\n" + all + "\r\nlast\r\n" << kCp1252;
        QTest::newRow("no final break") << "first\r\n" + all << kCp1252;
        QTest::newRow("empty lines around") << "\r\n\r\n" + all + "\r\n\r\n" << kCp1252;
        // What the toolkit's text might treat as its own: a byte-order mark and U+FEFF within,
        // NUL, controls, U+00A0, U+FFFC, noncharacters, the last code point.
        QTest::newRow("UTF-8 characters the toolkit could take for its own")
            << QByteArray::fromStdString(
                   "\xef\xbb\xbftitle\r\na\xef\xbb\xbf"
                   "b\x01\x1f\x7f\xc2\x80\xc2\x9f\xc2\xa0"
                   "\xef\xbf\xbc\xef\xbf\xbe\xef\xbf\xbf\xef\xb7\x92\xf4\x8f\xbf\xbf\r\n"s +
                   std::string(1, '\0') + "end")
            << Encoding::Utf8;
        QTest::newRow("UTF-8 of every length")
            << QByteArray("\xc5\x82 \xd1\x8f \xce\xac \xe6\x97\xa5 \xf0\x9f\x98\x80\r\n\r\n")
            << Encoding::Utf8;
    }
    void everyByteSurvives() {
        QFETCH(QByteArray, text);
        QFETCH(Encoding, encoding);
        SectionEditor ed(0);
        ed.SetBytes(text.toStdString(), encoding);
        QCOMPARE(Show(ed.Bytes()), text.toHex(' '));
        QCOMPARE(Show(std::string(ed.ByteView())), text.toHex(' '));
    }

    void everyByteSurvivesTypingElsewhere() {
        SectionEditor ed(0);
        const std::string all = AllLineBytes();
        ed.SetBytes("title\r\n" + all + "\r\n", kCp1252);
        ed.moveCursor(QTextCursor::Start);
        ed.moveCursor(QTextCursor::EndOfLine);
        QTest::keyClicks(&ed, "!x");
        QTest::keyClick(&ed, Qt::Key_Backspace);
        ed.moveCursor(QTextCursor::End);
        QTest::keyClicks(&ed, "end");
        QCOMPARE(Show(ed.Bytes()), Show("title!\r\n" + all + "\r\nend"));
        // The characters stay as they are in the editor: U+00A0 is not shown as a space.
        QVERIFY(ed.document()->toRawText().contains(QChar(0x00A0)));
        QVERIFY(ed.document()->toRawText().contains(QChar(0x20AC)));
    }

    void lineBreakForms_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("blocks");
        QTest::newRow("empty") << QByteArray() << QByteArray() << 1;
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n") << 3;
        QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\r\nb") << 2;
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n") << 3;
        QTest::newRow("LF CR is two") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb") << 3;
        QTest::newRow("CR CR LF is two") << QByteArray("a\r\r\nb") << QByteArray("a\r\n\r\nb") << 3;
    }
    void lineBreakForms() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QFETCH(int, blocks);
        SectionEditor ed(0);
        ed.SetBytes(in.toStdString(), kCp1252);
        QCOMPARE(QByteArray::fromStdString(ed.Bytes()), out);
        QCOMPARE(ed.blockCount(), blocks);
    }

    void shiftEnterMakesAnOrdinaryBreak() {
        SectionEditor ed(0);
        QTest::keyClicks(&ed, "ab");
        QTest::keyClick(&ed, Qt::Key_Left);
        QTest::keyClick(&ed, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClick(&ed, Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier);
        QCOMPARE(QByteArray::fromStdString(ed.Bytes()), QByteArray("a\r\n\r\nb"));
        QVERIFY(!ed.document()->toRawText().contains(QChar(0x2028)));
        QCOMPARE(ed.blockCount(), 3);
        QCOMPARE(ed.CaretPos(), 5);
    }

    // Typed, committed by an input method, and pasted.
    void enteredCharactersAsTheEncodingHoldsThem_data() {
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("Latin-1") << kCp1252 << QStringLiteral(u"caf\u00e9")
                                 << QByteArray("caf\xe9");
        QTest::newRow("euro sign held") << kCp1252 << QStringLiteral(u"\u20ac5")
                                        << QByteArray(
                                               "\x80"
                                               "5");
        QTest::newRow("outside the code page")
            << kCp1252 << QStringLiteral(u"A\u0100B") << QByteArray("A?B");
        QTest::newRow("Cyrillic") << kCp1252 << QStringLiteral(u"\u0416\u0436") << QByteArray("??");
        QTest::newRow("surrogate pair is one character")
            << kCp1252 << QStringLiteral(u"x\U0001F600y") << QByteArray("x?y");
        QTest::newRow("letters of four scripts, Windows-1252")
            << kCp1252 << QStringLiteral(u"\u0142 \u044f \u03ac \u65e5") << QByteArray("? ? ? ?");
        QTest::newRow("letters of four scripts, UTF-8")
            << Encoding::Utf8 << QStringLiteral(u"\u0142 \u044f \u03ac \u65e5")
            << QByteArray("\xc5\x82 \xd1\x8f \xce\xac \xe6\x97\xa5");
        QTest::newRow("beyond U+FFFF, UTF-8") << Encoding::Utf8 << QStringLiteral(u"x\U0001F600y")
                                              << QByteArray("x\xf0\x9f\x98\x80y");
        QTest::newRow("half a surrogate pair, UTF-8")
            << Encoding::Utf8 << QString(QChar(0xD83D)) + "y" << QByteArray("?y");
    }
    void enteredCharactersAsTheEncodingHoldsThem() {
        QFETCH(Encoding, encoding);
        QFETCH(QString, entered);
        QFETCH(QByteArray, bytes);
        {
            SectionEditor ed(0);
            ed.SetBytes({}, encoding);
            Type(&ed, entered);
            QCOMPARE(QByteArray::fromStdString(ed.Bytes()), bytes);
            // What is shown is what will be saved.
            QCOMPARE(ed.document()->toRawText(),
                     SectionEditor::TextFromBytes(bytes.toStdString(), encoding));
        }
        {
            SectionEditor ed(0);
            ed.SetBytes({}, encoding);
            QInputMethodEvent im;
            im.setCommitString(entered);
            QApplication::sendEvent(&ed, &im);
            QCOMPARE(QByteArray::fromStdString(ed.Bytes()), bytes);
        }
        {
            SectionEditor ed(0);
            ed.SetBytes({}, encoding);
            QGuiApplication::clipboard()->setText(entered);
            ed.paste();
            QCOMPARE(QByteArray::fromStdString(ed.Bytes()), bytes);
            QCOMPARE(Show(std::string(ed.ByteView())), Show(ed.Bytes()));
        }
    }

    void pastedBreaksBecomeLines() {
        SectionEditor ed(0);
        ed.SetBytes("<>", kCp1252);
        ed.Select(1, 0);
        QGuiApplication::clipboard()->setText(QStringLiteral(u"a\r\nb\rc\nd\u2028e\u2029f"));
        ed.paste();
        QCOMPARE(QByteArray::fromStdString(ed.Bytes()), QByteArray("<a\r\nb\r\nc\r\nd\r\ne\r\nf>"));
        QCOMPARE(ed.blockCount(), 6);
    }

    void copyAndPasteKeepEveryByte() {
        SectionEditor ed(0);
        const std::string all = AllLineBytes();
        ed.SetBytes(all + "\r\nend", kCp1252);
        ed.selectAll();
        ed.copy();
        ed.moveCursor(QTextCursor::End);
        QTest::keyClick(&ed, Qt::Key_Return);
        ed.paste();
        // Qt's own plain-text copy would turn U+00A0 into a space.
        QCOMPARE(Show(ed.Bytes()), Show(all + "\r\nend\r\n" + all + "\r\nend"));
    }

    void undoAfterFillStartsAfresh() {
        SectionEditor ed(0);
        QTest::keyClicks(&ed, "typed");
        QVERIFY(ed.document()->isUndoAvailable());
        ed.SetBytes("filled\r\n", kCp1252);
        QVERIFY(!ed.document()->isUndoAvailable());
        QCOMPARE(ed.CaretPos(), 0);
        ed.moveCursor(QTextCursor::End);
        QTest::keyClicks(&ed, "ab");
        QTest::keyClick(&ed, Qt::Key_Return);
        QTest::keyClicks(&ed, "cd");
        // More than one level: every step comes back, and no further than the fill.
        while (ed.document()->isUndoAvailable()) {
            ed.undo();
        }
        QCOMPARE(QByteArray::fromStdString(ed.Bytes()), QByteArray("filled\r\n"));
    }

    // Qt positions and positions in characters, a break counting two: "ab\r\n\r\ncd\r\n" in
    // Windows-1252, "é\r\n日😀x" in UTF-8, where 😀 is two Qt positions and one character.
    void positionConversion_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<int>("qt");
        QTest::addColumn<int>("crlf");
        const QByteArray lines("ab\r\n\r\ncd\r\n");
        QTest::newRow("start") << lines << kCp1252 << 0 << 0;
        QTest::newRow("middle of first line") << lines << kCp1252 << 1 << 1;
        QTest::newRow("end of first line") << lines << kCp1252 << 2 << 2;
        QTest::newRow("empty line") << lines << kCp1252 << 3 << 4;
        QTest::newRow("start of third line") << lines << kCp1252 << 4 << 6;
        QTest::newRow("middle of third line") << lines << kCp1252 << 5 << 7;
        QTest::newRow("end of third line") << lines << kCp1252 << 6 << 8;
        QTest::newRow("empty last line, end of text") << lines << kCp1252 << 7 << 10;
        const QByteArray utf8("\xc3\xa9\r\n\xe6\x97\xa5\xf0\x9f\x98\x80x");
        QTest::newRow("UTF-8 after two bytes") << utf8 << Encoding::Utf8 << 1 << 1;
        QTest::newRow("UTF-8 after the break") << utf8 << Encoding::Utf8 << 2 << 3;
        QTest::newRow("UTF-8 after three bytes") << utf8 << Encoding::Utf8 << 3 << 4;
        QTest::newRow("UTF-8 after a pair") << utf8 << Encoding::Utf8 << 5 << 5;
        QTest::newRow("UTF-8 end") << utf8 << Encoding::Utf8 << 6 << 6;
    }
    void positionConversion() {
        QFETCH(QByteArray, text);
        QFETCH(Encoding, encoding);
        QFETCH(int, qt);
        QFETCH(int, crlf);
        SectionEditor ed(0);
        ed.SetBytes(text.toStdString(), encoding);
        QCOMPARE(ed.ToCrLf(qt), crlf);
        QCOMPARE(ed.FromCrLf(crlf), qt);
        ed.SetCaretPos(crlf);
        QCOMPARE(ed.textCursor().position(), qt);
        QCOMPARE(ed.CaretPos(), crlf);
    }

    void positionsInsideOrBeyondTheText() {
        SectionEditor ed(0);
        ed.SetBytes("ab\r\ncd", kCp1252);
        QCOMPARE(ed.FromCrLf(3), 2);  // between CR and LF: end of the line
        QCOMPARE(ed.FromCrLf(100), 5);
        QCOMPARE(ed.FromCrLf(-1), 0);
        QCOMPARE(ed.ToCrLf(100), 6);
        SectionEditor empty(1);
        QCOMPARE(empty.FromCrLf(0), 0);
        QCOMPARE(empty.ToCrLf(0), 0);
    }

    void selectionAcrossBreaks_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("length");
        QTest::newRow("within a line") << 1 << 2;
        QTest::newRow("across one break") << 2 << 5;
        QTest::newRow("across an empty line") << 3 << 7;
        QTest::newRow("whole text") << 0 << 14;
        QTest::newRow("empty at end") << 14 << 0;
    }
    void selectionAcrossBreaks() {
        QFETCH(int, start);
        QFETCH(int, length);
        SectionEditor ed(0);
        const std::string text = "abcd\r\nef\r\n\r\ngh";
        ed.SetBytes(text, kCp1252);
        ed.Select(start, length);
        QCOMPARE(ed.SelStart(), start);
        QCOMPARE(ed.SelLength(), length);
        QCOMPARE(ed.CaretPos(), start + length);
        // The selection is the same text a search found in the bytes.
        const QString selected = ed.textCursor().selectedText();
        QCOMPARE(QByteArray::fromStdString(SectionEditor::BytesFromText(selected, kCp1252)),
                 QByteArray::fromStdString(text.substr(static_cast<std::size_t>(start),
                                                       static_cast<std::size_t>(length))));
    }

    // A selection in characters and in bytes is the same stretch of text.
    void selectionInBytes() {
        SectionEditor ed(0);
        // "Łódź\r\n😀 日"
        const std::string text =
            "\xc5\x81\xc3\xb3"
            "d\xc5\xba\r\n\xf0\x9f\x98\x80 \xe6\x97\xa5";
        ed.SetBytes(text, Encoding::Utf8);
        ed.Select(3, 4);  // "ź", the break and "😀"
        QCOMPARE(ed.ByteSelection(), (velloran::Selection{5, 8}));
        QCOMPARE(ed.textCursor().selectedText(), QStringLiteral(u"\u017a\u2029\U0001F600"));
        ed.SelectBytes({13, 4});
        QCOMPARE(ed.SelStart(), 7);
        QCOMPARE(ed.SelLength(), 2);
        QCOMPARE(ed.textCursor().selectedText(), QStringLiteral(u" \u65e5"));
    }

    // A run without blanks too long for word wrap, however it comes in, makes the editor wrap
    // anywhere, which lays it out in linear time: word wrap would take minutes over a few
    // megabytes. Prose keeps word wrap, and a new fill decides again.
    void longRunsWrapAnywhere_data() {
        QTest::addColumn<QByteArray>("filled");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<bool>("anywhere");
        const QByteArray word(20000, 'w');
        QByteArray prose;
        for (int i = 0; i < 4000; ++i) {
            prose += "words of a long paragraph ";
        }
        QTest::newRow("prose") << prose << QString() << false;
        QTest::newRow("one long word") << "title\r\n" + word << QString() << true;
        QTest::newRow("long word after a tab") << "\t" + word + "\r\n" << QString() << true;
        QTest::newRow("pasted long word") << prose << QString(word) << true;
        QTest::newRow("paste joins two halves")
            << "a " + word.left(10000) + "|" + word.left(10000) + " z" << QStringLiteral("xx")
            << true;
        QTest::newRow("paste beside a short word")
            << QByteArray("ab cd") << QString(word.left(100)) << false;
    }
    void longRunsWrapAnywhere() {
        QFETCH(QByteArray, filled);
        QFETCH(QString, pasted);
        QFETCH(bool, anywhere);
        SectionEditor ed(0);
        ed.SetBytes(filled.toStdString(), kCp1252);
        if (!pasted.isEmpty()) {
            // Over the "|" when there is one, else at the end.
            QTextCursor c = ed.document()->find(QStringLiteral("|"));
            if (c.isNull()) {
                c = ed.textCursor();
                c.movePosition(QTextCursor::End);
            }
            ed.setTextCursor(c);
            QGuiApplication::clipboard()->setText(pasted);
            ed.paste();
        }
        QCOMPARE(ed.wordWrapMode() == QTextOption::WrapAnywhere, anywhere);
        ed.SetBytes("short words", kCp1252);
        QCOMPARE(ed.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    }

    // The bytes a search scans follow every kind of change the user or the program makes, in a
    // long seeded run of them, and always equal the editor's text read whole.
    void byteViewFollowsEveryChange_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("from lines of every byte")
            << QByteArray::fromStdString("one\r\n" + AllLineBytes() + "\r\n\r\nlast") << kCp1252
            << 1u;
        QTest::newRow("from lone breaks") << QByteArray("a\rb\nc\r\n\n\rd") << kCp1252 << 2u;
        QTest::newRow("from nothing") << QByteArray() << kCp1252 << 3u;
        QByteArray utf8;
        for (int i = 0; i < 900; ++i) {
            utf8 += i % 9 == 8 ? "\r\n" : "w\xc3\xb6rd \xe6\x97\xa5\xf0\x9f\x98\x80 ";
        }
        QTest::newRow("from a long UTF-8 text") << utf8 << Encoding::Utf8 << 4u;
        QTest::newRow("from nothing in UTF-8") << QByteArray() << Encoding::Utf8 << 5u;
    }
    void byteViewFollowsEveryChange() {
        QFETCH(QByteArray, start);
        QFETCH(Encoding, encoding);
        QFETCH(unsigned, seed);
        SectionEditor ed(0);
        ed.SetBytes(start.toStdString(), encoding);
        QCOMPARE(Show(std::string(ed.ByteView())), Show(ed.Bytes()));
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return n <= 0 ? 0 : static_cast<int>(rng() % (unsigned(n) + 1)); };
        QStringList done;
        for (int step = 0; step < 400; ++step) {
            const int length = ed.document()->characterCount() - 1;
            QTextCursor c = ed.textCursor();
            c.setPosition(pick(length));
            c.setPosition(pick(length), QTextCursor::KeepAnchor);
            ed.setTextCursor(c);
            switch (rng() % 10) {
                case 0:
                    done << "type";
                    QTest::keyClicks(&ed, "xY ");
                    Type(&ed, QStringLiteral(u"\u00e9\u20ac\u0142\U0001F600"));
                    break;
                case 1:
                    done << "return";
                    QTest::keyClick(&ed, Qt::Key_Return);
                    break;
                case 2:
                    done << "backspace";
                    QTest::keyClick(&ed, Qt::Key_Backspace);
                    break;
                case 3:
                    done << "delete";
                    QTest::keyClick(&ed, Qt::Key_Delete);
                    break;
                case 4:
                    done << "insert lines";
                    ed.insertPlainText(QStringLiteral("p\nq\r\nr\u2029"));
                    break;
                case 5:
                    done << "cut and paste";
                    ed.cut();
                    ed.moveCursor(QTextCursor::End);
                    ed.paste();
                    break;
                case 6:
                    done << "undo";
                    ed.undo();
                    break;
                case 7:
                    done << "redo";
                    ed.redo();
                    break;
                case 8:
                    done << "shift+enter";
                    QTest::keyClick(&ed, Qt::Key_Return, Qt::ShiftModifier);
                    break;
                default:
                    done << (rng() % 2 ? "clear" : "whole new text");
                    if (done.last() == "clear") {
                        ed.clear();
                    } else {
                        ed.setPlainText(QStringLiteral("new\nlines"));
                    }
                    break;
            }
            if (std::string(ed.ByteView()) != ed.Bytes()) {
                QFAIL(qPrintable("out of step after: " + done.join(", ")));
            }
        }
    }

  private:
    QTemporaryDir config_;
};

QTEST_MAIN(SectionEditorTest)
#include "section_editor_test.moc"
