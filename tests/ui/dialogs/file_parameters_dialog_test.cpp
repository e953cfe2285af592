#include "ui/dialogs/FileParametersDialog.h"

#include <sys/stat.h>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QtTest>
#include <optional>

#include "core/document/State.h"
#include "settings/Settings.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/platform/Geometry.h"

using velloran::ModalResult;
using velloran::state;
using velloran::testing::ModalScript;
using velloran::testing::TempDir;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

// Presses one arrow of a spin box with the mouse, where the style draws it.
void ClickArrow(QSpinBox* box, QStyle::SubControl arrow) {
    QStyleOptionSpinBox option;
    option.initFrom(box);
    option.rect = box->rect();
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
    option.buttonSymbols = box->buttonSymbols();
    option.frame = box->hasFrame();
    const QRect rect = box->style()->subControlRect(QStyle::CC_SpinBox, &option, arrow, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, rect.center());
}

// The state the dialog reads and writes.
struct Values {
    std::string FontFace;
    int FontSize;
    bool WordWrap;
    bool BackupPrev;
    bool BackupCurr;
    std::string BackupFolder;
    int BackupType;
    bool operator==(const Values&) const = default;
};

Values Current() {
    const auto& st = state();
    return {st.FontFace,   st.FontSize,     st.WordWrap,  st.BackupPrev,
            st.BackupCurr, st.BackupFolder, st.BackupType};
}

// Moves every control away from what the dialog was opened with.
void ChangeEverything(FileParametersDialog* d) {
    d->RadioButton1->click();
    d->RadioButton5->click();
    QTest::keyClick(d->SpinEdit1, Qt::Key_Up);
    QTest::keyClick(d->SpinEdit1, Qt::Key_Up);
    d->CheckBox1->click();
    d->CheckBox2->click();
    d->Edit1->setText("bak");
    ClickArrow(d->UpDown1, QStyle::SC_SpinBoxUp);
}

}  // namespace

Q_DECLARE_METATYPE(std::string)

class FileParametersDialogTest : public QObject {
    Q_OBJECT

  private:
    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    QString ConfigPath(const char* name) const {
        return QString::fromStdString(*dir_ / "config/") + name;
    }

