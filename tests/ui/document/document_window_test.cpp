#include <QClipboard>
#include <QFile>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/commands/Saving.h"
#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/tools/Search.h"
#include "core/tools/Statistics.h"
#include "ui/document/DocumentWindow.h"

using velloran::state;

Q_DECLARE_METATYPE(std::function<void(SectionEditor*)>)

namespace {

QRect Bounds(const DocumentWindow& form, int k) {
    return form.SectionEditors(k)->geometry();
}

// The editors that would be on screen with the window shown, by index.
QList<int> Shown(const DocumentWindow& form) {
    QList<int> shown;
    for (int k = 0; k < velloran::kSectionCount; ++k) {
        if (!form.SectionEditors(k)->isHidden()) {
            shown << k;
        }
    }
    return shown;
}

void ShowAt(DocumentWindow& form, QSize client) {
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(client);
    QTRY_COMPARE(form.size(), client);
}

// Five sections, each titled by its first line.
void Split(DocumentWindow& form) {
    velloran::PlainList list;
    velloran::CallbackDialogs dialogs;
    velloran::Session session{state(), form, list, form.Memo1, dialogs};
    form.Memo1.AssignText(
        "Preamble\r\n[S] One\r\n[S] Two\r\n[S] Three\r\n[S] Four\r\n[S] Five\r\n");
    velloran::SplitSections(session);
}

// The same document in two document windows: in the lazy one editors are filled only as their
// sections are shown; in the other every editor is filled at once, which is what any reader of
// the sections must not be able to tell apart. Each window has a run state of its own.
struct Side {
    explicit Side(const std::string& folder) : folder(folder) { st.FileName = folder + "/doc.vlp"; }
    // Runs f with this side's run state in force.
    template <typename F>
    auto On(F&& f) {
        std::swap(state(), st);
        struct Back {
            Side* side;
            ~Back() { std::swap(state(), side->st); }
        } back{this};
        return f();
    }
    void Split(const std::string& text) {
        On([&] {
            form.Memo1.AssignText(text);
            velloran::SplitSections(session);
        });
    }
    std::string folder;
    velloran::State st;
    DocumentWindow form;
    velloran::PlainList list;
    velloran::CallbackDialogs dialogs;
    velloran::Session session{state(), form, list, form.Memo1, dialogs};
};

struct LazyAndFilled {
    explicit LazyAndFilled(const std::string& text) {
        for (Side* side : {&lazy, &full}) {
            side->Split(text);
        }
        for (int k = 0; k < velloran::kSectionCount; ++k) {
            full.form.SectionEditors(k);
        }
    }
    // Runs f on both sides and gives both results, the lazy side's first.
    template <typename F>
    auto Both(F&& f) {
        auto a = lazy.On([&] { return f(lazy); });
        auto b = full.On([&] { return f(full); });
        return std::pair(a, b);
    }
    // The sections of the lazy side whose editors were filled.
    QList<int> Filled() const {
        QList<int> filled;
        for (int k = 0; k <= lazy.st.LastSection; ++k) {
            if (lazy.form.IsFilled(k)) {
                filled << k;
            }
        }
        return filled;
    }
    QTemporaryDir lazyDir;
    QTemporaryDir fullDir;
    Side lazy{lazyDir.path().toStdString()};
    Side full{fullDir.path().toStdString()};
};

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(none)");
}

void AddDocuments() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("lines with CR LF") << QByteArray(
        "Intro the\r\n[S] One\r\nthe first the\r\n[S] Two\r\n\xe9t\xe9 THE end\r\n"
        "[S] Three\r\nlast\r\n[S] Four\r\n");
    QTest::newRow("lone breaks, a NUL and no final break") << [] {
        static const char kText[] =
            "Intro\n[S] One\rthe\0x\r\n[S] Two\nthe end\r\n[S] Three\n\n[S] Four";
        return QByteArray(kText, sizeof kText - 1);
    }();
    QTest::newRow("a marker first") << QByteArray("[S] Only the\r\nline\r\n[S] Two\r\n");
}

}  // namespace

