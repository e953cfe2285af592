// Spelling in the windows, with the small dictionaries shipped beside the tests: marking as the
// writer types, the editor's menu, the personal dictionary across runs, the Spelling menu.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <string>

#include "core/document/State.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/PersonalDictionary.h"
#include "core/spelling/SpellingService.h"
#include "settings/SpellingSettings.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/SectionEditor.h"

using velloran::state;
using velloran::testing::ReadBytes;
using velloran::testing::TempDir;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

const QByteArray kDictionaries = VELLORAN_TEST_DICTIONARIES;

velloran::spelling::Dictionary Named(const std::string& name) {
    return *velloran::spelling::ChooseDictionary(
        velloran::spelling::FindDictionaries({kDictionaries.toStdString()}), name, "");
}

QStringList Words(const char* a, const char* b = nullptr) {
    QStringList out{QString::fromUtf8(a)};
    if (b) {
        out.append(QString::fromUtf8(b));
    }
    return out;
}

// The point of the viewport at the middle of the character at Qt position at.
QPoint PointAt(SectionEditor* ed, int at) {
    QTextCursor c(ed->document());
    c.setPosition(at);
    return ed->cursorRect(c).center() + QPoint(3, 0);
}

QAction* Named(QMenu* menu, const QString& objectName, const QString& text = {}) {
    for (QAction* a : menu->actions()) {
        if (a->objectName() == objectName && (text.isEmpty() || a->text() == text)) {
            return a;
        }
    }
    return nullptr;
}

}  // namespace

class SpellingTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempDir> home_;
    std::unique_ptr<DocumentWindow> form_;

    SectionEditor* Shown(const std::string& bytes, velloran::Encoding encoding,
                         const char* dictionary = "en_TEST") {
        form_ = std::make_unique<DocumentWindow>();
        form_->UseSpelling(Named(dictionary), velloran::spelling::PersonalDictionaryPath());
        SectionEditor* ed = form_->SectionEditors(0);
        ed->SetBytes(bytes, encoding);
        form_->show();
        ed->setFocus();
        return ed;
    }

  private slots:
    void init() {
        home_ = std::make_unique<TempDir>();
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home_->path() + "/data"));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home_->path() + "/config"));
        qputenv("DICPATH", kDictionaries);
        velloran::ResetState();
    }
    void cleanup() { form_.reset(); }

    // A keystroke in a line with marks paints that line, not the screen: marks live beside the
    // text, and a change of them is no change of the block for Qt's layout.
    void aKeystrokeRepaintsItsLineOnly() {
        std::string text;
        for (int i = 0; i < 30; ++i) {
            text += "Teh quick brwn fox\r\n";
        }
        SectionEditor* ed = Shown(text, velloran::Encoding::Utf8);
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QTRY_COMPARE(ed->MarkedWords().size(), 60);
        struct Painted : QObject {
            qint64 pixels = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    const QRect r = static_cast<QPaintEvent*>(e)->region().boundingRect();
                    pixels += qint64(r.width()) * r.height();
                }
                return false;
            }
        } painted;
        ed->viewport()->installEventFilter(&painted);
        QTextCursor c = ed->textCursor();
        c.setPosition(4 * 20 + 4);  // before "quick" of the fifth line, marks after it
        ed->setTextCursor(c);
        QApplication::processEvents();
        painted.pixels = 0;
        QTest::keyClicks(ed, "very ");
        QTRY_COMPARE(ed->MarkedWords().size(), 60);
        QApplication::processEvents();
        const qint64 screen = qint64(ed->viewport()->width()) * ed->viewport()->height();
        QVERIFY2(painted.pixels < screen, qPrintable(QString::number(painted.pixels)));
    }

    void typedWordsAreMarkedOnceTheCaretLeavesThem() {
        SectionEditor* ed = Shown("", velloran::Encoding::Utf8);
        QTest::keyClicks(ed, "Teh quick brwn");
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh"));
        QTest::keyClicks(ed, " fox");
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh", "brwn"));
        // Back into a marked word and typing in it: not marked while it is typed.
        QTest::keyClick(ed, Qt::Key_Home);
        QTest::keyClick(ed, Qt::Key_Right);
        QTest::keyClicks(ed, "x");
        QTRY_COMPARE(ed->MarkedWords(), Words("brwn"));
        QTest::keyClick(ed, Qt::Key_End);
        QTRY_COMPARE(ed->MarkedWords(), Words("Txeh", "brwn"));
    }

    // Each edit, at the caret or away from it, on one line or across lines, leaves marks on the
    // words as they now are; the caret then goes to the end, past any word being typed.
    void marksFollowEdits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("keys");   // '\n' Return, '\b' Backspace
        QTest::addColumn<int>("elsewhere");  // where "x" goes in by a cursor of its own, or -1
        QTest::addColumn<QStringList>("marked");
        QTest::newRow("typed before marks of the line")
            << "Teh quick brwn fox" << 0 << "A " << -1 << Words("Teh", "brwn");
        QTest::newRow("marked word cut in two") << "Teh quick brwn fox" << 12 << "\n"
                                                << -1 << QStringList{"Teh", "br", "wn"};
        QTest::newRow("lines joined") << "Teh\nbrwn fox" << 4 << "\b" << -1 << Words("Tehbrwn");
        QTest::newRow("lines typed")
            << "quick brwn" << 6 << "Teh\nfox " << -1 << Words("Teh", "brwn");
        QTest::newRow("line away from the caret")
            << "Teh quick\nbrwn fox" << 3 << "" << 10 << Words("Teh", "xbrwn");
        QTest::newRow("mark mended away from the caret")
            << "quick fo\nbrwn" << 12 << "" << 8 << Words("brwn");
    }
    void marksFollowEdits() {
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(QString, keys);
        QFETCH(int, elsewhere);
        QFETCH(QStringList, marked);
        SectionEditor* ed =
            Shown(text.replace("\n", "\r\n").toStdString(), velloran::Encoding::Utf8);
        QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
        QTRY_VERIFY(!ed->MarkedWords().isEmpty());
        QTextCursor c = ed->textCursor();
        c.setPosition(caret);
        ed->setTextCursor(c);
        for (QChar k : keys) {
            if (k == '\n') {
                QTest::keyClick(ed, Qt::Key_Return);
            } else if (k == '\b') {
                QTest::keyClick(ed, Qt::Key_Backspace);
            } else {
                QTest::keyClicks(ed, QString(k));
            }
        }
        if (elsewhere >= 0) {
            QTextCursor other(ed->document());
            other.setPosition(elsewhere);
            other.insertText("x");
        }
        QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
        QTRY_COMPARE(ed->MarkedWords(), marked);
    }

    void markingChangesNothingOfTheText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::newRow("utf8") << QByteArray("[S] Chapter one\r\nTeh caf\xC3\xA9 brwn\r\n")
                              << int(velloran::Encoding::Utf8);
        QTest::newRow("windows1252") << QByteArray("[S] Chapter one\r\nTeh caf\xE9 brwn\r\n")
                                     << int(velloran::Encoding::Windows1252);
    }
    void markingChangesNothingOfTheText() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        SectionEditor* ed = Shown(bytes.toStdString(), velloran::Encoding(encoding));
        state().Modified = false;  // filled by hand here, not by a split
        QSignalSpy changes(ed->document(), &QTextDocument::contentsChange);
        ed->SetCaretPos(5);
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh", "brwn"));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(ed->Bytes(), bytes.toStdString());
        QVERIFY(!ed->document()->isUndoAvailable());
        QVERIFY(!state().Modified);
        QCOMPARE(ed->CaretPos(), 5);
    }

    void suggestionReplacesAsOneUndoStep() {
        SectionEditor* ed = Shown("Teh quick brwn fox", velloran::Encoding::Utf8);
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh", "brwn"));
        std::unique_ptr<QMenu> menu(ed->CreateContextMenu(PointAt(ed, 11)));
        QAction* brown = Named(menu.get(), "SpellSuggestion", "brown");
        QVERIFY(brown);
        // The editor's own entries stay.
        QVERIFY(menu->actions().size() > 5);
        brown->trigger();
        QCOMPARE(ed->Bytes(), std::string("Teh quick brown fox"));
        QVERIFY(state().Modified);
        menu.reset(ed->CreateContextMenu(PointAt(ed, 1)));
        QCOMPARE(Named(menu.get(), "SpellSuggestion")->text(), QString("The"));
        Named(menu.get(), "SpellSuggestion")->trigger();
        QCOMPARE(ed->Bytes(), std::string("The quick brown fox"));
        ed->undo();
        QCOMPARE(ed->Bytes(), std::string("Teh quick brown fox"));
        ed->undo();
        QCOMPARE(ed->Bytes(), std::string("Teh quick brwn fox"));
    }

    void addedWordsStayAcrossRunsAndIgnoredOnesForTheRun() {
        SectionEditor* ed = Shown("Teh quick brwn fox", velloran::Encoding::Utf8);
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh", "brwn"));
        std::unique_ptr<QMenu> menu(ed->CreateContextMenu(PointAt(ed, 11)));
        Named(menu.get(), "SpellAddToDictionary")->trigger();
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh"));
        menu.reset(ed->CreateContextMenu(PointAt(ed, 1)));
        Named(menu.get(), "SpellIgnore")->trigger();
        QTRY_COMPARE(ed->MarkedWords(), QStringList());
        QCOMPARE(ReadBytes(velloran::spelling::PersonalDictionaryPath()), std::string("brwn\n"));

        // The next run: the word added is still known, the one ignored is marked again.
        menu.reset();
        ed = Shown("Teh quick brwn fox", velloran::Encoding::Utf8);
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh"));
    }

    void menuSwitchesLanguageAndLeavesTheSettingsFile() {
        WorkFolder work;
        WriteBytes(home_->path() + "/config/QMV.ini", "[Velloran]\r\nLeft=10\r\n");
        const std::string before = ReadBytes(home_->path() + "/config/QMV.ini");
        WriteBytes("doc.vlp", "Teh quick brwn fox\r\n");
        qputenv("LANG", "en_TEST.UTF-8");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        auto forms = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms->Show();
        SectionListWindow& sectionListWindow = *forms->sectionListWindow;
        SectionEditor* ed = forms->documentWindow->SectionEditors(0);
        QTRY_COMPARE(ed->MarkedWords(), Words("Teh", "brwn"));
        QVERIFY(sectionListWindow.MVCheckSpelling->isEnabled());
        QVERIFY(sectionListWindow.MVCheckSpelling->isChecked());
        auto* fr = sectionListWindow.findChild<QAction*>("MVSpellingLanguage_fr_TEST");
        QVERIFY(fr);
        fr->trigger();
        QTRY_COMPARE(ed->MarkedWords(), QStringList());
        QCOMPARE(velloran::LoadSpellingSettings().Language, std::string("fr_TEST"));
        sectionListWindow.MVCheckSpelling->trigger();
        QVERIFY(!forms->documentWindow->Spelling());
        QCOMPARE(velloran::LoadSpellingSettings().Check, false);
        QCOMPARE(ReadBytes(home_->path() + "/config/QMV.ini"), before);
        forms.reset();
    }

    void withoutDictionariesTheItemSaysWhy() {
        WorkFolder work;
        TempDir none;
        qputenv("DICPATH", QByteArray::fromStdString(none.path()));
        WriteBytes("doc.vlp", "Teh\r\n");
        auto forms = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms->Show();
        QTRY_VERIFY(forms->sectionListWindow->Count() > 0);
        QVERIFY(!forms->sectionListWindow->MVCheckSpelling->isEnabled());
        QVERIFY(forms->sectionListWindow->MVCheckSpelling->toolTip().contains("hunspell"));
        QVERIFY(!forms->documentWindow->Spelling());
        QVERIFY(!velloran::spelling::FindDictionaries({none.path()}).size());
        forms.reset();
    }
};

QTEST_MAIN(SpellingTest)
#include "spelling_test.moc"
