#pragma once

#include <QWidget>
#include <functional>

#include "core/document/Encoding.h"
#include "core/document/Host.h"

class QLabel;
class QListWidget;

// The merge report: what a merge of a change on disk did, a line per section, the sections
// where both versions of lines stand between marker lines first among them by their colour. A
// click on a line shows its section.
class MergeReportWindow : public QWidget {
    Q_OBJECT

  public:
    explicit MergeReportWindow(QWidget* parent = nullptr);

    // Fills the window with the report, whose titles are bytes in encoding, and shows it at
    // beside's right edge without taking the focus from the editor being typed in.
    void ShowReport(const velloran::MergeReport& report, velloran::Encoding encoding,
                    const QWidget* beside);

    // A line of the report was clicked: show section k.
    std::function<void(int k)> onShowSection;

    QLabel* Label1;
    QListWidget* ListBox1;
};
