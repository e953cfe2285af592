#pragma once

#include <QDialog>
#include <string>

#include "core/document/Host.h"
#include "core/export/Manuscript.h"

class QComboBox;
class QLineEdit;
class QProcess;
class QListWidget;
class QProgressBar;
class QPushButton;

// File > Export…: the format, the preset, the sections and how paragraphs are cut, chosen for
// the document and remembered for it in velloran/export.ini; the export of a long book shows its
// progress and can be canceled, leaving no file behind.
class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    ExportDialog(velloran::Session& session, QWidget* parent = nullptr);

    // The export as the dialog is set, written to path (bytes); false when it was canceled.
    // Throws velloran::Error.
    bool ExportTo(const std::string& path);
    // The manuscript of the document as the editors hold it now, with the choices shown.
    velloran::Manuscript Book(std::string& text) const;

    QComboBox* FormatBox;
    QComboBox* PresetBox;
    QListWidget* SectionsList;
    QComboBox* ParagraphsBox;
    QLineEdit* TitleEdit;
    QLineEdit* CoverEdit;
    QPushButton* CoverButton;
    QProgressBar* ExportProgress;
    QPushButton* ExportButton;
    QPushButton* CancelButton;

  private:
    void ExportButtonClick();
    void CancelButtonClick();
    void CoverButtonClick();
    // The cover belongs to ebooks alone.
    void FormatChanged();
    void Remember() const;
    // The Markdown export turned into writer's format by pandoc; false when it was canceled.
    bool ExportThroughPandoc(const velloran::Manuscript& m, const char* writer,
                             const std::string& path, const velloran::ExportProgress& progress);
    velloran::Session& session_;
    std::string document_;
    bool exporting_ = false;
    bool canceled_ = false;
    QProcess* pandoc_ = nullptr;
};

// The manuscript of what the editors hold, the writer's choices from velloran/export.ini; text
// keeps the bytes the views point into.
velloran::Manuscript CurrentBook(velloran::Session& session, std::string& text);

// True when the document is sealed or enciphered and the writer agrees that its text is
// written in clear; asked once a run.
bool MayWriteInClear(velloran::Session& session, QWidget* parent);
