// A Wayland session without an X server, where the toolkit runs on native Wayland and no window
// can be placed or tell where it is: the settings keep what they hold, and every command that
// shows a section brings the document window forward, since it may stand over the list.
#include <QAction>
#include <QListWidget>
#include <QtTest>
#include <functional>
#include <string>

#include "core/document/State.h"
#include "settings/Settings.h"
#include "support/CompositorKeys.h"
#include "support/Display.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/platform/Geometry.h"

using velloran::testing::CompositorKeys;
using velloran::testing::ModalScript;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using Command = std::function<void(SectionListWindow&, CompositorKeys&)>;

Q_DECLARE_METATYPE(Command)

class WaylandTest : public QObject {
    Q_OBJECT

    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }

    void Start() {
        forms_ = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms_->Show();
        QVERIFY(QTest::qWaitForWindowExposed(&sectionListWindow()));
        QVERIFY(QTest::qWaitForWindowExposed(&documentWindow()));
    }

    std::string IniPath() const { return *dir_ / "config/QMV.ini"; }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

  private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland")); }

    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        WriteBytes("doc.vlp", "Title\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n");
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    // "SAVE", restart, "SAVE": the settings keep the positions they hold, which no window here
    // can tell, and the sizes, which the windows keep.
    void savedBoundsStayAsTheyWere_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QRect>("list");
        QTest::addColumn<QSize>("document");
        QTest::newRow("no settings file")
            << QByteArray() << QRect(50, 0, 250, 650) << QSize(250, 650);
        QTest::newRow("stored bounds")
            << QByteArray(
                   "[Velloran]\r\nLeft=120\r\nTop=30\r\nWidth=260\r\nHeight=500\r\n"
                   "Width2=400\r\nHeigh2=450\r\n")
            << QRect(120, 30, 260, 500) << QSize(400, 450);
        // No window stands there to be brought within reach: the position stays; the height
        // grows to the smallest window, as the window keeps it.
        QTest::newRow("stored off the screen")
            << QByteArray("[Velloran]\r\nLeft=5000\r\nTop=-300\r\nWidth=300\r\nHeight=20\r\n")
            << QRect(5000, -300, 300, 160) << QSize(250, 650);
    }
    void savedBoundsStayAsTheyWere() {
        QFETCH(QByteArray, ini);
        QFETCH(QRect, list);
        QFETCH(QSize, document);
        if (!ini.isEmpty()) {
            WriteBytes(IniPath(), ini.toStdString());
        }
        std::string first;
        for (int run = 1; run <= 3; ++run) {
            Start();
            // Once the toolkit's own frame is drawn around each window.
            QTRY_VERIFY(!sectionListWindow().windowHandle()->frameMargins().isNull());
            QTRY_COMPARE(velloran::ui::OuterBounds(&sectionListWindow()), list);
            QTRY_COMPARE(velloran::ui::OuterBounds(&documentWindow()).size(), document);
            ModalScript script;
            script.Click("TForm9", "Button2");  // "SAVE"
            sectionListWindow().MVParameters->trigger();
            QVERIFY(script.Done());
            const std::string saved = ReadBytes(IniPath());
            if (run == 1) {
                first = saved;
                const velloran::Settings set = velloran::LoadSettings();
                QCOMPARE(QRect(set.Left, set.Top, set.Width, set.Height), list);
                QCOMPARE(QSize(set.Width2, set.Height2), document);
            } else {
                QCOMPARE(QByteArray::fromStdString(saved), QByteArray::fromStdString(first));
            }
            forms_.reset();
            velloran::ResetState();
        }
    }

    void aSectionShownComesToTheFront_data() {
        QTest::addColumn<Command>("command");
        QTest::newRow("arrow key to the next title") << Command(
            [](SectionListWindow&, CompositorKeys& keys) { keys.Press(CompositorKeys::kDown); });
        // A click is input to the list, as the key is, and then this.
        QTest::newRow("click on the title shown")
            << Command([](SectionListWindow& f, CompositorKeys& keys) {
                   QVERIFY(keys.ShiftArrives());
                   f.ListBox1Click(0);
               });
        QTest::newRow("panel key in the list") << Command(
            [](SectionListWindow&, CompositorKeys& keys) { keys.Press(CompositorKeys::kF7); });
    }
    void aSectionShownComesToTheFront() {
        QFETCH(Command, command);
        CompositorKeys keys;
        QVERIFY2(keys.Error().isEmpty(), qPrintable(keys.Error()));
        Start();
        {
            // The first title chosen already, as a list that takes the focus makes it; here
            // that would show its section, and bring the document window forward, too soon.
            const QSignalBlocker block(sectionListWindow().ListBox1);
            sectionListWindow().ListBox1->setCurrentRow(0);
        }
        // Keys reach one of the windows; then the list has the focus, as after a click into it
        // (a window takes the focus only in answer to input, which the keys are).
        QVERIFY(keys.ShiftArrives());
        sectionListWindow().activateWindow();
        QTRY_VERIFY(sectionListWindow().isActiveWindow());
        sectionListWindow().ListBox1->setFocus();
        command(sectionListWindow(), keys);
        // mutter grants a window's request for the focus at once, but now and then only after
        // seconds; a window that never asked never gets it.
        QTRY_VERIFY_WITH_TIMEOUT(documentWindow().isActiveWindow(), 20000);
    }
};

VELLORAN_DISPLAY_TEST_MAIN(WaylandTest)
#include "wayland_test.moc"
