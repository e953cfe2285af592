#include "ui/list/SectionListWindow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>
#include <random>

#include "core/document/Codepage.h"
#include "core/document/State.h"
#include "core/protection/Cipher.h"
#include "core/protection/Seal.h"
#include "support/Documents.h"
#include "support/ModalScript.h"
#include "support/TempDir.h"
#include "ui/Windows.h"
#include "ui/dialogs/SaveDocumentDialog.h"
#include "ui/dialogs/StatusNotice.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Geometry.h"
#include "ui/tools/ReplacePanel.h"
#include "ui/tools/ReplacePreview.h"
#include "ui/tools/SearchWindow.h"
#include "ui/tools/StatisticsWindow.h"

using velloran::Encoding;
using velloran::state;
using velloran::testing::Found;
using velloran::testing::ModalScript;
using velloran::testing::ReadBytes;
using velloran::testing::TempDir;
using velloran::testing::WorkFolder;
using velloran::testing::WriteBytes;

namespace {

// A sealed file as an earlier run wrote it; the runs of these tests derive keys quickly.
void Seal(const std::string& path, const std::string& plain, const QString& passphrase) {
    velloran::SealingParams() = velloran::kQuickestSealParams;
    const auto key =
        velloran::SealKey::Derive(passphrase.toUtf8().toStdString(), velloran::kQuickestSealParams);
    WriteBytes(path, velloran::SealBytes(*key, plain));
}

std::string Unseal(const std::string& path, const QString& passphrase) {
    return velloran::UnsealBytes(ReadBytes(path), passphrase.toUtf8().toStdString(), path);
}

// A passphrase that the legacy key's code page cannot hold.
const QString kPassphrase = QString::fromUtf8("\u043a\u043b\u044e\u0447 \u00e9");

// What a document of that kind is opened as, in the locale of this run.
Encoding Expected(Found found) {
    switch (found) {
        case Found::Utf8:
            return Encoding::Utf8;
        case Found::Cp1252:
            return Encoding::Windows1252;
        case Found::Locale:
            break;
    }
    return velloran::LocaleEncoding();
}

// Bytes read as the encoding reads them, independently of the program's own reading.
QString Read(const QByteArray& bytes, Encoding encoding) {
    if (encoding == Encoding::Utf8) {
        // A byte-order mark is a character of the text.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return decoder(bytes);
    }
    QString text;
    for (char b : bytes) {
        text += QChar(velloran::codepage::ToUnicode(static_cast<unsigned char>(b)));
    }
    return text;
}

QByteArray Hex(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toHex(' ');
}

std::string Enciphered(const std::string& line, const std::string& key) {
    std::string out = line;
    velloran::KeyIndex index;
    velloran::EncipherLine(out, key, index);
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(velloran::testing::Found)

class SectionListWindowTest : public QObject {
    Q_OBJECT

  private:
    // Starts the program in a fresh current folder with its own settings folder.
    velloran::ui::WindowSet& Start(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), "velloran");
        forms_ = velloran::ui::CreateWindows(arguments);
        forms_->sectionListWindow->launcher = [this](QProcess& process) {
            launched_.push_back(process.program());
            launched_ += process.arguments();
            cascade_ = process.processEnvironment().value(velloran::ui::kCascadeVariable);
            return true;
        };
        forms_->Show();
        return *forms_;
    }
    SectionListWindow& sectionListWindow() { return *forms_->sectionListWindow; }
    DocumentWindow& documentWindow() { return *forms_->documentWindow; }
    QString Path(const char* name) const { return QString::fromStdString(*dir_ / name); }
    void Type(int section, const QString& text) {
        auto* editor = documentWindow().SectionEditors(section);
        editor->moveCursor(QTextCursor::End);
        editor->insertPlainText(text);
    }

    std::unique_ptr<WorkFolder> dir_;
    std::unique_ptr<velloran::ui::WindowSet> forms_;
    QStringList launched_;
    QString cascade_;

    std::unique_ptr<TempDir> suite_;