class DocumentWindowTest : public QObject {
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
        DocumentWindow form;
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
        DocumentWindow form;
        const QPalette pal = form.SectionEditors(k)->palette();
        QCOMPARE(pal.color(QPalette::Active, QPalette::Base), color);
        QCOMPARE(pal.color(QPalette::Inactive, QPalette::Base), color);
    }

    void slotsAndModified() {
        DocumentWindow form;
        Split(form);
        QCOMPARE(state().LastSection, 5);
        QCOMPARE(state().Modified, false);
        QCOMPARE(form.SlotText(0), std::string("Preamble\r\n"));
        QCOMPARE(form.SlotText(3), std::string("[S] Three\r\n"));
        QVERIFY(!form.SectionEditors(3)->document()->isUndoAvailable());

        form.SelectSection(3);
        form.show();
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
        DocumentWindow form;
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
        DocumentWindow form;
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
        DocumentWindow form;
        form.resize(400, 301);
        state().PanelMode = 2;
        form.LayoutPanels();
        QCOMPARE(Shown(form), QList<int>{0});
        QCOMPARE(Bounds(form, 0), QRect(0, 150, 400, 145));
    }

    void captionIsFirstLineOfFirstPane() {
        DocumentWindow form;
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
        DocumentWindow form;
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
        DocumentWindow form;
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
        DocumentWindow form;
        Split(form);
        form.SelectSection(1);
        form.show();
        QTest::keyClicks(form.SectionEditors(1), "ab");
        QCOMPARE(form.SlotText(1), std::string("ab[S] One\r\n"));
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
        DocumentWindow form;
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
        DocumentWindow form;
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
        DocumentWindow form;
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
        form.SelectSection(3);
        form.show();
        QTest::keyClick(form.SectionEditors(3), 'Z', Qt::ShiftModifier);
        // QTest presses Shift on its own first.
        QCOMPARE(down.size(), 2);
        QCOMPARE(down.last(), QStringLiteral("%1 1 3 [S] Three").arg(Qt::Key_Z));
        QVERIFY(up.contains(Qt::Key_Z));
        QCOMPARE(form.SlotText(3), std::string("Z[S] Three\r\n"));
    }

    void startShowsOnlySectionZero_data() { AddDocuments(); }
    void startShowsOnlySectionZero() {
        QFETCH(QByteArray, text);
        LazyAndFilled w(text.toStdString());
        QCOMPARE(w.Filled(), QList<int>{0});
        for (int k = 0; k < velloran::kSectionCount; ++k) {
            QCOMPARE(w.lazy.form.SlotText(k), w.full.form.SlotText(k));
        }
    }

    // Search All and the statistics read sections whose editors were never filled.
    void searchAllAndStatistics_data() { AddDocuments(); }
    void searchAllAndStatistics() {
        QFETCH(QByteArray, text);
        LazyAndFilled w(text.toStdString());
        const auto rows = w.Both([](Side& s) {
            return velloran::SearchAllRows(s.form, s.list, "the",
                                           velloran::state().DocumentEncoding);
        });
        QCOMPARE(rows.first, rows.second);
        const auto report = w.Both([](Side& s) {
            return velloran::BuildStatistics(s.form, velloran::state().LastSection,
                                             velloran::state().DocumentEncoding);
        });
        QCOMPARE(report.first, report.second);
        QCOMPARE(w.Filled(), QList<int>{0});
    }

    // Only some editors were ever shown, and one was edited: the saved file and its backup
    // copy are the same bytes.
    void saveWithSomeSectionsNeverShown_data() { AddDocuments(); }
    void saveWithSomeSectionsNeverShown() {
        QFETCH(QByteArray, text);
        LazyAndFilled w(text.toStdString());
        const auto saved = w.Both([](Side& s) {
            s.form.SelectSection(2);
            QTest::keyClicks(s.form.SectionEditors(2), "typed ");
            velloran::state().BackupCurr = true;
            velloran::SaveDocument(s.session);
            return std::pair(ReadFile(s.st.FileName), ReadFile(s.folder + "/doc-copy.vlp"));
        });
        // The state is swapped back after each side: the files are read from the run state's
        // own names, which only differ in their folders.
        QCOMPARE(saved.first, saved.second);
        QCOMPARE(w.Filled(), (QList<int>{0, 2}));
    }

    void reloadWithSectionsNeverShown_data() { AddDocuments(); }
    void reloadWithSectionsNeverShown() {
        QFETCH(QByteArray, text);
        LazyAndFilled w(text.toStdString());
        const auto reloaded = w.Both([](Side& s) {
            s.form.SectionEditors(0)->moveCursor(QTextCursor::End);
            QTest::keyClicks(s.form.SectionEditors(0), "[S] Typed title");
            velloran::ReloadSections(s.session);
            std::vector<std::string> texts;
            for (int k = 0; k < velloran::kSectionCount; ++k) {
                texts.push_back(s.form.SlotText(k));
            }
            return std::tuple(texts, s.list.titles, velloran::state().LastSection,
                              velloran::state().Modified);
        });
        QCOMPARE(reloaded.first, reloaded.second);
    }

    // The format reaches an editor that is filled after it was applied.
    void wordWrapThenANeverShownSection() {
        LazyAndFilled w("a\r\n[S] One " + std::string(300, 'w') + "\r\n[S] Two\r\n");
        const auto shown = w.Both([](Side& s) {
            velloran::state().WordWrap = false;
            velloran::state().FontFace = "Times New Roman";
            s.form.ApplyFormat();
            velloran::state().Modified = false;
            s.form.SelectSection(1);
            SectionEditor* ed = s.form.SectionEditors(1);
            return std::tuple(ed->lineWrapMode(), ed->font().family(),
                              ed->horizontalScrollBarPolicy(), ed->Bytes(),
                              velloran::state().Modified);
        });
        QCOMPARE(shown.first, shown.second);
        QCOMPARE(std::get<0>(shown.first), QPlainTextEdit::NoWrap);
    }

    // After a split into fewer sections a higher slot keeps its earlier text, filled or not.
    void fewerSectionsThenAHighSection() {
        LazyAndFilled w("a\r\n[S] One\r\n[S] Two\r\n[S] Three\r\nthree's text\r\n");
        const auto high = w.Both([](Side& s) {
            s.Split("b\r\n[S] Uno\r\n");
            s.form.SelectSection(3);
            return std::tuple(s.form.windowTitle(), s.form.SectionEditors(3)->Bytes(),
                              s.form.SlotText(1), velloran::state().LastSection);
        });
        QCOMPARE(high.first, high.second);
        QCOMPARE(std::get<0>(high.first), QStringLiteral("[S] Three"));
    }

    // The first showing of a section is no edit, and its undo, caret and scroll start there.
    void fillingIsNoEdit() {
        LazyAndFilled w("a\r\n[S] One\r\nline\r\n[S] Two\r\n");
        w.lazy.On([&] {
            w.lazy.form.show();  // keys reach only an editor on screen
            QTest::keyClicks(w.lazy.form.SectionEditors(0), "x");
            QVERIFY(state().Modified);
            w.lazy.form.SelectSection(1);
            QVERIFY(state().Modified);
            state().Modified = false;
            w.lazy.form.SelectSection(2);
            QVERIFY(!state().Modified);
            SectionEditor* ed = w.lazy.form.SectionEditors(2);
            QVERIFY(!ed->document()->isUndoAvailable());
            QCOMPARE(ed->CaretPos(), 0);
            QCOMPARE(ed->verticalScrollBar()->value(), 0);
        });
    }

    // A new split empties the filled editors no pane shows; they take their new text when
    // shown again.
    void splitEmptiesHiddenEditors() {
        LazyAndFilled w("a\r\n[S] One\r\n[S] Two\r\n");
        w.lazy.On([&] {
            w.lazy.form.SelectSection(1);
            w.lazy.form.SelectSection(2);
        });
        QCOMPARE(w.Filled(), (QList<int>{0, 1, 2}));
        w.lazy.Split("b\r\n[S] Uno\r\n[S] Dos\r\n");
        QCOMPARE(w.Filled(), QList<int>{2});  // still on screen
        auto* hidden = w.lazy.form.findChild<SectionEditor*>(QStringLiteral("SectionEditor1"));
        QVERIFY(hidden->document()->isEmpty());
        QCOMPARE(w.lazy.form.SlotText(1), std::string("[S] Uno\r\n"));
        QCOMPARE(w.lazy.form.SectionEditors(2)->Bytes(), std::string("[S] Dos\r\n"));
        w.lazy.On([&] { w.lazy.form.SelectSection(1); });
        QCOMPARE(hidden->Bytes(), std::string("[S] Uno\r\n"));
    }

    // However input reaches an editor, one that the layout hid takes none of it; the same
    // input changes the editor shown.
    void hiddenEditorsTakeNoInput_data() {
        QTest::addColumn<std::function<void(SectionEditor*)>>("input");
        QTest::newRow("key") << std::function<void(SectionEditor*)>(
            [](SectionEditor* ed) { QTest::keyClick(ed, Qt::Key_X); });
        QTest::newRow("paste key") << std::function<void(SectionEditor*)>([](SectionEditor* ed) {
            QGuiApplication::clipboard()->setText("x");
            QTest::keyClick(ed, Qt::Key_V, Qt::ControlModifier);
        });
        QTest::newRow("undo key") << std::function<void(SectionEditor*)>(
            [](SectionEditor* ed) { QTest::keyClick(ed, Qt::Key_Z, Qt::ControlModifier); });
        QTest::newRow("input method") << std::function<void(SectionEditor*)>([](SectionEditor* ed) {
            QInputMethodEvent im;
            im.setCommitString("x");
            QApplication::sendEvent(ed, &im);
        });
        QTest::newRow("paste") << std::function<void(SectionEditor*)>([](SectionEditor* ed) {
            QGuiApplication::clipboard()->setText("x");
            ed->paste();
        });
        QTest::newRow("drop") << std::function<void(SectionEditor*)>([](SectionEditor* ed) {
            QMimeData data;
            data.setText("x");
            QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(ed->viewport(), &enter);
            QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(ed->viewport(), &drop);
        });
    }
    void hiddenEditorsTakeNoInput() {
        QFETCH(std::function<void(SectionEditor*)>, input);
        DocumentWindow form;
        Split(form);
        form.SelectSection(2);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // An edit to undo in each, made before the layout hid one of them.
        for (int k : {1, 2}) {
            form.SectionEditors(k)->insertPlainText("typed ");
        }
        form.SelectSection(1);
        QVERIFY(!form.SectionEditors(2)->isVisible());
        state().Modified = false;
        input(form.SectionEditors(2));
        QCOMPARE(form.SlotText(2), std::string("typed [S] Two\r\n"));
        QVERIFY(!state().Modified);
        input(form.SectionEditors(1));
        QVERIFY(form.SlotText(1) != "typed [S] One\r\n");
        QVERIFY(state().Modified);
    }

  private:
    QTemporaryDir config_;
};

QTEST_MAIN(DocumentWindowTest)
#include "document_window_test.moc"
