// Window bounds under a real window manager, which frames the windows only after they were
// placed: the settings' bounds are the frames' bounds, they survive being saved and read again,
// and every dialog and tool window opens at the outer right edge of its window.
#include <QAction>
#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QtTest>
#include <functional>
#include <string>

#include "core/document/State.h"
#include "settings/Settings.h"
#include "support/Display.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/platform/Geometry.h"

using velloran::state;
using velloran::testing::ModalScript;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using Open = std::function<void(SectionListWindow&)>;

Q_DECLARE_METATYPE(Open)

namespace {

// The frame geometry as the window system reports it (the widget's copy may lag behind),
// waiting until it is as wanted or the window manager is done with it.
QRect Frame(const QWidget* w) {
    return w->windowHandle()->frameGeometry();
}

QRect SettledFrame(const QWidget* w, const QRect& wanted) {
    static_cast<void>(QTest::qWaitFor([&] { return Frame(w) == wanted; }));
    return Frame(w);
}

QRect SettledFrameAt(const QWidget* w, QPoint wanted) {
    static_cast<void>(QTest::qWaitFor(
        [&] { return w->windowHandle()->isExposed() && Frame(w).topLeft() == wanted; }));
    return Frame(w);
}

}  // namespace

class GeometryTest : public QObject {
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
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        WriteBytes("doc.vlp", "Title\r\n[S] One\r\nwords\r\n");
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    void withoutSettingsTheFramesStandAtTheDefaultBounds() {
        Start();
        QCOMPARE(SettledFrame(&sectionListWindow(), QRect(50, 0, 250, 650)),
                 QRect(50, 0, 250, 650));
        QCOMPARE(SettledFrame(&documentWindow(), QRect(300, 0, 250, 650)), QRect(300, 0, 250, 650));
        // Both title bars are on the screen, below the frames' top edge.
        QVERIFY(sectionListWindow().windowHandle()->geometry().top() > 0);
    }

    // "SAVE", restart, "SAVE": the settings file stays the same byte for byte.
    void savedBoundsComeBackAsTheyWere_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QRect>("list");
        QTest::addColumn<QRect>("document");
        QTest::newRow("no settings file")
            << QByteArray() << QRect(50, 0, 250, 650) << QRect(300, 0, 250, 650);
        QTest::newRow("stored bounds")
            << QByteArray(
                   "[Velloran]\r\nLeft=120\r\nTop=30\r\nWidth=260\r\nHeight=500\r\n"
                   "Width2=400\r\nHeigh2=450\r\n")
            << QRect(120, 30, 260, 500) << QRect(380, 30, 400, 450);
        // Within the screen that twice the scale leaves: 640 by 512 under Xvfb, 800 by 500 under
        // mutter.
        QTest::newRow("small bounds")
            << QByteArray(
                   "[Velloran]\r\nLeft=40\r\nTop=10\r\nWidth=200\r\nHeight=400\r\n"
                   "Width2=300\r\nHeigh2=420\r\n")
            << QRect(40, 10, 200, 400) << QRect(240, 10, 300, 420);
        // Kept within reach on the first start, then stored as they are shown.
        QTest::newRow("stored off the screen")
            << QByteArray("[Velloran]\r\nLeft=5000\r\nTop=-300\r\nWidth=300\r\nHeight=20\r\n")
            << QRect(1232, 0, 300, 160) << QRect(1232, 0, 250, 650);
    }
    void savedBoundsComeBackAsTheyWere() {
        QFETCH(QByteArray, ini);
        QFETCH(QRect, list);
        QFETCH(QRect, document);
        if (!ini.isEmpty()) {
            WriteBytes(IniPath(), ini.toStdString());
        }
        std::string first;
        for (int run = 1; run <= 3; ++run) {
            Start();
            QCOMPARE(SettledFrame(&sectionListWindow(), list), list);
            QCOMPARE(SettledFrame(&documentWindow(), document), document);
            ModalScript script;
            script.Click("TForm9", "Button2");  // "SAVE"
            sectionListWindow().MVParameters->trigger();
            QVERIFY(script.Done());
            const std::string saved = ReadBytes(IniPath());
            if (run == 1) {
                first = saved;
                const velloran::Settings set = velloran::LoadSettings();
                QCOMPARE(QRect(set.Left, set.Top, set.Width, set.Height), list);
                QCOMPARE(QSize(set.Width2, set.Height2), document.size());
            } else {
                QCOMPARE(QByteArray::fromStdString(saved), QByteArray::fromStdString(first));
            }
            forms_.reset();
            velloran::ResetState();
        }
    }

    void dialogsAndToolWindowsOpenAtTheOuterRightEdge_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("besideTheDocument");
        QTest::addColumn<Open>("open");
        QTest::newRow("File Parameters")
            << "TForm9" << false << Open([](SectionListWindow& f) { f.MVParameters->trigger(); });
        QTest::newRow("key prompt")
            << "TForm7" << false << Open([](SectionListWindow& f) { f.MFSaveEncript->trigger(); });
        QTest::newRow("Save Document")
            << "TForm8" << false << Open([](SectionListWindow& f) { f.MFSaveFile->trigger(); });
        QTest::newRow("help") << "TForm5" << false
                              << Open([](SectionListWindow& f) { f.MVHelp->trigger(); });
        QTest::newRow("statistics")
            << "TForm4" << false << Open([](SectionListWindow& f) { f.Statistics1->trigger(); });
        QTest::newRow("progress") << "TForm12" << false
                                  << Open([](SectionListWindow& f) { f.Progress1->trigger(); });
        QTest::newRow("search") << "TForm6" << true
                                << Open([](SectionListWindow& f) { f.MVSearch->trigger(); });
    }
    void dialogsAndToolWindowsOpenAtTheOuterRightEdge() {
        QFETCH(QString, window);
        QFETCH(bool, besideTheDocument);
        QFETCH(Open, open);
        Start();
        SettledFrame(&sectionListWindow(), QRect(50, 0, 250, 650));
        SettledFrame(&documentWindow(), QRect(300, 0, 250, 650));
        const QPoint edge = velloran::ui::RightEdgeOf(
            besideTheDocument ? static_cast<QWidget*>(&documentWindow()) : &sectionListWindow());
        QWidget* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == window) {
                w = top;
            }
        }
        QVERIFY(w);
        const bool dialog = qobject_cast<QDialog*>(w) != nullptr;

        QRect seen;
        ModalScript script;
        script.Then([&](QWidget* modal) {
            seen = SettledFrameAt(modal, edge);
            modal->close();
            return modal == w;
        });
        open(sectionListWindow());
        if (!dialog) {
            seen = SettledFrameAt(w, edge);
        }
        QCOMPARE(seen.topLeft(), edge);
        // Its title bar on the screen.
        QVERIFY(w->windowHandle()->geometry().top() >
                QGuiApplication::primaryScreen()->geometry().top());
        // Opened again after the window it stands beside moved: at its new edge.
        if (!dialog) {
            velloran::ui::PlaceOuterAt(&sectionListWindow(), QPoint(70, 40));
            SettledFrame(&sectionListWindow(), QRect(70, 40, 250, 650));
            const QPoint moved = velloran::ui::RightEdgeOf(
                besideTheDocument ? static_cast<QWidget*>(&documentWindow())
                                  : &sectionListWindow());
            open(sectionListWindow());
            QCOMPARE(SettledFrameAt(w, moved).topLeft(), moved);
        }
    }
};

VELLORAN_DISPLAY_TEST_MAIN(GeometryTest)
#include "geometry_test.moc"
