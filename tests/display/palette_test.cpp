// Under a dark desktop palette every window reads: the section editors, the list and the status
// notice draw black (or maroon) on colours of their own, everything else the desktop's light text
// on its dark colours. Measured on the pixels the window system shows. Run with a dark palette
// set on the application, or (VELLORAN_DARK_THEME) with the desktop's theme already dark.
#include <QAbstractScrollArea>
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>
#include <functional>

#include "core/document/State.h"
#include "support/Contrast.h"
#include "support/Display.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"

using velloran::testing::ContrastRatio;
using velloran::testing::MeasuredText;
using velloran::testing::MeasureText;
using velloran::testing::ModalScript;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;
using WindowSet = velloran::ui::WindowSet;
using Step = ModalScript::Step;
// Opens a window; a dialog it opens is answered by the script, measured by the step.
using Open = std::function<void(WindowSet&, ModalScript&, const Step&)>;

Q_DECLARE_METATYPE(Open)

namespace {

constexpr double kReadable = 4.5;

// Where w's text is drawn in its window: a scroll area's viewport, else w inside its frame.
QRect TextArea(const QWidget* w) {
    const QWidget* painted = w;
    int inset = 5;
    if (const auto* area = qobject_cast<const QAbstractScrollArea*>(w)) {
        painted = area->viewport();
        inset = 2;
    } else if (qobject_cast<const QLabel*>(w)) {
        inset = 0;
    }
    const QRect local = painted->rect().adjusted(inset, inset, -inset, -inset);
    return QRect(painted->mapTo(w->window(), local.topLeft()), local.size());
}

MeasuredText Measure(const QWidget* w) {
    QWidget* window = w->window();
    const QImage shown = window->screen()->grabWindow(window->winId()).toImage();
    const qreal ratio = shown.width() / qreal(std::max(1, window->width()));
    const QRect area = TextArea(w);
    return MeasureText(shown, QRect((area.topLeft() * ratio), area.size() * ratio));
}

QString Describe(const QString& name, const MeasuredText& m) {
    return QStringLiteral("%1: %2:1, %3 on %4")
        .arg(name, QString::number(m.contrast, 'f', 1), m.text.name(), m.background.name());
}

// Waits until each named widget of window reads (once painted), and says how well each does.
QStringList MeasureWindow(QWidget* window, const QStringList& names, bool* readable) {
    QList<QWidget*> widgets;
    for (const QString& name : names) {
        QWidget* w = window->findChild<QWidget*>(name);
        widgets.push_back(w ? w : window);
    }
    const auto allRead = [&] {
        return std::all_of(widgets.begin(), widgets.end(),
                           [](QWidget* w) { return Measure(w).contrast >= kReadable; });
    };
    *readable = QTest::qWaitForWindowExposed(window) && QTest::qWaitFor(allRead, 5000);
    QStringList figures;
    for (int i = 0; i < widgets.size(); ++i) {
        figures << Describe(window->objectName() + "." + names[i], Measure(widgets[i]));
    }
    return figures;
}

}  // namespace

class PaletteTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;

  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsSet("VELLORAN_DARK_THEME")) {
            // Nothing would be measured under a theme that did not take.
            QVERIFY2(QApplication::palette().color(QPalette::Base).lightness() < 80,
                     "the desktop's theme gave no dark palette");
        } else {
            QApplication::setPalette(velloran::testing::DarkPalette());
        }
    }

    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        std::string text = "Title\r\nThe document's first words\r\n";
        for (int k = 1; k < 18; ++k) {
            text += "[S] Section " + std::to_string(k) + "\r\nWords of the section, written\r\n";
        }
        WriteBytes("doc.vlp", text);
        forms_ = velloran::ui::CreateWindows({"velloran", "doc.vlp"});
        forms_->Show();
        QVERIFY(QTest::qWaitForWindowExposed(forms_->sectionListWindow.get()));
        QVERIFY(QTest::qWaitForWindowExposed(forms_->documentWindow.get()));
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    // Each of the 18 section colours, under black text.
    void sectionTextReads_data() {
        QTest::addColumn<int>("section");
        for (int k = 0; k < 18; ++k) {
            QTest::addRow("section %d", k) << k;
        }
    }
    void sectionTextReads() {
        QFETCH(int, section);
        DocumentWindow& documentWindow = *forms_->documentWindow;
        documentWindow.SelectSection(section);
        QWidget* editor = documentWindow.SectionEditors(section);
        QVERIFY(QTest::qWaitForWindowExposed(&documentWindow));
        // Once the window shows the section's own colour.
        MeasuredText m;
        QTRY_COMPARE((m = Measure(editor)).background, DocumentWindow::SectionColor(section));
        qInfo("%s", qPrintable(Describe(QStringLiteral("section %1").arg(section), m)));
        QVERIFY2(m.contrast >= kReadable, qPrintable(Describe("editor", m)));
    }

    void everyWindowReads_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("widgets");
        QTest::addColumn<Open>("open");
        // A tool window is measured once it is shown, a dialog while it is open.
        const auto tool = [](QAction* SectionListWindow::*item) {
            return Open([item](WindowSet& f, ModalScript&, const Step&) {
                (f.sectionListWindow.get()->*item)->trigger();
            });
        };
        const auto dialog = [](QAction* SectionListWindow::*item) {
            return Open([item](WindowSet& f, ModalScript& script, const Step& measure) {
                script.Then(measure);
                (f.sectionListWindow.get()->*item)->trigger();
            });
        };
        QTest::newRow("section list") << "TForm1" << QStringList{"ListBox1"}
                                      << Open([](WindowSet&, ModalScript&, const Step&) {});
        QTest::newRow("search") << "TForm6" << QStringList{"Edit1", "Button1", "ListBox1"}
                                << Open([](WindowSet& f, ModalScript&, const Step&) {
                                       f.sectionListWindow->MVSearch->trigger();
                                       f.searchWindow->findChild<QLineEdit*>("Edit1")->setText(
                                           "Words");
                                       f.searchWindow->findChild<QPushButton*>("Button2")->click();
                                   });
        QTest::newRow("help") << "TForm5" << QStringList{"Memo1"}
                              << tool(&SectionListWindow::MVHelp);
        QTest::newRow("statistics")
            << "TForm4" << QStringList{"Memo1"} << tool(&SectionListWindow::Statistics1);
        QTest::newRow("status notice")
            << "TForm11" << QStringList{"Label1"}
            << Open([](WindowSet& f, ModalScript&, const Step&) {
                   f.statusNotice->ShowPath("/home/writer/doc.vlp", f.documentWindow.get());
               });
        QTest::newRow("progress") << "TForm12" << QStringList{"Label1", "Chart1", "SpinEdit1"}
                                  << tool(&SectionListWindow::Progress1);
        // A change on disk merged with unsaved text, one section in conflict; then reloaded.
        QTest::newRow("merge report")
            << "TForm13" << QStringList{"Label1", "ListBox1"}
            << Open([](WindowSet& f, ModalScript&, const Step&) {
                   velloran::MergeReport report;
                   report.summary = "Sections 1 and 2 were merged with the version on disk.";
                   report.notes = {{1, true, "Section 1: changed here and on disk"},
                                   {2, false, "Section 2: taken from disk"}};
                   report.flagged = {1};
                   f.sectionListWindow->ShowMergeReport(report);
               });
        QTest::newRow("reload notice")
            << "TForm14" << QStringList{"Label1"}
            << Open([](WindowSet& f, ModalScript&, const Step&) {
                   velloran::MergeReport report;
                   report.reload = true;
                   report.summary = "Section 3 changed on disk and was reloaded";
                   f.sectionListWindow->ShowMergeReport(report);
               });
        QTest::newRow("key prompt") << "TForm7" << QStringList{"Edit1", "Button1"}
                                    << dialog(&SectionListWindow::MFSaveEncript);
        QTest::newRow("Save Document") << "TForm8" << QStringList{"Edit1", "Button1"}
                                       << dialog(&SectionListWindow::MFSaveFile);
        QTest::newRow("File Parameters")
            << "TForm9" << QStringList{"Label1", "RadioButton2", "CheckBox1", "Edit1", "Button2"}
            << dialog(&SectionListWindow::MVParameters);
        QTest::newRow("history") << "HistoryWindow" << QStringList{"Label1", "RestoreSection"}
                                 << tool(&SectionListWindow::MVHistory);
        QTest::newRow("Export") << "ExportDialog"
                                << QStringList{"FormatBox", "SectionsList", "ExportButton"}
                                << dialog(&SectionListWindow::MFExport);
        // A save to a folder that is not there says so in a message box.
        QTest::newRow("message box")
            << "" << QStringList{"qt_msgbox_label"}
            << Open([](WindowSet& f, ModalScript& script, const Step& measure) {
                   script.Click("TForm8", "Button1", QStringLiteral("/nonexistent/doc.vlp"))
                       .Then(measure);
                   f.sectionListWindow->MFSaveFile->trigger();
               });
    }
    void everyWindowReads() {
        QFETCH(QString, window);
        QFETCH(QStringList, widgets);
        QFETCH(Open, open);
        QStringList figures;
        bool readable = false;
        bool measured = false;
        ModalScript script;
        const Step measure = [&](QWidget* shown) {
            if (!window.isEmpty() && shown->objectName() != window) {
                return false;
            }
            figures = MeasureWindow(shown, widgets, &readable);
            measured = true;
            shown->close();
            return true;
        };
        open(*forms_, script, measure);
        if (!measured) {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->objectName() == window && top->isVisible()) {
                    figures = MeasureWindow(top, widgets, &readable);
                    measured = true;
                }
            }
        }
        for (const QString& figure : figures) {
            qInfo("%s", qPrintable(figure));
        }
        QVERIFY2(measured, "the window was not shown");
        QVERIFY2(readable, qPrintable(figures.join("; ")));
        QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(", ")));
    }
};

VELLORAN_DISPLAY_TEST_MAIN(PaletteTest)
#include "palette_test.moc"
