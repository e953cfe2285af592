// The Export dialog: what it offers of the document and what it writes as it is set.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <filesystem>

#include "core/document/Sections.h"
#include "core/export/Export.h"
#include "support/TempDir.h"
#include "ui/dialogs/ExportDialog.h"

using namespace velloran;

class ExportDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        dir_ = std::make_unique<testing::TempDir>();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir_->path()));
        ResetState();
        p_ = std::make_unique<PlainSession>();
        p_->buffer.AssignText("Book\r\n[S] One\r\nfirst\r\n[S] Two\r\n\tsecond  text\r\n");
        SplitSections(p_->session);
        state().FileName = *dir_ / "book.vlp";
    }

    // Every section is offered, checked, under its title; the document's remembered list
    // unchecks the others.
    void OffersTheSectionsAsRemembered() {
        {
            ExportDialog dialog(p_->session);
            QCOMPARE(dialog.SectionsList->count(), 3);
            QCOMPARE(dialog.SectionsList->item(2)->text(), QString("[S] Two"));
            QCOMPARE(dialog.SectionsList->item(2)->checkState(), Qt::Checked);
            QCOMPARE(dialog.FormatBox->accessibleName(), QString("Format"));
        }
        std::filesystem::create_directories(*dir_ / "velloran");
        testing::WriteBytes(*dir_ / "velloran/export.ini",
                            "[Document " + (*dir_ / "book.vlp") +
                                "]\nSections=0,2\nFormat=txt\nParagraphs=LineBreaks\n");
        ExportDialog dialog(p_->session);
        QCOMPARE(dialog.SectionsList->item(1)->checkState(), Qt::Unchecked);
        QCOMPARE(dialog.FormatBox->currentData().toInt(), static_cast<int>(ExportFormat::Text));
        QCOMPARE(dialog.ParagraphsBox->currentData().toInt(),
                 static_cast<int>(ParagraphRule::LineBreaks));
    }

    // What the editors hold, not the file, in the format and of the sections chosen.
    void WritesTheChosenSectionsOfTheEditorsText() {
        ExportDialog dialog(p_->session);
        dialog.FormatBox->setCurrentIndex(
            dialog.FormatBox->findData(static_cast<int>(ExportFormat::Text)));
        dialog.SectionsList->item(1)->setCheckState(Qt::Unchecked);
        const std::string out = *dir_ / "book.txt";
        QVERIFY(dialog.ExportTo(out));
        QCOMPARE(testing::ReadBytes(out), std::string("Book\n\nTwo\n\n\tsecond  text\n\n"));
    }

    // A title typed in the dialog stands instead of section 0's first line; the cover is
    // offered for ebooks alone, and an image that is none is refused, leaving no file.
    void TakesTheTitleAndTheCoverGiven() {
        ExportDialog dialog(p_->session);
        dialog.FormatBox->setCurrentIndex(
            dialog.FormatBox->findData(static_cast<int>(ExportFormat::Text)));
        QVERIFY(!dialog.CoverEdit->isEnabled());
        dialog.TitleEdit->setText("  The Other Title ");
        const std::string text = *dir_ / "book.txt";
        QVERIFY(dialog.ExportTo(text));
        QCOMPARE(testing::ReadBytes(text).substr(0, 16), std::string("The Other Title\n"));

        dialog.FormatBox->setCurrentIndex(
            dialog.FormatBox->findData(static_cast<int>(ExportFormat::Epub)));
        QVERIFY(dialog.CoverEdit->isEnabled());
        testing::WriteBytes(*dir_ / "cover.png", "not an image");
        dialog.CoverEdit->setText(QString::fromStdString(*dir_ / "cover.png"));
        QVERIFY_THROWS_EXCEPTION(Error, dialog.ExportTo(*dir_ / "book.epub"));
        QVERIFY(!std::filesystem::exists(*dir_ / "book.epub"));
        QVERIFY(dialog.ExportButton->isEnabled());
    }

    // Where pandoc is installed, its formats are offered too, fed the Markdown export; the
    // result is what pandoc made of the chapters.
    void OffersPandocsFormatsWhereItIsInstalled() {
        if (QStandardPaths::findExecutable("pandoc").isEmpty()) {
            QSKIP("pandoc is not installed");
        }
        const std::string out = *dir_ / "book.rst";
        {
            ExportDialog dialog(p_->session);
            const int rst = dialog.FormatBox->findText("reStructuredText (through pandoc)");
            QVERIFY(rst >= 0);
            dialog.FormatBox->setCurrentIndex(rst);
            QVERIFY(dialog.ExportTo(out));
        }
        const std::string text = testing::ReadBytes(out);
        QVERIFY2(text.find("One\n===") != std::string::npos ||
                     text.find("One\n---") != std::string::npos,
                 text.c_str());
        QVERIFY2(text.find("first") != std::string::npos, text.c_str());
        QVERIFY(text.find("[S]") == std::string::npos);
    }

  private:
    std::unique_ptr<testing::TempDir> dir_;
    std::unique_ptr<PlainSession> p_;
};

QTEST_MAIN(ExportDialogTest)
#include "export_dialog_test.moc"
