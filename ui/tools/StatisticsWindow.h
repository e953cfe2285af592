#pragma once

#include <QWidget>

#include "core/document/Host.h"

class QPlainTextEdit;

// The statistics window: lines, words and characters per section and in total, as plain text
// the user may edit and copy. The report is made afresh each time the window is opened.
class StatisticsWindow : public QWidget {
    Q_OBJECT

  public:
    // sections: the section slots counted, 0 to LastSection.
    explicit StatisticsWindow(const velloran::SectionSlots* sections, QWidget* parent = nullptr);

    // Shows the window at the right edge of beside; when it is already open it is only moved
    // and raised, and the report stays as it is.
    void ShowAt(const QWidget* beside);

    // Replaces the text with the report over the sections as they are now.
    void BuildStatistics();

    QPlainTextEdit* Memo1;

    static constexpr int kDesignLeft = 265;
    static constexpr int kDesignTop = 323;
    static constexpr int kDesignWidth = 371;
    static constexpr int kDesignHeight = 444;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    const velloran::SectionSlots* sections_;
};