  private slots:
    void initTestCase() {
        // The toolkit's own settings (the open-file dialog's last folder) are bound to one
        // folder for the whole run, not to the first test's configuration folder.
        suite_ = std::make_unique<TempDir>();
        const QString folder = QString::fromStdString(suite_->path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

    void cleanupTestCase() { suite_.reset(); }

    void init() {
        velloran::ResetState();
        dir_ = std::make_unique<WorkFolder>();
        launched_.clear();
    }

    void cleanup() {
        forms_.reset();
        dir_.reset();
    }

    void startWithAnArgument() {
        WriteBytes("Velloran.vlp", "default\r\n");
        WriteBytes("June.vlp", "Intro\r\n[S] One\r\nbody\r\n");
        Start({"June.vlp"});
        QCOMPARE(sectionListWindow().windowTitle(), QString("June.vlp"));
        QCOMPARE(sectionListWindow().ListBox1->count(), 2);
        QCOMPARE(sectionListWindow().ListBox1->item(1)->text(), QString("[S] One"));
        QCOMPARE(QString::fromStdString(state().FileName), QString("June.vlp"));
        QVERIFY(documentWindow().SectionEditors(0)->isVisible());
        QCOMPARE(documentWindow().windowTitle(), QString("Program Description"));
    }

    void startWithOnlyTheDefaultDocument() {
        WriteBytes("Velloran.vlp", "default\r\n");
        Start();
        QCOMPARE(sectionListWindow().windowTitle(), QString("Velloran.vlp"));
        QCOMPARE(sectionListWindow().ListBox1->item(0)->text(), QString("default"));
    }

    void startWithOnlyTheEncipheredDefaultAsksAtOnceAndCancelStillDeciphers() {
        WriteBytes("Velloran.vle", "as stored\r\n");
        ModalScript script;
        script.Click("TForm7", "Button2");
        Start();
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QVERIFY(state().Enciphered);
        QCOMPARE(sectionListWindow().windowTitle(), QString("Velloran.vle"));
        QCOMPARE(documentWindow().SlotText(0), std::string("as stored\r\n"));  // the empty key held
    }

    void startWithAnEncipheredArgumentAndCancelAsksAgainAtTheNextSave() {
        const std::string scrambled = Enciphered("Dear diary", "k3y");
        WriteBytes("June.vle", scrambled + "\r\n");
        ModalScript script;
        script.Click("TForm7", "Button2");
        Start({"June.vle"});
        QVERIFY(script.Done());
        QVERIFY(!state().Enciphered);
        QCOMPARE(documentWindow().SlotText(0), scrambled + "\r\n");

        script.Click("TForm8", "Button1").Click("TForm7", "Button1", "k3y");
        sectionListWindow().MFSaveFile->trigger();
        QVERIFY(script.Done());
        QCOMPARE(ReadBytes("June.vle"), Enciphered(scrambled, "k3y") + "\r\n");
    }

    void startWithoutADocumentAndCancelledDialog() {
        ModalScript script;
        script.ChooseFile(std::nullopt);
        Start({"no-folder/missing.vlp"});
        QVERIFY(script.Done());
        QCOMPARE(script.directories.value(0), QDir::currentPath());
        QCOMPARE(sectionListWindow().ListBox1->count(), 0);
        QCOMPARE(sectionListWindow().windowTitle(), QString("Velloran.vlp"));
        QVERIFY(!documentWindow().SectionEditors(0)->isReadOnly());

        Type(0, "first words");
        script.Click("TForm8", "Button1");
        sectionListWindow().MFSaveFile->trigger();
        QVERIFY(script.Done());
        QCOMPARE(ReadBytes("Velloran.vlp"), std::string("first words\r\n"));
    }

    void settingsAreAppliedAtStart() {
        WriteBytes(*dir_ / "config/QMV.ini",
                   "[Velloran]\r\nLeft=120\r\nTop=30\r\nWidth=260\r\nHeight=500\r\nWidth2=400\r\n"
                   "Heigh2=450\r\nSize=12\r\nFont=Arial\r\nWrap=0\r\nBackupCurr=1\r\n");
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        QCOMPARE(sectionListWindow().frameGeometry(), QRect(120, 30, 260, 500));
        QCOMPARE(documentWindow().frameGeometry(), QRect(380, 30, 400, 450));
        QVERIFY(!sectionListWindow().WordWrap1->isChecked());
        QCOMPARE(QString::fromStdString(state().FontFace), QString("Arial"));
        QCOMPARE(documentWindow().SectionEditors(3)->font().pointSize(), 12);
        QVERIFY(state().BackupCurr);
    }

    void settingsOffEveryScreenStillGiveReachableWindows() {
        const std::string ini =
            "[Velloran]\r\nLeft=99999\r\nTop=-400\r\nWidth=0\r\nHeight=-5\r\n"
            "Width2=-1\r\nHeigh2=0\r\n";
        WriteBytes(*dir_ / "config/QMV.ini", ini);
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        for (QWidget* w : {static_cast<QWidget*>(&sectionListWindow()),
                           static_cast<QWidget*>(&documentWindow())}) {
            const QRect bounds = w->frameGeometry();
            QVERIFY2(bounds.intersects(screen), qPrintable(w->objectName()));
            QVERIFY(bounds.width() >= 120 && bounds.height() >= 160);
        }
        QCOMPARE(ReadBytes(*dir_ / "config/QMV.ini"), ini);
    }

    void menuCaptionsAndNames() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        const auto menus = sectionListWindow().menuBar()->actions();
        QCOMPARE(menus.size(), 4);
        QCOMPARE(menus[0]->text(), QString(" File "));
        QCOMPARE(menus[1]->text(), QString(" Edit "));
        QCOMPARE(menus[2]->text(), QString(" View "));
        QCOMPARE(menus[3]->text(), QString("Panels"));
        const auto caption = [](const QAction* a) { return QString(a->text()).remove('&'); };
        QCOMPARE(caption(sectionListWindow().MEUndoReplaceAll), QString("Undo Replace All"));
        QVERIFY(!sectionListWindow().MEUndoReplaceAll->isEnabled());
        QCOMPARE(caption(sectionListWindow().findChild<QAction*>("MFSaveEncript")),
                 QString("Save Encript"));
        QCOMPARE(caption(sectionListWindow().findChild<QAction*>("N2VPanel1")),
                 QString("2 V Panel - F7"));
        QCOMPARE(caption(sectionListWindow().MFExport), QString::fromUtf8("Export…"));
        QVERIFY(sectionListWindow().WordWrap1->isChecked());
        // Every item of every menu opens by a letter of its own there.
        for (QAction* title : menus) {
            QStringList letters;
            for (const QAction* a : title->menu()->actions()) {
                if (!a->isSeparator()) {
                    const QKeySequence key = QKeySequence::mnemonic(a->text());
                    QVERIFY2(!key.isEmpty(), qPrintable(a->text()));
                    QVERIFY2(!letters.contains(key.toString()), qPrintable(a->text()));
                    letters << key.toString();
                }
            }
        }
    }

    void replaceAllThatMakesAMarkerCutsAnewAndEditUndoesIt() {
        WriteBytes("Velloran.vlp", "top\r\n(S) Chapter\r\ntext\r\n[S] One\r\n");
        Start();
        SearchWindow& search = *forms_->searchWindow;
        ReplacePanel& replace = *search.Replace;
        search.ShowReplace(true);
        search.Edit1->setText("(S)");
        replace.ReplaceEdit->setText("[S]");
        replace.MatchCase->setChecked(true);
        replace.runPreview = [](ReplacePreview& preview) {
            preview.Plan();
            // The writer checks the row that makes a marker line.
            preview.Rows->topLevelItem(0)->setCheckState(0, Qt::Checked);
            return true;
        };
        replace.ReplaceDocumentButton->click();
        QCOMPARE(sectionListWindow().ListBox1->count(), 3);
        QCOMPARE(state().LastSection, 2);
        QCOMPARE(documentWindow().SlotText(1), std::string("[S] Chapter\r\ntext\r\n"));
        QVERIFY(state().Modified);
        QVERIFY(sectionListWindow().MEUndoReplaceAll->isEnabled());

        sectionListWindow().MEUndoReplaceAll->trigger();
        QCOMPARE(sectionListWindow().ListBox1->count(), 2);
        QCOMPARE(state().LastSection, 1);
        QCOMPARE(documentWindow().SlotText(0), std::string("top\r\n(S) Chapter\r\ntext\r\n"));
        QCOMPARE(documentWindow().SlotText(1), std::string("[S] One\r\n"));
        QVERIFY(!sectionListWindow().MEUndoReplaceAll->isEnabled());
    }

    void reloadRecutsAndLaysOutAgain() {
        WriteBytes("Velloran.vlp", "top\r\n[S] One\r\n");
        Start();
        sectionListWindow().ListBox1->setCurrentRow(1);
        QCOMPARE(state().Panel1Section, 1);
        Type(0, "[S] Typed title\r\n");
        sectionListWindow().MFReload->trigger();
        QCOMPARE(sectionListWindow().ListBox1->count(), 3);
        QVERIFY(state().Modified);
        QCOMPARE(state().Panel1Section, 0);
        QVERIFY(documentWindow().SectionEditors(0)->isVisible());
        QVERIFY(!documentWindow().SectionEditors(1)->isVisible());
        QCOMPARE(documentWindow().windowTitle(), QString("top"));
    }

    void startWithASealedDocumentAsksAgainAfterAWrongKey() {
        Seal("June.vls", "Intro\r\n[S] One\r\n", kPassphrase);
        ModalScript script;
        script.Click("TForm7", "Button1", "guess")
            .Answer(QMessageBox::Ok)
            .Click("TForm7", "Button1", kPassphrase);
        Start({"June.vls"});
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(script.messages, QStringList({"Wrong key for June.vls"}));
        QCOMPARE(sectionListWindow().ListBox1->count(), 2);
        QCOMPARE(documentWindow().SlotText(1), std::string("[S] One\r\n"));
        QCOMPARE(sectionListWindow().windowTitle(), QString("June.vls"));
    }

    // Enter answers the question with its default, No: the file keeps every byte.
    void aSealedFileLeftUnopenedIsNotReplacedByDefault() {
        Seal("June.vls", "years of diary\r\n", kPassphrase);
        const std::string old = ReadBytes("June.vls");
        ModalScript script;
        script.Click("TForm7", "Button2");
        Start({"June.vls"});
        QVERIFY(script.Done());
        QCOMPARE(sectionListWindow().ListBox1->count(), 0);

        Type(0, "typed");
        bool defaultIsNo = false;
        script.Then([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                return false;
            }
            defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
            return true;
        });
        sectionListWindow().ListBox1KeyDown(Qt::Key_F1);
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QVERIFY(defaultIsNo);
        QCOMPARE(ReadBytes("June.vls"), old);
        QVERIFY(state().Modified);
    }

