#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/document/Host.h"
#include "core/tools/Pattern.h"
#include "core/tools/Replace.h"
#include "ui/document/SectionsStep.h"

class DocumentWindow;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ReplacePreview;
class SectionEditor;

// The search window's replacement: a field for the replacement, the options of matching, and
// Replace, Replace All in Section and Replace All in Document, the last one through a preview.
// Whatever a Replace All changed, "Undo Replace All" puts back in one step, every section at once;
// a section never shown gets its text without filling its editor.
class ReplacePanel : public QWidget {
    Q_OBJECT

  public:
    // patternField is the search window's own field, whose text is looked for.
    ReplacePanel(DocumentWindow* documentWindow, const velloran::SectionList* list,
                 QLineEdit* patternField, QWidget* parent = nullptr);

    // Each under the command guard; a pattern that cannot be used is said in Status.
    void ReplaceClick();
    void ReplaceAllInSectionClick();
    void ReplaceAllInDocumentClick();
    void UndoReplaceAllClick();
    bool CanUndo() const { return undo_.has_value(); }

    // Cuts the document into sections anew, as Reload does, after a replacement made or unmade a
    // marker line; set by the window that owns the Reload.
    std::function<void()> reloadSections;
    // Shows the preview and returns whether the writer chose Replace; tests answer it.
    std::function<bool(ReplacePreview&)> runPreview;

    QLineEdit* ReplaceEdit;
    QCheckBox* MatchCase;
    QCheckBox* WholeWords;
    QCheckBox* RegularExpression;
    QPushButton* ReplaceButton;
    QPushButton* ReplaceSectionButton;
    QPushButton* ReplaceDocumentButton;
    QPushButton* UndoButton;
    QLabel* Status;

  signals:
    void undoChanged(bool available);

  private:
    velloran::FindOptions Options() const;
    // The pattern and replacement of the fields, or nothing after saying why in Status.
    std::optional<std::pair<velloran::Pattern, velloran::Replacement>> Compile();
    SectionEditor* ActiveEditor() const;
    // Sets the sections the plan's checked rows change, keeping what puts them back.
    void Apply(const velloran::ReplacePlan& plan);
    void SetStatus(const QString& text);

    DocumentWindow* documentWindow_;
    const velloran::SectionList* list_;
    QLineEdit* patternField_;
    std::optional<SectionsStep> undo_;
};
