#pragma once

#include <QWidget>

#include "core/document/Host.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class DocumentWindow;

// The search window: finds the next match in the active section's editor and counts the
// matches in every section, one result row per section list entry.
class SearchWindow : public QWidget {
    Q_OBJECT

  public:
    // documentWindow holds the editors searched and shows a clicked row; list gives the rows'
    // titles.
    SearchWindow(DocumentWindow* documentWindow, const velloran::SectionList* list,
                 QWidget* parent = nullptr);

    // Shows the window at the right edge of beside, or moves and raises it when already open.
    void ShowAt(const QWidget* beside);

    // "Search": the next match in the editor of ActiveSection, under the command guard.
    void Button1Click();
    // "Search All": one row per section list entry, its count of matches and its title.
    void Button2Click();
    // Shows the section of a result row.
    void ListBox1Click(int row);
    // Keeps the result list along the bottom, client height minus 88 high.
    void FormResize();

    // Focuses the active editor and selects the next match of SearchText there; on a miss the
    // caret goes back to where the selection started. Throws velloran::Error when the editor
    // cannot take the focus.
    bool FindNext();

    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;
    QListWidget* ListBox1;

    static constexpr int kDesignLeft = 757;
    static constexpr int kDesignTop = 2;
    static constexpr int kDesignWidth = 201;
    static constexpr int kDesignHeight = 266;
    static constexpr int kListTop = 88;

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void TakeSearchText();

    DocumentWindow* documentWindow_;
    const velloran::SectionList* list_;
};
