#include "ui/dialogs/ExportDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/document/Codepage.h"
#include "core/document/Sections.h"
#include "core/export/Export.h"
#include "core/protection/Protection.h"
#include "core/storage/Paths.h"
#include "print/PdfExport.h"
#include "settings/ExportSettings.h"
#include "ui/platform/Guard.h"

using namespace velloran;

namespace {

constexpr std::pair<const char*, ExportFormat> kFormats[] = {
    {"DOCX (word processors)", ExportFormat::Docx},
    {"ODT (LibreOffice)", ExportFormat::Odt},
    {"EPUB (ebook readers)", ExportFormat::Epub},
    {"PDF", ExportFormat::Pdf},
    {"HTML", ExportFormat::Html},
    {"Markdown", ExportFormat::Markdown},
    {"Plain text", ExportFormat::Text},
};

std::string FileStem(const std::string& path) {
    std::string name = FileNamePart(path);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string DocumentText(Session& session, std::string& text) {
    const DocumentBuffer joined = JoinedSections(session);
    text.clear();
    joined.ForEachCrLfPiece(0, joined.LineCount(), [&](std::string_view p) { text.append(p); });
    return text;
}

}  // namespace

Manuscript CurrentBook(Session& session, std::string& text) {
    const std::string document = AbsolutePath(session.st.FileName);
    ExportChoices choices = LoadExportChoices(document);
    choices.fallbackTitle = FileStem(document);
    DocumentText(session, text);
    return BuildManuscript(text, session.st.DocumentEncoding, choices);
}

bool MayWriteInClear(Session& session, QWidget* parent) {
    static bool agreed = false;
    const Protection protection = ProtectionOfName(session.st.FileName);
    if (protection == Protection::Plain && !session.st.Enciphered) {
        return true;
    }
    if (!agreed) {
        agreed =
            QMessageBox::question(parent, QApplication::applicationDisplayName(),
                                  "This document is kept sealed or enciphered, but an export "
                                  "or a print holds its text in clear. Go on?") == QMessageBox::Yes;
    }
    return agreed;
}

ExportDialog::ExportDialog(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), document_(AbsolutePath(session.st.FileName)) {
    setObjectName("ExportDialog");
    setWindowTitle("Export");
    setAccessibleName("Export");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    FormatBox = new QComboBox(this);
    FormatBox->setObjectName("FormatBox");
    FormatBox->setAccessibleName("Format");
    for (const auto& [caption, format] : kFormats) {
        FormatBox->addItem(caption, static_cast<int>(format));
    }
    form->addRow("&Format:", FormatBox);

    PresetBox = new QComboBox(this);
    PresetBox->setObjectName("PresetBox");
    PresetBox->setAccessibleName("Preset");
    for (Preset p : {Preset::StandardManuscript, Preset::ReadingCopy, Preset::Ebook}) {
        PresetBox->addItem(QString::fromUtf8(PresetName(p).data()), static_cast<int>(p));
    }
    form->addRow("&Preset:", PresetBox);

    ParagraphsBox = new QComboBox(this);
    ParagraphsBox->setObjectName("ParagraphsBox");
    ParagraphsBox->setAccessibleName("Paragraphs");
    ParagraphsBox->addItem("At blank lines", static_cast<int>(ParagraphRule::BlankLines));
    ParagraphsBox->addItem("At every line break", static_cast<int>(ParagraphRule::LineBreaks));
    form->addRow("P&aragraphs:", ParagraphsBox);

    auto* sectionsLabel = new QLabel("&Sections:", this);
    layout->addWidget(sectionsLabel);
    SectionsList = new QListWidget(this);
    SectionsList->setObjectName("SectionsList");
    SectionsList->setAccessibleName("Sections");
    sectionsLabel->setBuddy(SectionsList);
    layout->addWidget(SectionsList);

    ExportProgress = new QProgressBar(this);
    ExportProgress->setObjectName("ExportProgress");
    ExportProgress->setAccessibleName("Export progress");
    ExportProgress->setRange(0, 1000);
    ExportProgress->setValue(0);
    layout->addWidget(ExportProgress);

    auto* buttons = new QDialogButtonBox(this);
    ExportButton = buttons->addButton("&Export…", QDialogButtonBox::AcceptRole);
    ExportButton->setObjectName("ExportButton");
    ExportButton->setAccessibleName("Export");
    CancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setAccessibleName("Cancel");
    layout->addWidget(buttons);
    connect(ExportButton, &QPushButton::clicked, this,
            [this] { ui::Guarded(this, [this] { ExportButtonClick(); }); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    setTabOrder(FormatBox, PresetBox);
    setTabOrder(PresetBox, ParagraphsBox);
    setTabOrder(ParagraphsBox, SectionsList);
    setTabOrder(SectionsList, ExportButton);
    setTabOrder(ExportButton, CancelButton);

    // The document's own choices, as the last export left them.
    const DocumentExportChoices d = LoadDocumentExportChoices(document_);
    const ExportChoices c = LoadExportChoices(document_);
    PresetBox->setCurrentIndex(PresetBox->findData(static_cast<int>(c.preset)));
    ParagraphsBox->setCurrentIndex(ParagraphsBox->findData(static_cast<int>(c.paragraphs)));
    if (const auto f = ExportFormatNamed(d.format)) {
        FormatBox->setCurrentIndex(FormatBox->findData(static_cast<int>(*f)));
    }
    std::vector<bool> chosen;
    const int last = session.st.LastSection;
    if (!d.sections.empty()) {
        try {
            chosen = ParseSectionList(d.sections, static_cast<std::size_t>(last));
        } catch (const Error&) {
            chosen.clear();  // the document has fewer sections now: all are offered
        }
    }
    for (int k = 0; k <= last; ++k) {
        std::string title = session.list.Title(k);
        if (session.st.DocumentEncoding == Encoding::Windows1252) {
            title = codepage::ToUtf8(title);
        }
        auto* item = new QListWidgetItem(QString::fromStdString(title));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool on = chosen.empty() || chosen[static_cast<std::size_t>(k)];
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        SectionsList->addItem(item);
    }
}

Manuscript ExportDialog::Book(std::string& text) const {
    ExportChoices choices = LoadExportChoices(document_);
    choices.fallbackTitle = FileStem(document_);
    choices.preset = static_cast<Preset>(PresetBox->currentData().toInt());
    choices.paragraphs = static_cast<ParagraphRule>(ParagraphsBox->currentData().toInt());
    std::vector<bool> chosen;
    for (int k = 0; k < SectionsList->count(); ++k) {
        chosen.push_back(SectionsList->item(k)->checkState() == Qt::Checked);
    }
    DocumentText(session_, text);
    return BuildManuscript(text, session_.st.DocumentEncoding, choices, chosen);
}

void ExportDialog::Remember() const {
    DocumentExportChoices d;
    d.preset = static_cast<Preset>(PresetBox->currentData().toInt());
    d.paragraphs = static_cast<ParagraphRule>(ParagraphsBox->currentData().toInt());
    d.format = ExportExtension(static_cast<ExportFormat>(FormatBox->currentData().toInt()));
    std::string list;
    bool all = true;
    for (int k = 0; k < SectionsList->count(); ++k) {
        if (SectionsList->item(k)->checkState() == Qt::Checked) {
            list += (list.empty() ? "" : ",") + std::to_string(k);
        } else {
            all = false;
        }
    }
    d.sections = all ? "" : list;
    const DocumentExportChoices old = LoadDocumentExportChoices(document_);
    d.title = old.title;
    d.cover = old.cover;
    SaveDocumentExportChoices(document_, d);
}

bool ExportDialog::ExportTo(const std::string& path) {
    std::string text;
    const Manuscript m = Book(text);
    if (m.chapters.empty() && !m.hasFrontMatter) {
        throw Error("Choose at least one section to export");
    }
    const auto format = static_cast<ExportFormat>(FormatBox->currentData().toInt());
    canceled_ = false;
    exporting_ = true;
    ExportButton->setEnabled(false);
    // The bar moves and Cancel answers while the book is written.
    const velloran::ExportProgress progress = [this](std::uint64_t done, std::uint64_t total) {
        ExportProgress->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
        QApplication::processEvents();
        return !canceled_;
    };
    bool done = false;
    try {
        if (format == ExportFormat::Pdf) {
            ExportPdf(m, path, progress);
        } else {
            ExportToFile(m, format, path, progress);
        }
        done = true;
    } catch (const ExportCanceled&) {
    } catch (...) {
        exporting_ = false;
        ExportButton->setEnabled(true);
        throw;
    }
    exporting_ = false;
    ExportButton->setEnabled(true);
    ExportProgress->setValue(done ? 1000 : 0);
    return done;
}

void ExportDialog::ExportButtonClick() {
    if (!MayWriteInClear(session_, this)) {
        return;
    }
    const auto format = static_cast<ExportFormat>(FormatBox->currentData().toInt());
    const std::string extension(ExportExtension(format));
    std::string suggested = document_;
    const std::size_t dot = suggested.find_last_of('.');
    if (dot != std::string::npos && dot > suggested.find_last_of('/')) {
        suggested.resize(dot);
    }
    suggested += "." + extension;
    const QString chosen = QFileDialog::getSaveFileName(
        this, "Export", QFile::decodeName(suggested.c_str()),
        QString("%1 (*.%2)").arg(FormatBox->currentText(), QString::fromStdString(extension)));
    if (chosen.isEmpty()) {
        return;
    }
    const std::string path = QFile::encodeName(chosen).toStdString();
    if (path == document_) {
        throw Error("The export would be written over the document itself");
    }
    Remember();
    if (ExportTo(path)) {
        accept();
    }
}

void ExportDialog::CancelButtonClick() {
    if (exporting_) {
        canceled_ = true;
    } else {
        reject();
    }
}
