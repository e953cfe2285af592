#include "ui/tools/ProgressWindow.h"

#include <QFile>
#include <QFormLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "core/progress/ProgressRecorder.h"
#include "settings/ProgressSettings.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Colours.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Guard.h"

namespace {

QString WordsText(std::uint64_t n) {
    return n == 1 ? QStringLiteral("1 word") : QStringLiteral("%1 words").arg(n);
}

QString DateOf(std::int64_t day) {
    return QString::fromStdString(velloran::DateText(day));
}

}  // namespace

// ---- the chart

ProgressChart::ProgressChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Chart1"));
    // Base and Text are the pair every palette makes readable, light or dark.
    setBackgroundRole(QPalette::Base);
    setForegroundRole(QPalette::Text);
    setAutoFillBackground(true);
    setMinimumHeight(150);
    setAccessibleName(QStringLiteral("Words a day"));
    // Reached by Tab, so that a screen reader tells its numbers.
    setFocusPolicy(Qt::TabFocus);
}

void ProgressChart::SetDays(std::vector<velloran::DayWords> days, int goal) {
    days_ = std::move(days);
    goal_ = goal;
    // Drawn by hand, the chart is heard as its numbers.
    QStringList told;
    if (goal_ > 0) {
        told << QStringLiteral("Goal %1").arg(WordsText(static_cast<std::uint64_t>(goal_)));
    }
    for (const auto& d : days_) {
        told << DateOf(d.day) + QStringLiteral(": ") + WordsText(d.words);
    }
    setAccessibleDescription(told.join(QStringLiteral("; ")));
    update();
}

QRect ProgressChart::Plot() const {
    const QFontMetrics fm(font());
    return rect().adjusted(fm.horizontalAdvance(QStringLiteral("000000")) + 8, fm.height() / 2 + 4,
                           -6, -(fm.height() + 8));
}

std::uint64_t ProgressChart::Top() const {
    std::uint64_t top = static_cast<std::uint64_t>(std::max(goal_, 0));
    for (const auto& d : days_) {
        top = std::max(top, d.words);
    }
    return std::max<std::uint64_t>(top + top / 10, 10);
}

QRect ProgressChart::BarRect(std::size_t i) const {
    const QRect plot = Plot();
    const double slot = plot.width() / static_cast<double>(std::max<std::size_t>(days_.size(), 1));
    const double gap = slot / 6;
    const int left = plot.left() + static_cast<int>(i * slot + gap);
    const int width = std::max(1, static_cast<int>(slot - 2 * gap));
    const auto height = static_cast<int>(static_cast<double>(days_[i].words) /
                                         static_cast<double>(Top()) * plot.height());
    return {left, plot.bottom() + 1 - height, width, height};
}

void ProgressChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect plot = Plot();
    const QPalette& pal = palette();
    const QColor text = pal.color(QPalette::Text);
    const QFontMetrics fm(font());

    QColor axis = text;
    axis.setAlphaF(0.4);
    painter.setPen(axis);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());

    // A dark theme's selection colour may stand barely apart from its base: bars are lifted
    // towards the text until they can be seen. A day short of the goal keeps the outline.
    const QColor met =
        velloran::ui::StandingOut(pal.color(QPalette::Highlight), pal.color(QPalette::Base), text);
    QColor short_ = met;
    short_.setAlphaF(0.45);
    for (std::size_t i = 0; i < days_.size(); ++i) {
        const bool reached = goal_ > 0 && days_[i].words >= static_cast<std::uint64_t>(goal_);
        const QRect bar = BarRect(i);
        if (goal_ <= 0 || reached) {
            painter.fillRect(bar, met);
        } else if (bar.height() > 0) {
            painter.fillRect(bar, short_);
            painter.setPen(met);
            painter.drawRect(bar.adjusted(0, 0, -1, -1));
        }
    }

    painter.setPen(text);
    const int labelRight = plot.left() - 6;
    auto yLabel = [&](std::uint64_t value, int y) {
        painter.drawText(QRect(0, y - fm.height() / 2, labelRight, fm.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
    };
    yLabel(0, plot.bottom());
    // The best day's height gives the scale, where no other label stands close to it.
    std::size_t best = 0;
    for (std::size_t i = 0; i < days_.size(); ++i) {
        best = days_[i].words > days_[best].words ? i : best;
    }
    const auto heightOf = [&](std::uint64_t words) {
        return plot.bottom() - static_cast<int>(static_cast<double>(words) /
                                                static_cast<double>(Top()) * plot.height());
    };
    if (!days_.empty() && plot.bottom() - heightOf(days_[best].words) > fm.height() &&
        (goal_ <= 0 || std::abs(heightOf(days_[best].words) -
                                heightOf(static_cast<std::uint64_t>(goal_))) > fm.height())) {
        yLabel(days_[best].words, heightOf(days_[best].words));
    }
    if (goal_ > 0) {
        const int y = plot.bottom() - static_cast<int>(static_cast<double>(goal_) /
                                                       static_cast<double>(Top()) * plot.height());
        painter.setPen(QPen(text, 1, Qt::DashLine));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(text);
        yLabel(static_cast<std::uint64_t>(goal_), y);
    }
    if (!days_.empty()) {
        const int y = plot.bottom() + 4;
        painter.drawText(QRect(plot.left(), y, plot.width(), fm.height()),
                         Qt::AlignLeft | Qt::AlignTop, DateOf(days_.front().day));
        painter.drawText(QRect(plot.left(), y, plot.width(), fm.height()),
                         Qt::AlignRight | Qt::AlignTop, tr("Today"));
    }
    // Reached by Tab, it shows where the keys are.
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.backgroundColor = pal.color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

bool ProgressChart::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const QRect plot = Plot();
        if (!days_.empty() && plot.contains(help->pos())) {
            const auto i = std::min(days_.size() - 1,
                                    static_cast<std::size_t>((help->pos().x() - plot.left()) *
                                                             static_cast<int>(days_.size()) /
                                                             std::max(plot.width(), 1)));
            QToolTip::showText(
                help->globalPos(),
                DateOf(days_[i].day) + QStringLiteral(": ") + WordsText(days_[i].words), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(e);
}

// ---- the window

ProgressWindow::ProgressWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TForm12"));
    setWindowTitle(QStringLiteral("Progress"));
    velloran::ui::PlaceOuter(this, QRect(QPoint(265, 100), QSize(kDesignWidth, kDesignHeight)));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    QFont big = Label1->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    Label1->setFont(big);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setAccessibleName(QStringLiteral("Today's words of the daily goal"));
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Chart1 = new ProgressChart(this);

    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setAccessibleName(QStringLiteral("Daily goal"));
    SpinEdit1->setRange(0, velloran::kMostGoal);
    SpinEdit1->setSingleStep(50);
    SpinEdit1->setSpecialValueText(QStringLiteral("Off"));
    SpinEdit1->setSuffix(QStringLiteral(" words"));
    // Stored once the number is complete, not at each digit typed.
    SpinEdit1->setKeyboardTracking(false);
    auto* goalRow = new QFormLayout;
    goalRow->addRow(QStringLiteral("Daily goal:"), SpinEdit1);

    auto* sectionsLabel = new QLabel(QStringLiteral("Words added today, by section:"), this);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Words added today, by section"));
    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({QStringLiteral("Words"), QStringLiteral("Section")});
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    sectionsLabel->setBuddy(ListView1);

    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextFormat(Qt::PlainText);
    Label3->setWordWrap(true);
    Label3->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Label2);
    layout->addWidget(Chart1, 3);
    layout->addLayout(goalRow);
    layout->addWidget(sectionsLabel);
    layout->addWidget(ListView1, 2);
    layout->addWidget(Label3);

    connect(SpinEdit1, &QSpinBox::valueChanged, this, &ProgressWindow::GoalChanged);
    clock_.setInterval(60 * 1000);
    connect(&clock_, &QTimer::timeout, this, &ProgressWindow::Refresh);
}

ProgressWindow::~ProgressWindow() {
    // The log outlives the window: it must not tell a window that is gone.
    if (recorder_) {
        recorder_->SetOnChanged({});
    }
}

void ProgressWindow::Attach(velloran::ProgressRecorder* recorder,
                            const velloran::Session* session) {
    recorder_ = recorder;
    session_ = session;
    // The writer tells from its own thread; the window reads the figures on its own.
    recorder_->SetOnChanged([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible()) {
                    Refresh();
                }
                if (const std::string notice = recorder_->TakeNotice(); !notice.empty()) {
                    velloran::ui::ShowNotice(parentWidget() ? parentWidget() : this,
                                             QString::fromStdString(notice));
                }
            },
            Qt::QueuedConnection);
    });
}

