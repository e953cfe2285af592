#pragma once

#include <QTimer>
#include <QWidget>
#include <vector>

#include "core/document/Host.h"
#include "core/progress/ProgressFigures.h"

class QLabel;
class QProgressBar;
class QSpinBox;
class QTreeWidget;

namespace velloran {
class ProgressRecorder;
}

// The words of the last days as bars, drawn in the desktop's colours: the days that met the
// goal in full, the others paler, the goal as a dashed line.
class ProgressChart : public QWidget {
    Q_OBJECT

  public:
    explicit ProgressChart(QWidget* parent = nullptr);

    void SetDays(std::vector<velloran::DayWords> days, int goal);
    const std::vector<velloran::DayWords>& Days() const { return days_; }
    int Goal() const { return goal_; }
    // The bar of day i, in the widget's coordinates.
    QRect BarRect(std::size_t i) const;

  protected:
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;

  private:
    QRect Plot() const;
    std::uint64_t Top() const;

    std::vector<velloran::DayWords> days_;
    int goal_ = 0;
};

// The Progress window: the words written today against the daily goal, the last 30 days, the
// streak of days at the goal and the words added to each section today, from the document's
// progress log and its text as it is now. The goal is set here and kept in progress.ini.
class ProgressWindow : public QWidget {
    Q_OBJECT

  public:
    explicit ProgressWindow(QWidget* parent = nullptr);
    ~ProgressWindow() override;

    // The run's log and document; before this the window shows nothing.
    void Attach(velloran::ProgressRecorder* recorder, const velloran::Session* session);

    // Shows the window at the right edge of beside, or moves and raises it when already open;
    // its figures are those of the moment either way.
    void ShowAt(const QWidget* beside);

    // Shows the figures as they are now.
    void Refresh();

    QLabel* Label1;  // today
    QProgressBar* ProgressBar1;
    QLabel* Label2;  // the streak
    ProgressChart* Chart1;
    QSpinBox* SpinEdit1;     // the goal
    QTreeWidget* ListView1;  // the sections
    QLabel* Label3;          // why progress is not kept, where it is not

    static constexpr int kDesignWidth = 420;
    static constexpr int kDesignHeight = 520;

  protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    void GoalChanged(int goal);

    velloran::ProgressRecorder* recorder_ = nullptr;
    const velloran::Session* session_ = nullptr;
    int goal_ = 0;
    // The start of a new day shows while the window stays open.
    QTimer clock_;
};