    void savingUnderASealedNameSealsWithThePassphraseAsTyped() {
        velloran::SealingParams() = velloran::kQuickestSealParams;
        WriteBytes("June.vlp", "plain\r\n");
        Start({"June.vlp"});
        Type(0, "more");
        ModalScript script;
        script.Click("TForm8", "Button1", "June.vls").Click("TForm7", "Button1", kPassphrase);
        sectionListWindow().MFSaveFile->trigger();
        QVERIFY(script.Done());
        QCOMPARE(Unseal("June.vls", kPassphrase), std::string("plain\r\nmore\r\n"));
        QCOMPARE(ReadBytes("June.vlp"), std::string("plain\r\n"));
        // The caption names the file that F1 writes from now on.
        QCOMPARE(sectionListWindow().windowTitle(), QString("June.vls"));

        // F1 asks again; Cancel goes on with the key in use.
        Type(0, " again");
        script.Click("TForm7", "Button2");
        sectionListWindow().ListBox1KeyDown(Qt::Key_F1);
        QVERIFY(script.Done());
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(Unseal("June.vls", kPassphrase), std::string("plain\r\nmore again\r\n"));
    }

    void decriptAsksBeforeDiscardingChanges() {
        WriteBytes("Velloran.vlp", Enciphered("hidden", "ab") + "\r\n");
        Start();
        Type(0, "typed");
        ModalScript script;
        script.Answer(QMessageBox::No);
        sectionListWindow().MFDecript->trigger();
        QVERIFY(script.Done());
        QCOMPARE(script.messages.size(), 1);
        QVERIFY(documentWindow().SlotText(0).find("typed") != std::string::npos);
        QVERIFY(state().Modified);

        script.Answer(QMessageBox::Yes).Click("TForm7", "Button1", "ab");
        sectionListWindow().MFDecript->trigger();
        QVERIFY(script.Done());
        QCOMPARE(documentWindow().SlotText(0), std::string("hidden\r\n"));
        QVERIFY(!state().Modified);
    }

