#include "ui/dialogs/ExportDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "core/document/Codepage.h"
#include "core/document/Sections.h"
#include "core/export/Export.h"
#include "core/protection/Protection.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
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

// What pandoc writes from the Markdown export, offered where it is installed.
struct PandocFormat {
    const char* caption;
    const char* writer;
    const char* extension;
};
constexpr PandocFormat kPandocFormats[] = {
    {"RTF (through pandoc)", "rtf", "rtf"},
    {"LaTeX (through pandoc)", "latex", "tex"},
    {"AsciiDoc (through pandoc)", "asciidoc", "adoc"},
    {"reStructuredText (through pandoc)", "rst", "rst"},
    {"Org (through pandoc)", "org", "org"},
    {"MediaWiki (through pandoc)", "mediawiki", "wiki"},
};
// The format box's data: an ExportFormat, or this plus the index of a pandoc format.
constexpr int kPandocData = 100;
constexpr std::string_view kPandocPrefix = "pandoc-";

const PandocFormat* PandocFormatOf(int data) {
    const int i = data - kPandocData;
    return i >= 0 && i < static_cast<int>(std::size(kPandocFormats)) ? &kPandocFormats[i] : nullptr;
}

QString PandocProgram() {
    return QStandardPaths::findExecutable("pandoc");
}

// How the format is named in export.ini, and the extension of its files.
std::string FormatName(int data) {
    const PandocFormat* pandoc = PandocFormatOf(data);
    return pandoc ? std::string(kPandocPrefix) + pandoc->writer
                  : std::string(ExportExtension(static_cast<ExportFormat>(data)));
}

std::string ExtensionOf(int data) {
    const PandocFormat* pandoc = PandocFormatOf(data);
    return pandoc ? pandoc->extension
                  : std::string(ExportExtension(static_cast<ExportFormat>(data)));
}

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
    if (!PandocProgram().isEmpty()) {
        for (std::size_t i = 0; i < std::size(kPandocFormats); ++i) {
            FormatBox->addItem(kPandocFormats[i].caption, kPandocData + static_cast<int>(i));
        }
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

    TitleEdit = new QLineEdit(this);
    TitleEdit->setObjectName("TitleEdit");
    TitleEdit->setAccessibleName("Title");
    TitleEdit->setPlaceholderText("The first line of section 0");
    form->addRow("&Title:", TitleEdit);

    CoverEdit = new QLineEdit(this);
    CoverEdit->setObjectName("CoverEdit");
    CoverEdit->setAccessibleName("Cover image");
    CoverEdit->setPlaceholderText("None (EPUB only)");
    CoverButton = new QPushButton("C&hoose…", this);
    CoverButton->setObjectName("CoverButton");
    CoverButton->setAccessibleName("Choose the cover image");
    auto* cover = new QHBoxLayout;
    cover->addWidget(CoverEdit);
    cover->addWidget(CoverButton);
    form->addRow("Co&ver:", cover);
    if (auto* label = qobject_cast<QLabel*>(form->labelForField(cover))) {
        label->setBuddy(CoverEdit);
    }
    connect(CoverButton, &QPushButton::clicked, this, &ExportDialog::CoverButtonClick);
    connect(FormatBox, &QComboBox::currentIndexChanged, this, &ExportDialog::FormatChanged);

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
    setTabOrder(ParagraphsBox, TitleEdit);
    setTabOrder(TitleEdit, CoverEdit);
    setTabOrder(CoverEdit, CoverButton);
    setTabOrder(CoverButton, SectionsList);
    setTabOrder(SectionsList, ExportButton);
    setTabOrder(ExportButton, CancelButton);

    // The document's own choices, as the last export left them.
    const DocumentExportChoices d = LoadDocumentExportChoices(document_);
    const ExportChoices c = LoadExportChoices(document_);
    PresetBox->setCurrentIndex(PresetBox->findData(static_cast<int>(c.preset)));
    ParagraphsBox->setCurrentIndex(ParagraphsBox->findData(static_cast<int>(c.paragraphs)));
    for (int i = 0; i < FormatBox->count(); ++i) {
        if (FormatName(FormatBox->itemData(i).toInt()) == d.format) {
            FormatBox->setCurrentIndex(i);
        }
    }
    TitleEdit->setText(QString::fromStdString(d.title));
    CoverEdit->setText(QFile::decodeName(d.cover.c_str()));
    FormatChanged();
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
    choices.title = TitleEdit->text().trimmed().toStdString();
    choices.coverImage =
        CoverEdit->isEnabled() ? QFile::encodeName(CoverEdit->text()).toStdString() : std::string();
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
    d.format = FormatName(FormatBox->currentData().toInt());
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
    d.title = TitleEdit->text().trimmed().toStdString();
    d.cover = QFile::encodeName(CoverEdit->text()).toStdString();
    SaveDocumentExportChoices(document_, d);
}

