// Every way a layout can hide the editor that holds the keyboard focus, under a real window
// manager: what is typed afterwards never reaches a hidden section, and a save writes every
// hidden section as it was.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <string>
#include <vector>

#include "core/document/State.h"
#include "support/Display.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/document/SectionEditor.h"

using velloran::state;
using velloran::testing::Activate;
using velloran::testing::ClickInto;
using velloran::testing::ModalScript;
using velloran::testing::Press;
using velloran::testing::ReadBytes;
using velloran::testing::Type;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

// Section 0 is longer than a screen, so that Shift+Page Down selects a page of it.
std::string Document() {
    std::string text = "Preamble\r\n";
    for (int i = 1; i <= 120; ++i) {
        text += "preamble line " + std::to_string(i) + " with some words in it\r\n";
    }
    text += "[S] One\r\none body\r\n[S] Two\r\ntwo body\r\n[S] Three\r\nthree body\r\n";
    return text;
}

// A document's sections, cut before each marker line.
std::vector<std::string> Sections(const std::string& bytes) {
    std::vector<std::string> sections(1);
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t end = bytes.find("\r\n", from);
        end = end == std::string::npos ? bytes.size() : end + 2;
        if (bytes.compare(from, 3, "[S]") == 0) {
            sections.emplace_back();
        }
        sections.back() += bytes.substr(from, end - from);
        from = end;
    }
    return sections;
}

}  // namespace

class FocusTest : public QObject {
    Q_OBJECT

  public:
    // The ways in: each leaves the focus where the layout left it.
    enum Way {
        ShiftPageDown,
        ShiftPageUp,
        ShiftPageDownInSecondPane,
        F5FromSecondPane,
        ListClick,
        ListClickInTwoPanes,
        SearchResultClick,
        Reload,
        Decript,
    };
    Q_ENUM(Way)

  private:
    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    SectionEditor* Editor(int k) { return documentWindow().SectionEditors(k); }

    void Start() {
        WriteBytes("doc.vlp", Document());
        forms_ = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms_->Show();
        QVERIFY(QTest::qWaitForWindowExposed(&sectionListWindow()));
        QVERIFY(QTest::qWaitForWindowExposed(&documentWindow()));
    }

    void ClickListRow(QListWidget* list, int row) {
        QVERIFY(ClickInto(list->viewport(), list->visualItemRect(list->item(row)).center()));
    }
    // Into the editor, the caret at the end of its text.
    void ClickIntoEditor(int k) {
        QVERIFY(Editor(k)->isVisible());
        QVERIFY(ClickInto(Editor(k)->viewport()));
        QTRY_COMPARE(QApplication::focusWidget(), Editor(k));
        Press(Qt::Key_End, Qt::ControlModifier);
    }
    // A menu command of the list window.
    void Menu(QAction* action) {
        QVERIFY(Activate(&sectionListWindow()));
        action->trigger();
    }

    void Hide(Way way) {
        switch (way) {
            case ShiftPageDown:
                ClickIntoEditor(0);
                Press(Qt::Key_Home, Qt::ControlModifier);
                Press(Qt::Key_PageDown, Qt::ShiftModifier);
                QCOMPARE(state().Panel1Section, 1);
                break;
            case ShiftPageUp:
                ClickListRow(sectionListWindow().ListBox1, 2);
                ClickIntoEditor(2);
                Press(Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
                Press(Qt::Key_PageUp, Qt::ShiftModifier);
                QCOMPARE(state().Panel1Section, 1);
                break;
            case ShiftPageDownInSecondPane:
                ClickListRow(sectionListWindow().ListBox1, 1);
                Menu(sectionListWindow().N2HPanel1);  // section 1 on top, section 0 below
                ClickIntoEditor(0);
                Press(Qt::Key_A, Qt::ControlModifier);
                Press(Qt::Key_PageDown, Qt::ShiftModifier);
                QCOMPARE(state().Panel2Section, 2);
                break;
            case F5FromSecondPane:
                ClickListRow(sectionListWindow().ListBox1, 2);
                Menu(sectionListWindow().N2HPanel1);
                ClickIntoEditor(0);
                Press(Qt::Key_A, Qt::ControlModifier);
                Press(Qt::Key_F5);
                QCOMPARE(state().PanelMode, 1);
                break;
            case ListClick:
                ClickIntoEditor(0);
                Press(Qt::Key_A, Qt::ControlModifier);
                ClickListRow(sectionListWindow().ListBox1, 2);
                break;
            case ListClickInTwoPanes:
                ClickListRow(sectionListWindow().ListBox1, 1);
                Menu(sectionListWindow()
                         .N2VPanel1);  // section 1 on the left, section 0 on the right
                ClickIntoEditor(0);
                Press(Qt::Key_A, Qt::ControlModifier);
                ClickListRow(sectionListWindow().ListBox1, 3);
                QCOMPARE(state().Panel2Section, 3);
                break;
            case SearchResultClick: {
                ClickIntoEditor(0);
                Press(Qt::Key_A, Qt::ControlModifier);
                Press(Qt::Key_F3);
                SearchWindow& search = *forms_->searchWindow;
                QTRY_VERIFY(search.isActiveWindow());
                search.Edit1->setText("body");
                QVERIFY(ClickInto(search.Button2));
                QCOMPARE(search.ListBox1->count(), 4);
                ClickListRow(search.ListBox1, 2);
                QCOMPARE(state().Panel1Section, 2);
                break;
            }
            case Reload:
                ClickListRow(sectionListWindow().ListBox1, 2);
                ClickIntoEditor(2);
                Press(Qt::Key_A, Qt::ControlModifier);
                Menu(sectionListWindow().MFReload);
                QCOMPARE(state().Panel1Section, 0);
                break;
            case Decript:
                ClickListRow(sectionListWindow().ListBox1, 2);
                ClickIntoEditor(2);
                Press(Qt::Key_A, Qt::ControlModifier);
                // An empty key leaves the text as read; the save then asks again and writes the
                // enciphered name, with a key of one byte that SavedText takes off again.
                script_->Click("TForm7", "Button1", "").Click("TForm7", "Button1", "~");
                Menu(sectionListWindow().MFDecript);
                QCOMPARE(state().Panel1Section, 0);
                break;
        }
    }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;
    std::unique_ptr<ModalScript> script_;

  private slots:
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        script_ = std::make_unique<ModalScript>();
    }

