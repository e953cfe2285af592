// Text on the program's own backgrounds keeps the program's colours under any desktop palette:
// black text, and a selection that can be told from both the text and the background.
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include "support/Contrast.h"
#include "ui/Windows.h"

using velloran::testing::ContrastRatio;

class ColoursTest : public QObject {
    Q_OBJECT

    std::unique_ptr<velloran::ui::WindowSet> forms_;

  private slots:
    void initTestCase() {
        QApplication::setPalette(velloran::testing::DarkPalette());
        forms_ = velloran::ui::CreateWindows({"velloran"});
    }
    void cleanupTestCase() { forms_.reset(); }

    void fixedBackgroundsKeepTheirText_data() {
        QTest::addColumn<QWidget*>("widget");
        QTest::addColumn<QPalette::ColorRole>("background");
        QTest::addColumn<bool>("selectable");
        for (int k = 0; k < 18; ++k) {
            QTest::addRow("section %d", k)
                << static_cast<QWidget*>(forms_->documentWindow->SectionEditors(k))
                << QPalette::Base << true;
        }
        QTest::newRow("section list")
            << static_cast<QWidget*>(forms_->sectionListWindow->ListBox1) << QPalette::Base << true;
        QTest::newRow("status notice")
            << forms_->statusNotice->findChild<QWidget*>("Label1") << QPalette::Window << false;
    }
    void fixedBackgroundsKeepTheirText() {
        QFETCH(QWidget*, widget);
        QFETCH(QPalette::ColorRole, background);
        QFETCH(bool, selectable);
        const QPalette::ColorRole textRole =
            background == QPalette::Base ? QPalette::Text : QPalette::WindowText;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QPalette& p = widget->palette();
            const QColor back = p.color(group, background);
            QVERIFY2(ContrastRatio(p.color(group, textRole), back) >= 4.5,
                     qPrintable(p.color(group, textRole).name() + " on " + back.name()));
            if (selectable) {
                const QColor selection = p.color(group, QPalette::Highlight);
                QVERIFY(ContrastRatio(selection, back) >= 3);
                QVERIFY(ContrastRatio(selection, p.color(group, QPalette::HighlightedText)) >= 3);
            }
        }
    }
};

QTEST_MAIN(ColoursTest)
#include "colours_test.moc"
