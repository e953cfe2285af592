#pragma once

#include <QDialog>
#include <memory>

#include "core/tools/Replace.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

// The preview of a replacement across the document: every match with its section, line and the
// words around it, old and new side by side, each with a check box. The list fills as the
// matches are found, the first at once and the rest behind; a match that would make or unmake a
// section marker line comes unchecked. The sections must not change while it is open.
class ReplacePreview : public QDialog {
    Q_OBJECT

  public:
    ReplacePreview(const velloran::SectionSlots& sections, const velloran::SectionList& list,
                   int lastSection, const velloran::Pattern& pattern,
                   const velloran::Replacement& replacement, QWidget* parent = nullptr);
    ~ReplacePreview() override;

    // The plan with the check boxes as the writer left them, every match found: the scan is
    // finished first if it was not. Throws velloran::Error when the pattern proved too complex.
    const velloran::ReplacePlan& Plan();
    // True once every section has been scanned.
    bool Done() const;

    QLabel* Summary;
    QTreeWidget* Rows;
    QPushButton* ReplaceButton;
    QPushButton* CancelButton;

    // Rows added to the list each step of the scan, so that the window answers in between.
    static constexpr std::size_t kRowsPerStep = 500;

  private:
    void Step();
    void AddRows();
    void ShowSummary();

    velloran::ReplaceScan scan_;
    QTimer* timer_ = nullptr;
    std::size_t shown_ = 0;
    QString failure_;
};