    void cleanup() {
        QVERIFY2(script_->unexpected.isEmpty(), qPrintable(script_->unexpected.join(", ")));
        script_.reset();
        forms_.reset();
        dir_.reset();
    }

    void typingAfterALayoutHidTheFocusedEditorReachesNoHiddenSection_data() {
        QTest::addColumn<Way>("way");
        const QMetaEnum ways = QMetaEnum::fromType<Way>();
        for (int i = 0; i < ways.keyCount(); ++i) {
            QTest::newRow(ways.key(i)) << static_cast<Way>(ways.value(i));
        }
    }
    void typingAfterALayoutHidTheFocusedEditorReachesNoHiddenSection() {
        QFETCH(Way, way);
        Start();
        Hide(way);
        if (QTest::currentTestFailed()) {
            return;
        }
        // Back in the document window, as a user clicks its title bar: the keys stay with the
        // window itself, not with a hidden editor nor with the one shown since.
        QVERIFY(Activate(&documentWindow()));
        const QWidget* focus = QApplication::focusWidget();
        Type("Z");
        Press(Qt::Key_Delete);

        const int shown = state().Panel1Section;
        ClickIntoEditor(shown);
        Type("Y");
        Press(Qt::Key_F1);
        const std::string saved = way == Decript ? "doc.vle" : "doc.vlp";
        const auto savedText = [&] {
            std::string bytes = ReadBytes(saved);
            if (way == Decript) {
                for (char& c : bytes) {
                    if (c != '\r' && c != '\n') {
                        c = static_cast<char>(static_cast<unsigned char>(c) - '~');
                    }
                }
            }
            return bytes;
        };
        QTRY_VERIFY(savedText().find('Y') != std::string::npos);
        QVERIFY(script_->Done());

        const auto before = Sections(Document());
        const auto after = Sections(savedText());
        QCOMPARE(after.size(), before.size());
        for (std::size_t k = 0; k < before.size(); ++k) {
            const std::string expected =
                static_cast<int>(k) == shown ? before[k] + "Y\r\n" : before[k];
            QCOMPARE(after[k], expected);
        }
        QCOMPARE(focus, static_cast<QWidget*>(&documentWindow()));
    }

    // Layouts that keep the focused editor on screen leave the focus, and the typing, there.
    void layoutsThatKeepTheFocusedEditorKeepTheFocus_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("F6") << int(Qt::Key_F6);
        QTest::newRow("F7") << int(Qt::Key_F7);
        QTest::newRow("F5 from the first pane") << int(Qt::Key_F5);
    }
    void layoutsThatKeepTheFocusedEditorKeepTheFocus() {
        QFETCH(int, key);
        Start();
        ClickListRow(sectionListWindow().ListBox1, 1);
        if (key == Qt::Key_F5) {
            Menu(sectionListWindow().N2HPanel1);
        }
        ClickIntoEditor(1);
        Press(static_cast<Qt::Key>(key));
        QCOMPARE(QApplication::focusWidget(), Editor(1));
        Type("Z");
        Press(Qt::Key_F1);
        QTRY_VERIFY(ReadBytes("doc.vlp").find('Z') != std::string::npos);
        auto expected = Sections(Document());
        expected[1] += "Z\r\n";
        QCOMPARE(Sections(ReadBytes("doc.vlp")), expected);
    }

    // The function keys still work while the document window holds the focus itself.
    void functionKeysWorkInTheDocumentWindow() {
        Start();
        ClickIntoEditor(0);
        Press(Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&documentWindow()));
        Press(Qt::Key_F6);
        QCOMPARE(state().PanelMode, 2);
        QVERIFY(Editor(0)->isVisible() && Editor(1)->isVisible());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&documentWindow()));
    }
};

VELLORAN_DISPLAY_TEST_MAIN(FocusTest)
#include "focus_test.moc"
