// The dark page, the zoom and full screen: kept in view.ini, never in QMV.ini.
#include <QAction>
#include <QListWidget>
#include <QtTest>

#include "core/document/State.h"
#include "settings/ViewSettings.h"
#include "support/Contrast.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/platform/DarkPage.h"
#include "ui/platform/Geometry.h"

using velloran::testing::ContrastRatio;
using velloran::testing::ReadBytes;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

class ViewItemsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> work_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;
    QPalette desktop_;

    void Start() {
        velloran::ResetState();
        forms_ = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms_->Show();
        QTRY_VERIFY(forms_->sectionListWindow->Count() > 0);
    }
    QAction* Item(const char* name) const {
        return forms_->sectionListWindow->findChild<QAction*>(name);
    }
    std::string Ini() const { return ReadBytes("config/QMV.ini"); }

  private slots:
    void initTestCase() { desktop_ = QApplication::palette(); }
    void init() {
        work_ = std::make_unique<WorkFolder>();
        WriteBytes("config/QMV.ini", "[Velloran]\r\nFontSize=10\r\nWidth2=500\r\nHeigh2=600\r\n");
        WriteBytes("doc.vlp", "one\r\n[S] two\r\n");
    }
    void cleanup() {
        forms_.reset();
        work_.reset();
        QApplication::setPalette(desktop_);
    }

    // Light text on the dark page at 7:1 or more, the selection readable and apart from the
    // page, under a light desktop and under a dark one, whose own colours are then taken.
    void theDarkPageIsReadable_data() {
        QTest::addColumn<bool>("darkDesktop");
        QTest::newRow("light desktop") << false;
        QTest::newRow("dark desktop") << true;
    }
    void theDarkPageIsReadable() {
        QFETCH(bool, darkDesktop);
        if (darkDesktop) {
            QApplication::setPalette(velloran::testing::DarkPalette());
        }
        Start();
        Item("MVDarkPage")->trigger();
        QCOMPARE(velloran::LoadViewSettings().DarkPage, true);
        QList<QWidget*> pages{forms_->sectionListWindow->ListBox1};
        for (int k = 0; k < 20; ++k) {
            pages << forms_->documentWindow->SectionEditors(k);
        }
        for (QWidget* w : pages) {
            const QPalette& p = w->palette();
            const QColor page = p.color(QPalette::Base);
            QVERIFY2(page.lightnessF() < 0.3, qPrintable(page.name()));
            QVERIFY2(ContrastRatio(p.color(QPalette::Text), page) >= 7,
                     qPrintable(p.color(QPalette::Text).name() + " on " + page.name()));
            QVERIFY(ContrastRatio(p.color(QPalette::Highlight), page) >= 3);
            QVERIFY(ContrastRatio(p.color(QPalette::HighlightedText),
                                  p.color(QPalette::Highlight)) >= 7);
            if (darkDesktop && w != pages.first()) {
                QCOMPARE(page, velloran::testing::DarkPalette().color(QPalette::Base));
            }
        }
        // Neighbouring sections still differ on the page of its own.
        if (!darkDesktop) {
            QVERIFY(pages[1]->palette().color(QPalette::Base) !=
                    pages[2]->palette().color(QPalette::Base));
        }
        // Off again: the pastel colours are back.
        Item("MVDarkPage")->trigger();
        QCOMPARE(forms_->documentWindow->SectionEditors(1)->palette().color(QPalette::Base),
                 DocumentWindow::SectionColor(1));
        forms_.reset();
        // The next run starts as the page was left.
        Start();
        QVERIFY(!Item("MVDarkPage")->isChecked());
    }

    void theZoomIsKeptInViewIniAndTheFontInQmvIni() {
        const std::string before = Ini();
        Start();
        SectionEditor* ed = forms_->documentWindow->SectionEditors(0);
        QCOMPARE(ed->font().pointSize(), 10);
        Item("MVZoomIn")->trigger();
        Item("MVZoomIn")->trigger();
        Item("MVZoomIn")->trigger();
        Item("MVZoomOut")->trigger();
        QCOMPARE(ed->font().pointSize(), 12);
        QCOMPARE(velloran::LoadViewSettings().Zoom, 2);
        QCOMPARE(velloran::state().FontSize, 10);
        // A format applied again keeps the zoom.
        forms_->documentWindow->ApplyFormat();
        QCOMPARE(ed->font().pointSize(), 12);
        forms_.reset();
        Start();
        QCOMPARE(forms_->documentWindow->SectionEditors(1)->font().pointSize(), 12);
        Item("MVZoomNormal")->trigger();
        QCOMPARE(forms_->documentWindow->SectionEditors(1)->font().pointSize(), 10);
        for (int i = 0; i < 30; ++i) {
            Item("MVZoomOut")->trigger();
        }
        QCOMPARE(velloran::LoadViewSettings().Zoom, velloran::kLeastZoom);
        QVERIFY(forms_->documentWindow->SectionEditors(1)->font().pointSize() >= 1);
        QCOMPARE(Ini(), before);
    }

    // Leaving full screen gives the bounds back; meanwhile the bounds a save of the settings
    // takes are still the window's own, not the screen's.
    void fullScreenLeavesQmvIniAlone() {
        Start();
        DocumentWindow& doc = *forms_->documentWindow;
        QVERIFY(QTest::qWaitForWindowExposed(&doc));
        const QRect bounds = velloran::ui::OuterBounds(&doc);
        Item("MVFullScreen")->trigger();
        QTRY_VERIFY(doc.isFullScreen());
        QVERIFY(Item("MVFullScreen")->isChecked());
        QCOMPARE(velloran::ui::OuterBounds(&doc), bounds);
        QVERIFY(!QFile::exists("config/view.ini") ||
                !QString::fromStdString(ReadBytes("config/view.ini")).contains("Full"));
        Item("MVFullScreen")->trigger();
        QTRY_VERIFY(!doc.isFullScreen());
        QTRY_COMPARE(velloran::ui::OuterBounds(&doc), bounds);
        QVERIFY(!Item("MVFullScreen")->isChecked());
    }
};

QTEST_MAIN(ViewItemsTest)
#include "view_items_test.moc"