void ProgressWindow::ShowAt(const QWidget* beside) {
    const bool open = isVisible();
    velloran::ui::ShowAtRightEdgeOf(this, beside);
    if (open) {
        Refresh();
    }
}

void ProgressWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous()) {
        // The goal as the file has it now, also when it was edited by hand.
        goal_ = velloran::LoadProgressSettings().Goal;
        const QSignalBlocker block(SpinEdit1);
        SpinEdit1->setValue(goal_);
        Refresh();
    }
    clock_.start();
}

void ProgressWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    clock_.stop();
}

void ProgressWindow::GoalChanged(int goal) {
    if (velloran::ui::Guarded(this, [goal] { velloran::SaveProgressGoal(goal); })) {
        goal_ = goal;
    } else {
        const QSignalBlocker block(SpinEdit1);
        SpinEdit1->setValue(goal_);
    }
    Refresh();
}

void ProgressWindow::Refresh() {
    if (!recorder_ || !session_) {
        return;
    }
    const velloran::ProgressSnapshot snapshot = recorder_->Snapshot();
    const velloran::ProgressFigures f = recorder_->Figures(*session_, velloran::kChartDays, goal_);

    if (f.goal > 0) {
        Label1->setText(QStringLiteral("Today: %1 of %2")
                            .arg(f.wordsToday)
                            .arg(WordsText(static_cast<std::uint64_t>(f.goal))));
        ProgressBar1->setRange(0, f.goal);
        ProgressBar1->setValue(static_cast<int>(
            std::min<std::uint64_t>(f.wordsToday, static_cast<std::uint64_t>(f.goal))));
        const auto goalWords = static_cast<std::uint64_t>(f.goal);
        QString streak = f.streak == 1
                             ? QStringLiteral("Streak: 1 day at the goal")
                             : QStringLiteral("Streak: %1 days at the goal").arg(f.streak);
        if (f.wordsToday < goalWords) {
            streak += QStringLiteral("; %1 to go today").arg(WordsText(goalWords - f.wordsToday));
        }
        Label2->setText(streak);
    } else {
        Label1->setText(QStringLiteral("Today: %1").arg(WordsText(f.wordsToday)));
        Label2->setText(QStringLiteral("Set a daily goal to keep a streak of days that meet it."));
    }
    ProgressBar1->setVisible(f.goal > 0);
    Chart1->SetDays(f.days, f.goal);

    ListView1->clear();
    for (const velloran::SectionToday& s : f.sections) {
        if (s.today == 0) {
            continue;
        }
        auto* item = new QTreeWidgetItem(ListView1);
        item->setText(0, QString::number(s.today));
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(1, velloran::ui::ShownTitle(s.title));
    }

    // Messages carry paths, which are file-system bytes.
    QString note = QFile::decodeName(snapshot.note.c_str());
    if (note.isEmpty() && !snapshot.ready) {
        note = QStringLiteral("Reading the progress log...");
    }
    Label3->setText(note);
    Label3->setVisible(!note.isEmpty());
}
