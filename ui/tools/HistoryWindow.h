#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/history/HistoryStore.h"
#include "ui/document/SectionsStep.h"

class DocumentWindow;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace velloran {
class HistoryKeeper;
struct Session;
}  // namespace velloran

// The History window: the versions of the document in which a section changed, newest first;
// the version chosen beside the section as it is now, scrolled together, the words it lacks and
// the words added since marked. A section, or the whole document, is restored as one step that
// Undo Restore puts back, and stays unsaved until F1.
class HistoryWindow : public QWidget {
    Q_OBJECT

  public:
    explicit HistoryWindow(DocumentWindow* documentWindow, QWidget* parent = nullptr);

    // The run's history and document; before this the window shows nothing. reload cuts the
    // document anew after a restore that changed the number of sections.
    void Attach(velloran::HistoryKeeper* keeper, velloran::Session* session,
                std::function<void()> reload);
    // Shows the history of section k at the right edge of beside.
    void ShowSection(int k, const QWidget* beside);
    int Section() const { return section_; }
    // The versions as they are now, while the window is open and new ones were kept.
    void Refresh();

    void RestoreSectionClick();
    void RestoreDocumentClick();
    void UndoRestoreClick();

    QLabel* Label1;          // which section, or why there is no history
    QTreeWidget* ListView1;  // the versions
    QPlainTextEdit* Memo1;   // the version chosen
    QPlainTextEdit* Memo2;   // the section now
    QLabel* Label2;          // what the version chosen differs in
    QPushButton* RestoreSection;
    QPushButton* RestoreDocument;
    QPushButton* UndoRestore;

    static constexpr int kDesignWidth = 900;
    static constexpr int kDesignHeight = 600;

  private:
    // Keeps the text a restore put into the editors as a version.
    void Restored();
    void Fill();
    void Compare();
    const velloran::Version* Chosen() const;
    // The texts of the version's sections, read through the keeper; nothing after saying why.
    std::optional<std::vector<std::string>> TextsOf(const velloran::Version& v, bool all);

    DocumentWindow* documentWindow_;
    velloran::HistoryKeeper* keeper_ = nullptr;
    velloran::Session* session_ = nullptr;
    std::function<void()> reload_;
    int section_ = 0;
    std::uint64_t shownTold_ = 0;              // the keeper's moments when last filled
    std::vector<velloran::Version> versions_;  // newest first, as listed
    std::optional<SectionsStep> undo_;
};