    void saveFileHidesDoNotExitAndShowsTheNotice() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        Type(0, "more");
        ModalScript script;
        bool doNotExitShown = true;
        script.Then([&](QWidget* w) {
            doNotExitShown = w->findChild<QPushButton*>("Button3")->isVisible();
            w->findChild<QPushButton*>("Button1")->click();
            return w->objectName() == "TForm8";
        });
        sectionListWindow().MFSaveFile->trigger();
        QVERIFY(script.Done());
        QVERIFY(!doNotExitShown);
        QCOMPARE(ReadBytes("Velloran.vlp"), std::string("x\r\nmore\r\n"));
        QVERIFY(!state().Modified);
        auto* notice = forms_->statusNotice.get();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->findChild<QLabel*>("Label1")->text(), QString("Velloran.vlp"));
        QCOMPARE(notice->frameGeometry().topLeft(),
                 documentWindow().frameGeometry().topLeft() + QPoint(100, 0));
    }

    void closingAnUnchangedDocumentAsksNothing() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        QSignalSpy closed(&sectionListWindow(), &SectionListWindow::closed);
        ModalScript script;
        sectionListWindow().MFExit->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(script.unexpected.isEmpty());
    }

    void closingAChangedDocumentAsksOnceAndDoNotExitCancels() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        Type(0, "changed");
        QSignalSpy closed(&sectionListWindow(), &SectionListWindow::closed);
        ModalScript script;
        script.Click("TForm8", "Button3");
        sectionListWindow().close();
        QVERIFY(script.Done());
        QCOMPARE(closed.count(), 0);
        QVERIFY(sectionListWindow().isVisible());

        script.Click("TForm8", "Button2");
        sectionListWindow().MFExit->trigger();
        QVERIFY(script.Done());
        QCOMPARE(script.seen, QStringList({"TForm8", "TForm8"}));  // once per close, not twice
        QCOMPARE(closed.count(), 1);
        QCOMPARE(ReadBytes("Velloran.vlp"), std::string("x\r\n"));
    }

    void aFailedSaveAtExitKeepsTheProgramOpenAndStillAsksLater() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        Type(0, "changed");
        QSignalSpy closed(&sectionListWindow(), &SectionListWindow::closed);
        ModalScript script;
        script.Click("TForm8", "Button1", Path("missing/June.vlp")).Answer(QMessageBox::Ok);
        sectionListWindow().MFExit->trigger();
        QVERIFY(script.Done());
        QCOMPARE(script.messages.value(0), "Cannot create file " + Path("missing/June.vlp"));
        QCOMPARE(closed.count(), 0);
        QVERIFY(state().ExitPrompt);
        QVERIFY(state().Modified);

        script.Click("TForm8", "Button2");
        sectionListWindow().close();
        QVERIFY(script.Done());
        QCOMPARE(closed.count(), 1);
    }

    void newFileStartsThisProgramWithTheChosenPath() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        ModalScript script;
        script.ChooseFile(Path("other.vlp"));
        sectionListWindow().MFNewFile->trigger();
        QVERIFY(script.Done());
        QCOMPARE(launched_,
                 QStringList({QCoreApplication::applicationFilePath(), Path("other.vlp")}));
        // It stands a title bar down and right of this one.
        QVERIFY(cascade_.toInt() > 0);
        QCOMPARE(sectionListWindow().windowTitle(), QString("Velloran.vlp"));
        QCOMPARE(QString::fromStdString(state().FileName), QString("Velloran.vlp"));
    }

    // A file with parts and chapters: the writer picks the chapters' level, or cancels and
    // nothing is written.
    void importAsksWhichHeadingsBeginSections() {
        WriteBytes("Velloran.vlp", "x\r\n");
        WriteBytes("novel.md", "# Part One\n\n## Chapter A\n\nalpha\n\n## Chapter B\n\nbeta\n");
        Start();
        const auto pickLevel = [](std::optional<QString> level) {
            return [level](QWidget* w) {
                auto* dialog = qobject_cast<QInputDialog*>(w);
                if (!dialog || dialog->objectName() != "ImportLevel") {
                    return false;
                }
                if (level) {
                    dialog->setTextValue(*level);
                    dialog->accept();
                } else {
                    dialog->reject();
                }
                return true;
            };
        };
        {
            ModalScript script;
            script.ChooseFile(Path("novel.md")).Then(pickLevel(std::nullopt));
            sectionListWindow().MFImport->trigger();
            QTRY_VERIFY(script.Done());
            QVERIFY(script.unexpected.isEmpty());
        }
        QVERIFY(!QFile::exists("novel.vlp"));
        QVERIFY(launched_.isEmpty());

        ModalScript script;
        script.ChooseFile(Path("novel.md"))
            .Then(pickLevel(QStringLiteral("Headings of level 2")))
            .ChooseFile(Path("novel.vlp"));
        sectionListWindow().MFImport->trigger();
        QTRY_VERIFY(script.Done());
        QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join(", ")));
        const std::string book = ReadBytes("novel.vlp");
        QVERIFY2(book.find("[S] Chapter A\r\n") != std::string::npos, book.c_str());
        QVERIFY(book.find("[S] Chapter B\r\n") != std::string::npos);
        QVERIFY(book.find("[S] Part One") == std::string::npos);
        QCOMPARE(launched_.last(), Path("novel.vlp"));
    }

    void anUnreadableDocumentIsReportedAndTheProgramGoesOn() {
        ::mkfifo("pipe.vlp", 0600);
        ModalScript script;
        script.Answer(QMessageBox::Ok);
        Start({"pipe.vlp"});
        QVERIFY(script.Done());
        QCOMPARE(script.messages.value(0), QString("Cannot open file pipe.vlp"));
        QCOMPARE(sectionListWindow().windowTitle(), QString(SectionListWindow::kDesignCaption));
        QVERIFY(!state().FirstShow);
        QCOMPARE(sectionListWindow().ListBox1->count(), 0);
    }

    void panelsCommandsSetTheMode() {
        WriteBytes("Velloran.vlp", "a\r\n[S] One\r\n[S] Two\r\n");
        Start();
        sectionListWindow().ListBox1->setCurrentRow(2);
        sectionListWindow().N2VPanel1->trigger();
        QCOMPARE(state().PanelMode, 3);
        QVERIFY(documentWindow().SectionEditors(2)->isVisible());
        QVERIFY(documentWindow().SectionEditors(0)->isVisible());
        sectionListWindow().N1Panel1->trigger();
        QCOMPARE(state().PanelMode, 1);
        QVERIFY(!documentWindow().SectionEditors(0)->isVisible());
    }

    void f1InAnEditorSavesAPlainDocumentWithoutADialog() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        Type(0, "y");
        ModalScript script;
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        QVERIFY(script.unexpected.isEmpty());
        QCOMPARE(ReadBytes("Velloran.vlp"), std::string("x\r\ny\r\n"));
        QVERIFY(!state().Modified);
    }

    void functionKeysIgnoreModifiersInTheListAndTheEditors() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        QTest::keyClick(sectionListWindow().ListBox1, Qt::Key_F6, Qt::ControlModifier);
        QCOMPARE(state().PanelMode, 2);
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F5, Qt::ControlModifier);
        QCOMPARE(state().PanelMode, 1);
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F7, Qt::AltModifier);
        QCOMPARE(state().PanelMode, 3);
        QTest::keyClick(sectionListWindow().ListBox1, Qt::Key_F4);
        QVERIFY(forms_->helpWindow->isVisible());
    }

    void shiftPageKeysStepBetweenSections() {
        WriteBytes("Velloran.vlp", "a\r\n[S] One\r\n[S] Two\r\n");
        Start();
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(state().Panel1Section, 0);  // nothing before section 0
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(state().Panel1Section, 1);
        QVERIFY(documentWindow().SectionEditors(1)->isVisible());
        QTest::keyClick(documentWindow().SectionEditors(1), Qt::Key_PageDown, Qt::ShiftModifier);
        QTest::keyClick(documentWindow().SectionEditors(2), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(state().Panel1Section, 2);  // the last section stays
        QTest::keyClick(documentWindow().SectionEditors(2), Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(state().Panel1Section, 1);
        QTest::keyClick(documentWindow().SectionEditors(1), Qt::Key_PageDown);  // without Shift
        QCOMPARE(state().Panel1Section, 1);
    }

    void shiftPageDownInTwoPanesFillsTheSecondPane() {
        WriteBytes("Velloran.vlp",
                   "a\r\n[S] s1\r\n[S] s2\r\n[S] s3\r\n[S] s4\r\n[S] s5\r\n[S] s6\r\n");
        Start();
        sectionListWindow().ListBox1->setCurrentRow(4);
        sectionListWindow().N2HPanel1->trigger();
        QTest::keyClick(documentWindow().SectionEditors(4), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(state().Panel2Section, 5);
        QTest::keyClick(documentWindow().SectionEditors(4), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(state().Panel1Section, 4);
        QCOMPARE(state().Panel2Section, 5);
    }

    void toolWindowsOpenBesideTheirWindows() {
        WriteBytes("Velloran.vlp", "a b\r\n[S] One\r\n");
        Start();
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F3);
        QVERIFY(forms_->searchWindow->isVisible());
        QCOMPARE(forms_->searchWindow->frameGeometry().topLeft(),
                 velloran::ui::RightEdgeOf(&documentWindow()));
        sectionListWindow().Statistics1->trigger();
        QVERIFY(forms_->statisticsWindow->isVisible());
        QCOMPARE(forms_->statisticsWindow->frameGeometry().topLeft(),
                 velloran::ui::RightEdgeOf(&sectionListWindow()));
        auto* report = forms_->statisticsWindow->findChild<QPlainTextEdit*>("Memo1");
        QVERIFY(report->toPlainText().endsWith("   TOTALS"));
        QStringList view;
        for (QAction* a : sectionListWindow().findChild<QMenu*>("MView")->actions()) {
            view << QString(a->text()).remove('&');
        }
        QCOMPARE(view.mid(view.indexOf("Statistics"), 2), (QStringList{"Statistics", "Progress"}));
        sectionListWindow().Progress1->trigger();
        QVERIFY(forms_->progressWindow->isVisible());
        QCOMPARE(forms_->progressWindow->frameGeometry().topLeft(),
                 velloran::ui::RightEdgeOf(&sectionListWindow()));
        ModalScript script;
        script.Click("TForm9", "Button1");
        QTest::keyClick(sectionListWindow().ListBox1, Qt::Key_F2);
        QVERIFY(script.Done());
    }

    void binaryDocumentsOpenAndSaveBackByteForByte() {
        // Random bytes, NULs and the five bytes the code page leaves undefined included, in lines
        // ended the way the editor writes them.
        std::mt19937 rng(7);
        std::string bytes;
        for (int line = 0; line < 400; ++line) {
            const int length = static_cast<int>(rng() % 3000);
            for (int i = 0; i < length; ++i) {
                char c = static_cast<char>(rng() % 256);
                bytes.push_back(c == '\r' || c == '\n' ? '\0' : c);
            }
            bytes += "\r\n";
        }
        bytes += std::string(1 << 16, '\x9d') + "\r\n";  // one long line
        WriteBytes("blob.vlp", bytes);
        Start({"blob.vlp"});
        Type(0, "");  // marks nothing, changes nothing
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        QCOMPARE(ReadBytes("blob.vlp").size(), bytes.size());
        QVERIFY(ReadBytes("blob.vlp") == bytes);
    }

    // Saves a killed run left unfinished are told before the document is read: put back, or
    // kept aside where the user finds them.
    void interruptedSavesAreToldAtStart() {
        WriteBytes("June.vlp", "x\r\n");
        forms_ = velloran::ui::CreateWindows({"velloran", "June.vlp"});
        using velloran::KeptBecause;
        forms_->sectionListWindow->TellInterruptedWrites(
            {{"/d/June.vlp", "/s/secured-1-2", true},
             {"/d/Gone.vlp", "/s/unrestored-1-3", false},
             {"/d/Mended.vlp", "/s/unrestored-changed-1-4", false, KeptBecause::kChanged},
             {"/m/Usb.vlp", "/s/secured-2-5", false, KeptBecause::kUnreachable},
             {"", "/s/secured-1-6", false, KeptBecause::kNotPrivate}});
        ModalScript script;
        for (int i = 0; i < 5; ++i) {
            script.Answer(QMessageBox::Ok);
        }
        forms_->Show();
        QVERIFY(script.Done());
        QCOMPARE(script.messages,
                 QStringList({"A save of /d/June.vlp was interrupted when the program stopped; its "
                              "previous version was put back.",
                              "A save of /d/Gone.vlp was interrupted when the program stopped, and "
                              "the file has since been removed or replaced; its previous version "
                              "is kept in /s/unrestored-1-3 until you remove it.",
                              "A save of /d/Mended.vlp was interrupted when the program stopped, "
                              "but the file has been changed since; its previous version is kept "
                              "in /s/unrestored-changed-1-4 until you remove it.",
                              "A save of /m/Usb.vlp was interrupted when the program stopped, and "
                              "the file cannot be reached or written now (its disk may not be "
                              "mounted); its previous version is kept in /s/secured-2-5 and will "
                              "be put back when the file can be reached.",
                              "/s/secured-1-6 claims to hold the previous version of a file, but "
                              "it is a link, belongs to another user or others may change it, so "
                              "nothing was put back from it. Someone else may have placed it "
                              "there: look at it, then remove it."}));
        QCOMPARE(documentWindow().SlotText(0), std::string("x\r\n"));
    }

    // Each document by which an encoding is told opens in that encoding, shows its first line
    // through it, and saves back byte for byte from editors that were all filled; a save only
    // ends the last line with CR LF.
    void documentsOpenInTheirEncodingAndSaveByteForByte_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Found>("found");
        for (const auto& sample : velloran::testing::EncodingSamples()) {
            QTest::newRow(sample.name) << QByteArray::fromStdString(sample.bytes) << sample.found;
        }
    }
    void documentsOpenInTheirEncodingAndSaveByteForByte() {
        QFETCH(QByteArray, bytes);
        QFETCH(Found, found);
        WriteBytes("doc.vlp", bytes.toStdString());
        Start({"doc.vlp"});
        const Encoding encoding = Expected(found);
        QCOMPARE(state().DocumentEncoding, encoding);
        const auto firstLine = bytes.indexOf('\r');
        QCOMPARE(sectionListWindow().ListBox1->item(0)->text(),
                 Read(firstLine < 0 ? bytes : bytes.left(firstLine), encoding));
        for (int k = 0; k <= state().LastSection; ++k) {
            documentWindow().SectionEditors(k);
        }
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        std::string saved = bytes.toStdString();
        if (!saved.ends_with("\r\n")) {
            saved += "\r\n";
        }
        QCOMPARE(Hex(ReadBytes("doc.vlp")), Hex(saved));
    }

    // "ł я ά 日" typed and pasted at the end: a UTF-8 document saves their UTF-8 bytes, a
    // Windows-1252 one "?" for each; one of ASCII alone, and a new one, go by the locale.
    void typedAndPastedLettersSaveInTheDocumentsEncoding_data() {
        QTest::addColumn<QByteArray>("bytes");  // null for no document
        QTest::addColumn<Found>("found");
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9\r\n") << Found::Utf8;
        QTest::newRow("Windows-1252") << QByteArray("caf\xe9\r\n") << Found::Cp1252;
        QTest::newRow("ASCII alone") << QByteArray("cafe\r\n") << Found::Locale;
        QTest::newRow("new") << QByteArray() << Found::Locale;
    }
    void typedAndPastedLettersSaveInTheDocumentsEncoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(Found, found);
        ModalScript script;
        if (bytes.isNull()) {
            script.ChooseFile(std::nullopt);
        } else {
            WriteBytes("Velloran.vlp", bytes.toStdString());
        }
        Start();
        QVERIFY(script.Done());
        SectionEditor* ed = documentWindow().SectionEditors(0);
        ed->moveCursor(QTextCursor::End);
        const QString letters = QStringLiteral(u"\u0142 \u044f \u03ac \u65e5");
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, letters);
        QApplication::sendEvent(ed, &typed);
        QGuiApplication::clipboard()->setText(letters);
        ed->paste();
        QTest::keyClick(ed, Qt::Key_F1);
        const std::string entered = Expected(found) == Encoding::Utf8
                                        ? "\xc5\x82 \xd1\x8f \xce\xac \xe6\x97\xa5"
                                        : "? ? ? ?";
        QCOMPARE(Hex(ReadBytes("Velloran.vlp")),
                 Hex(bytes.toStdString() + entered + entered + "\r\n"));
    }

    // Titles through the document's encoding, in the list, the document window's caption, the
    // search rows and the statistics; a long one is cut before a whole character.
    void titlesAndCaptionsShowTheDocumentsCharacters_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("statistics");
        const QString smiles = QString(QStringLiteral(u"\U0001F600")).repeated(400);
        QTest::newRow("UTF-8")
            << QByteArray("Caf\xc3\xa9\r\n[S] \xe6\x97\xa5\xe6\x9c\xac\r\ntext\r\n[S] x" +
                          QByteArray("\xf0\x9f\x98\x80").repeated(400) + "\r\n")
            << QStringList{QStringLiteral(u"Caf\u00e9"), QStringLiteral(u"[S] \u65e5\u672c"),
                           // 299 code units: the 300th would be half of a pair
                           "[S] x" + smiles.left(294) + QChar(0x2026)}
            << QStringLiteral(u"\u65e5") << QStringLiteral(u"   2     3     10   [S] \u65e5\u672c");
        QTest::newRow("Windows-1252")
            << QByteArray("Caf\xe9\r\n[S] \x80uro\r\ntext\r\n[S] x" + QByteArray(400, '\xe9') +
                          "\r\n")
            << QStringList{QStringLiteral(u"Caf\u00e9"), QStringLiteral(u"[S] \u20acuro"),
                           "[S] x" + QString(295, QChar(0xe9)) + QChar(0x2026)}
            << QStringLiteral(u"\u20ac") << QStringLiteral(u"   2     3     12   [S] \u20acuro");
    }
    void titlesAndCaptionsShowTheDocumentsCharacters() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, titles);
        QFETCH(QString, search);
        QFETCH(QString, statistics);
        WriteBytes("Velloran.vlp", bytes.toStdString());
        Start();
        QStringList shown;
        for (int k = 0; k < sectionListWindow().ListBox1->count(); ++k) {
            shown << sectionListWindow().ListBox1->item(k)->text();
        }
        QCOMPARE(shown, titles);
        sectionListWindow().ListBox1->setCurrentRow(1);
        QCOMPARE(documentWindow().windowTitle(), titles[1]);
        sectionListWindow().ListBox1->setCurrentRow(2);
        QCOMPARE(documentWindow().windowTitle(), titles[2]);

        auto& searchWindow = *forms_->searchWindow;
        searchWindow.Edit1->setText(search);
        searchWindow.Button2->click();
        QCOMPARE(searchWindow.ListBox1->count(), 3);
        QCOMPARE(searchWindow.ListBox1->item(0)->text(), "0    " + titles[0]);
        QCOMPARE(searchWindow.ListBox1->item(1)->text(), "1    " + titles[1]);

        sectionListWindow().Statistics1->trigger();
        const QString report = forms_->statisticsWindow->Memo1->toPlainText();
        QVERIFY2(report.contains(statistics), qPrintable(report.left(200)));
    }

    // Deciphered with its key, an enciphered UTF-8 document shows its characters, saves back
    // to the same bytes, and what is typed into it is enciphered as UTF-8.
    void anEncipheredUtf8DocumentRoundTrips() {
        const std::string plain =
            "Caf\xc3\xa9\r\n[S] \xc5\x81\xc3\xb3"
            "d\xc5\xba\r\n";
        const std::string file = velloran::testing::EncipherInPlace(plain, "k3y");
        WriteBytes("Diary.vle", file);
        ModalScript script;
        script.Click("TForm7", "Button1", "k3y");
        Start({"Diary.vle"});
        QVERIFY(script.Done());
        QCOMPARE(state().DocumentEncoding, Encoding::Utf8);
        QCOMPARE(sectionListWindow().ListBox1->item(1)->text(),
                 QStringLiteral(u"[S] \u0141\u00f3d\u017a"));
        documentWindow().SectionEditors(1);

        script.Click("TForm7", "Button1", "k3y");
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        QVERIFY(script.Done());
        QCOMPARE(Hex(ReadBytes("Diary.vle")), Hex(file));

        sectionListWindow().ListBox1->setCurrentRow(1);
        SectionEditor* ed = documentWindow().SectionEditors(1);
        ed->moveCursor(QTextCursor::End);
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                        QStringLiteral(u"\u0142"));
        QApplication::sendEvent(ed, &typed);
        script.Click("TForm7", "Button1", "k3y");
        QTest::keyClick(ed, Qt::Key_F1);
        QVERIFY(script.Done());
        QCOMPARE(Hex(ReadBytes("Diary.vle")),
                 Hex(velloran::testing::EncipherInPlace(plain + "\xc5\x82\r\n", "k3y")));
    }

    // A file name that is not UTF-8 reaches the program as its bytes, opens, and is saved under
    // the same bytes; the caption shows it as the platform decodes file names.
    void aDocumentArgumentIsTakenAsBytes() {
        const std::string name = "\xe9t\xe9.vlp";  // Latin-1
        WriteBytes(name, "x\r\n");
        Start({name});
        QCOMPARE(state().FileName, name);
        QCOMPARE(documentWindow().SlotText(0), std::string("x\r\n"));
        QCOMPARE(sectionListWindow().windowTitle(),
                 QFile::decodeName(QByteArray::fromStdString(name)));
        Type(0, "y");
        QTest::keyClick(documentWindow().SectionEditors(0), Qt::Key_F1);
        QCOMPARE(ReadBytes(name), std::string("x\r\ny\r\n"));
        // The document, the settings folder and the state folder.
        QCOMPARE(dir_->EntryCount(), std::size_t(3));
    }

    // The toolkit reads "[*]" in a caption as its modified marker; captions from a file name
    // or a first line show it as it is.
    void captionsShowTheirTextAsItIs() {
        WriteBytes("odd[*]name.vlp", "Top [*] line\r\n[S] [*][*] two\r\n");
        Start({"odd[*]name.vlp"});
        QCOMPARE(sectionListWindow().windowHandle()->title(), QString("odd[*]name.vlp"));
        sectionListWindow().ListBox1->setCurrentRow(1);
        QCOMPARE(documentWindow().windowHandle()->title(), QString("[S] [*][*] two"));
        sectionListWindow().ListBox1->setCurrentRow(0);
        QCOMPARE(documentWindow().windowHandle()->title(), QString("Top [*] line"));
    }

    // Titles of any length are shown cut short, in the list, the caption and the search rows;
    // whatever uses a title gets it whole.
    void longTitlesAreShownCutAndKeptWhole() {
        const std::string first(20000, 'x');
        const std::string marker = "[S] " + std::string(20000, 'y');
        WriteBytes("long.vlp", first + "\r\n" + marker + "\r\nbody\r\n");
        Start({"long.vlp"});
        const QString cut = QString(velloran::ui::kShownTitleLength, u'x') + QChar(0x2026);
        QCOMPARE(sectionListWindow().ListBox1->item(0)->text(), cut);
        QCOMPARE(sectionListWindow().ListBox1->item(1)->text().size(),
                 velloran::ui::kShownTitleLength + 1);
        QCOMPARE(sectionListWindow().Title(0), first);
        QCOMPARE(sectionListWindow().Title(1), marker);
        sectionListWindow().ListBox1->setCurrentRow(1);
        sectionListWindow().ListBox1->setCurrentRow(0);
        QCOMPARE(documentWindow().windowTitle(), cut);

        auto& search = *forms_->searchWindow;
        search.Edit1->setText("yy");
        search.Button2->click();
        QCOMPARE(search.ListBox1->count(), 2);
        QCOMPARE(search.ListBox1->item(0)->text(), "0    " + cut.left(295) + QChar(0x2026));
        QCOMPARE(search.ListBox1->item(1)->text().left(11), QString("19999    [S"));
        QCOMPARE(search.ListBox1->item(1)->text().size(), velloran::ui::kShownTitleLength + 1);
    }

    // A click in the list brings back a closed document window, also when it shows the clicked
    // section already, as with a single section.
    void aListClickBringsBackTheClosedDocumentWindow_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("a single section") << QByteArray("only\r\n");
        QTest::newRow("the section shown") << QByteArray("a\r\n[S] One\r\n");
    }
    void aListClickBringsBackTheClosedDocumentWindow() {
        QFETCH(QByteArray, text);
        WriteBytes("Velloran.vlp", text.toStdString());
        Start();
        QVERIFY(documentWindow().close());
        QVERIFY(!documentWindow().isVisible());
        QListWidget* list = sectionListWindow().ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
        QVERIFY(documentWindow().isVisible());
        QVERIFY(documentWindow().SectionEditors(0)->isVisible());
    }

    void wordWrapTogglesTheEditors() {
        WriteBytes("Velloran.vlp", "x\r\n");
        Start();
        sectionListWindow().WordWrap1->trigger();
        QVERIFY(!state().WordWrap);
        QCOMPARE(documentWindow().SectionEditors(0)->lineWrapMode(), QPlainTextEdit::NoWrap);
    }
};

QTEST_MAIN(SectionListWindowTest)
#include "section_list_window_test.moc"