bool ExportDialog::ExportTo(const std::string& path) {
    std::string text;
    const Manuscript m = Book(text);
    if (m.chapters.empty() && !m.hasFrontMatter) {
        throw Error("Choose at least one section to export");
    }
    const int data = FormatBox->currentData().toInt();
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
        if (const PandocFormat* pandoc = PandocFormatOf(data)) {
            done = ExportThroughPandoc(m, pandoc->writer, path, progress);
        } else if (static_cast<ExportFormat>(data) == ExportFormat::Pdf) {
            ExportPdf(m, path, progress);
            done = true;
        } else {
            ExportToFile(m, static_cast<ExportFormat>(data), path, progress);
            done = true;
        }
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
    const std::string extension = ExtensionOf(FormatBox->currentData().toInt());
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

bool ExportDialog::ExportThroughPandoc(const Manuscript& m, const char* writer,
                                       const std::string& path,
                                       const velloran::ExportProgress& progress) {
    // Pandoc reads and writes in a folder private to the user; its result then replaces path
    // as a save does, so that a failure or Cancel leaves nothing half written.
    const QTemporaryDir work;
    if (!work.isValid()) {
        throw Error("Cannot make a temporary folder for pandoc");
    }
    const QString markdown = work.filePath("book.md");
    const QString written = work.filePath("book.out");
    ExportToFile(m, ExportFormat::Markdown, QFile::encodeName(markdown).toStdString(), progress);
    QProcess pandoc;
    pandoc.setProgram(PandocProgram());
    pandoc.setArguments({"--from=markdown", QString("--to=") + writer, "--standalone", "--output",
                         written, markdown});
    QEventLoop loop;
    connect(&pandoc, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&pandoc, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    ExportProgress->setRange(0, 0);  // pandoc tells nothing of its progress
    pandoc_ = &pandoc;
    pandoc.start();
    if (pandoc.state() != QProcess::NotRunning) {
        loop.exec();
    }
    pandoc_ = nullptr;
    ExportProgress->setRange(0, 1000);
    if (canceled_) {
        pandoc.waitForFinished();
        return false;
    }
    if (pandoc.error() == QProcess::FailedToStart) {
        throw Error("pandoc could not be started");
    }
    if (pandoc.exitStatus() != QProcess::NormalExit || pandoc.exitCode() != 0) {
        throw Error("pandoc could not write " + std::string(writer) + ": " +
                    pandoc.readAllStandardError().trimmed().left(500).toStdString());
    }
    const auto bytes = ReadWholeFile(QFile::encodeName(written).toStdString());
    if (!bytes) {
        throw Error("pandoc wrote nothing");
    }
    const WriteResult result = ReplaceFile(path, [&](OutputFile& out) { out.Write(*bytes); });
    if (!result) {
        throw Error(Format(kCannotCreate, path), result.Reason());
    }
    return true;
}

void ExportDialog::FormatChanged() {
    const bool ebook = FormatBox->currentData().toInt() == static_cast<int>(ExportFormat::Epub);
    CoverEdit->setEnabled(ebook);
    CoverButton->setEnabled(ebook);
}

void ExportDialog::CoverButtonClick() {
    const QString chosen = QFileDialog::getOpenFileName(this, "Cover", CoverEdit->text(),
                                                        "Images (*.jpg *.jpeg *.png)");
    if (!chosen.isEmpty()) {
        CoverEdit->setText(chosen);
    }
}

void ExportDialog::CancelButtonClick() {
    if (pandoc_) {
        canceled_ = true;
        pandoc_->kill();
    } else if (exporting_) {
        canceled_ = true;
    } else {
        reject();
    }
}