    // Opens the dialog through the View menu, as the user does, with step answering it.
    void Open(ModalScript& script, std::function<void(FileParametersDialog*)> step) {
        script.Then([this, step](QWidget* w) {
            if (w != parametersDialog_) {
                return false;
            }
            step(parametersDialog_);
            return true;
        });
        sectionListWindow().MVParameters->trigger();
        QVERIFY(script.Done());
        QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(", ")));
    }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;
    FileParametersDialog* parametersDialog_ = nullptr;

  private slots:
    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        forms_ = velloran::ui::CreateWindows({"velloran"});
        parametersDialog_ = forms_->parametersDialog.get();
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    void opensFromTheStateAtTheMainWindowsRightEdge_data() {
        QTest::addColumn<std::string>("face");
        QTest::addColumn<QString>("font");
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("shownSize");
        QTest::addColumn<int>("backupType");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("modeText");
        QTest::newRow("Tahoma is Times") << std::string("Tahoma") << "RadioButton3" << true << 10
                                         << 10 << 1 << 1 << "Backup to SUB Folder of File.";
        QTest::newRow("Arial") << std::string("Arial") << "RadioButton1" << false << 14 << 14 << 0
                               << 0 << "Backup to Same Folder as File.";
        QTest::newRow("lower-case a is Courier")
            << std::string("arial") << "RadioButton2" << true << 20 << 14 << 2 << 2
            << "Backup Folder is Full Drive + Path.";
        QTest::newRow("lower-case t is Courier")
            << std::string("times") << "RadioButton2" << false << 3 << 6 << 0 << 0
            << "Backup to Same Folder as File.";
        // The label tells the mode the arrows hold, which is what a confirm would store.
        QTest::newRow("empty face, mode out of range")
            << std::string() << "RadioButton2" << true << 6 << 6 << 7 << 2
            << "Backup Folder is Full Drive + Path.";
    }

    void opensFromTheStateAtTheMainWindowsRightEdge() {
        QFETCH(std::string, face);
        QFETCH(QString, font);
        QFETCH(bool, wrap);
        QFETCH(int, size);
        QFETCH(int, shownSize);
        QFETCH(int, backupType);
        QFETCH(int, position);
        QFETCH(QString, modeText);
        velloran::ui::PlaceOuter(&sectionListWindow(), QRect(60, 40, 250, 600));
        // What an earlier opening may have left in the controls.
        parametersDialog_->RadioButton3->setChecked(true);
        parametersDialog_->RadioButton5->setChecked(wrap);
        parametersDialog_->RadioButton4->setChecked(!wrap);
        parametersDialog_->ShowBackupTypeText(1);
        auto& st = state();
        st.FontFace = face;
        st.WordWrap = wrap;
        st.FontSize = size;
        st.BackupPrev = true;
        st.BackupCurr = false;
        st.BackupFolder = "old copies";
        st.BackupType = backupType;

        ModalScript script;
        QString checked, label, folder;
        bool wordWrap = false, noWrap = false, prev = false, curr = true;
        int shown = 0, arrows = -1;
        QPoint at;
        Open(script, [&](FileParametersDialog* d) {
            for (auto* radio : {d->RadioButton1, d->RadioButton2, d->RadioButton3}) {
                if (radio->isChecked()) {
                    checked += radio->objectName();
                }
            }
            wordWrap = d->RadioButton4->isChecked();
            noWrap = d->RadioButton5->isChecked();
            shown = d->SpinEdit1->value();
            prev = d->CheckBox1->isChecked();
            curr = d->CheckBox2->isChecked();
            folder = d->Edit1->text();
            arrows = d->UpDown1->value();
            label = d->Label3->text();
            at = d->frameGeometry().topLeft();
            d->Button1->click();
        });
        QCOMPARE(checked, font);
        QCOMPARE(wordWrap, wrap);
        QCOMPARE(noWrap, !wrap);
        QCOMPARE(shown, shownSize);
        QVERIFY(prev);
        QVERIFY(!curr);
        QCOMPARE(folder, QString("old copies"));
        QCOMPARE(arrows, position);
        QCOMPARE(label, modeText);
        QCOMPARE(at, QPoint(60 + 250, 40));
        QCOMPARE(parametersDialog_->Result(), ModalResult::Cancel);
    }

    void confirmingTahomaSwitchesTheEditorsToTimes() {
        state().FontFace = "Tahoma";
        ModalScript script;
        Open(script, [](FileParametersDialog* d) { d->Button3->click(); });
        QCOMPARE(state().FontFace, std::string("Times New Roman"));
        QCOMPARE(documentWindow().SectionEditors(0)->font().family(), QString("Times New Roman"));
        QCOMPARE(documentWindow().SectionEditors(50)->font().family(), QString("Times New Roman"));
    }

    void useByEnterAppliesAtOnceAndWritesNoSettings() {
        ModalScript script;
        Open(script, [](FileParametersDialog* d) {
            ChangeEverything(d);
            QTest::keyClick(d->Edit1, Qt::Key_Return);  // "Use" is the default button
        });
        QCOMPARE(parametersDialog_->Result(), ModalResult::Yes);
        QCOMPARE(Current(), (Values{"Arial", 12, false, true, true, "bak", 1}));
        QVERIFY(!sectionListWindow().WordWrap1->isChecked());
        const QFont font = documentWindow().SectionEditors(7)->font();
        QCOMPARE(font.family(), QString("Arial"));
        QCOMPARE(font.pointSize(), 12);
        QCOMPARE(documentWindow().SectionEditors(7)->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(!QFileInfo::exists(ConfigPath("QMV.ini")));
        QCOMPARE(velloran::LoadSettings(), velloran::Settings{});
    }

    void saveStoresTheWindowsCurrentBoundsAndTheValues() {
        velloran::ui::PlaceOuter(&sectionListWindow(), QRect(37, 21, 266, 610));
        velloran::ui::PlaceOuter(&documentWindow(), QRect(documentWindow().pos(), QSize(480, 633)));
        ModalScript script;
        Open(script, [](FileParametersDialog* d) {
            d->RadioButton3->click();
            QTest::keyClick(d->SpinEdit1, Qt::Key_Down);
            d->RadioButton5->click();
            d->CheckBox2->click();
            d->Edit1->setText("archive");
            ClickArrow(d->UpDown1, QStyle::SC_SpinBoxUp);
            ClickArrow(d->UpDown1, QStyle::SC_SpinBoxUp);
            d->Button2->click();
        });
        QCOMPARE(parametersDialog_->Result(), ModalResult::OK);
        const Values applied{"Times New Roman", 9, false, false, true, "archive", 2};
        QCOMPARE(Current(), applied);
        QCOMPARE(documentWindow().SectionEditors(0)->font().family(), QString("Times New Roman"));

        const velloran::Settings stored{
            37, 21, 266, 610, 480, 633, 9, "Times New Roman", false, false, true, "archive", 2};
        QVERIFY(velloran::LoadSettings() == stored);
    }

    void fieldsChangeOnlyByTheirArrowsAndStopAtTheEnds() {
        state().BackupType = 2;
        state().FontSize = 14;
        ModalScript script;
        QStringList labels;
        QList<int> positions, sizes;
        Open(script, [&](FileParametersDialog* d) {
            const auto step = [&](QStyle::SubControl arrow) {
                ClickArrow(d->UpDown1, arrow);
                positions << d->UpDown1->value();
                labels << d->Label3->text();
            };
            step(QStyle::SC_SpinBoxUp);
            step(QStyle::SC_SpinBoxDown);
            step(QStyle::SC_SpinBoxDown);
            step(QStyle::SC_SpinBoxDown);

            ClickArrow(d->SpinEdit1, QStyle::SC_SpinBoxUp);
            sizes << d->SpinEdit1->value();
            QTest::keyClick(d->SpinEdit1, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(d->SpinEdit1, "7");
            sizes << d->SpinEdit1->value();
            ClickArrow(d->SpinEdit1, QStyle::SC_SpinBoxDown);
            sizes << d->SpinEdit1->value();
            d->Button1->click();
        });
        QCOMPARE(positions, (QList<int>{2, 1, 0, 0}));
        QCOMPARE(labels, (QStringList{
                             "Backup Folder is Full Drive + Path.", "Backup to SUB Folder of File.",
                             "Backup to Same Folder as File.", "Backup to Same Folder as File."}));
        QCOMPARE(sizes, (QList<int>{14, 14, 13}));
    }

    void modeTextOutOfRangeLeavesTheLabel() {
        parametersDialog_->ShowBackupTypeText(1);
        parametersDialog_->ShowBackupTypeText(3);
        parametersDialog_->ShowBackupTypeText(-1);
        QCOMPARE(parametersDialog_->Label3->text(), QString("Backup to SUB Folder of File."));
    }

    void cancelEscAndTheCloseBoxChangeNothing_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }

    void cancelEscAndTheCloseBoxChangeNothing() {
        QFETCH(int, how);
        const Values before = Current();
        const QFont fontBefore = documentWindow().SectionEditors(0)->font();
        ModalScript script;
        Open(script, [how](FileParametersDialog* d) {
            ChangeEverything(d);
            if (how == 0) {
                d->Button1->click();
            } else if (how == 1) {
                QTest::keyClick(d->Edit1, Qt::Key_Escape);
            } else {
                d->close();
            }
        });
        QCOMPARE(parametersDialog_->Result(), ModalResult::Cancel);
        QVERIFY(Current() == before);
        QCOMPARE(documentWindow().SectionEditors(0)->font(), fontBefore);
        QCOMPARE(documentWindow().SectionEditors(0)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(sectionListWindow().WordWrap1->isChecked());
        QVERIFY(!QFileInfo::exists(ConfigPath("QMV.ini")));
    }

    void saveThatCannotWriteIsReportedAndStillApplies() {
        // A regular file where the configuration folder should be, which stops root as well.
        const std::string blocker = *dir_ / "not-a-folder";
        WriteBytes(blocker, "x");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(blocker));
        ModalScript script;
        script.Then([this](QWidget* w) {
            if (w != parametersDialog_) {
                return false;
            }
            parametersDialog_->RadioButton1->click();
            parametersDialog_->Button2->click();
            return true;
        });
        script.Answer(QMessageBox::Ok);
        sectionListWindow().MVParameters->trigger();
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(script.messages, QStringList{"Unable to write to QMV.ini"});
        QCOMPARE(state().FontFace, std::string("Arial"));
        QCOMPARE(documentWindow().SectionEditors(0)->font().family(), QString("Arial"));
    }
};

QTEST_MAIN(FileParametersDialogTest)
#include "file_parameters_dialog_test.moc"
