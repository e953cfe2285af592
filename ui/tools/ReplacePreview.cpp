#include "ui/tools/ReplacePreview.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/document/Error.h"
#include "ui/document/ShownText.h"

namespace {

// A piece of a line as one line of the list: line breaks shown as a pilcrow.
QString Shown(const std::string& bytes) {
    QString text = velloran::ui::DocumentText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\u00b6"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\u00b6"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\u00b6"));
    return velloran::ui::ShownTitle(text);
}

}  // namespace

ReplacePreview::ReplacePreview(const velloran::SectionSlots& sections,
                               const velloran::SectionList& list, int lastSection,
                               const velloran::Pattern& pattern,
                               const velloran::Replacement& replacement, QWidget* parent)
    : QDialog(parent), scan_(sections, list, lastSection, pattern, replacement) {
    setObjectName(QStringLiteral("ReplacePreview"));
    setWindowTitle(QStringLiteral("Replace All in Document"));
    resize(640, 420);

    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setTextFormat(Qt::PlainText);
    Summary->setAccessibleName(QStringLiteral("Matches found"));
    Rows = new QTreeWidget(this);
    Rows->setObjectName(QStringLiteral("Rows"));
    Rows->setAccessibleName(QStringLiteral("Matches to replace"));
    Rows->setRootIsDecorated(false);
    Rows->setUniformRowHeights(true);
    Rows->setHeaderLabels({QStringLiteral("Section"), QStringLiteral("Line"),
                           QStringLiteral("Text"), QStringLiteral("Replaced by"),
                           QStringLiteral("Around it")});
    Rows->header()->setStretchLastSection(true);
    auto* buttons = new QDialogButtonBox(this);
    ReplaceButton = buttons->addButton(QStringLiteral("Replace"), QDialogButtonBox::AcceptRole);
    ReplaceButton->setObjectName(QStringLiteral("ReplaceButton"));
    CancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(Rows);
    layout->addWidget(buttons);
    setTabOrder(Rows, ReplaceButton);
    setTabOrder(ReplaceButton, CancelButton);

    // The first rows at once, the rest one step at a time while the dialog answers.
    Step();
    timer_ = new QTimer(this);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &ReplacePreview::Step);
    if (!Done()) {
        timer_->start();
    }
}

ReplacePreview::~ReplacePreview() = default;

bool ReplacePreview::Done() const {
    return scan_.Done() || !failure_.isEmpty();
}

void ReplacePreview::Step() {
    try {
        scan_.Continue(kRowsPerStep);
    } catch (const velloran::Error& e) {
        failure_ = QString::fromUtf8(e.what());
        ReplaceButton->setEnabled(false);
    }
    AddRows();
    ShowSummary();
    if (Done() && timer_) {
        timer_->stop();
    }
}

void ReplacePreview::AddRows() {
    const auto& plan = scan_.Plan();
    QList<QTreeWidgetItem*> items;
    for (; shown_ < plan.rows.size(); ++shown_) {
        const velloran::ReplaceRow& r = plan.rows[shown_];
        auto* item = new QTreeWidgetItem;
        item->setText(0,
                      velloran::ui::ShownTitle(plan.titles[static_cast<std::size_t>(r.section)]));
        item->setText(1, QString::number(r.line));
        item->setText(2, Shown(r.oldText));
        item->setText(3, Shown(r.newText));
        QString around = Shown(r.before) + QStringLiteral("[") + Shown(r.oldText) +
                         QStringLiteral("]") + Shown(r.after);
        if (r.changesSections) {
            around = QStringLiteral("Changes the sections: ") + around;
        }
        item->setText(4, around);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, r.checked ? Qt::Checked : Qt::Unchecked);
        items.append(item);
    }
    Rows->addTopLevelItems(items);
}

void ReplacePreview::ShowSummary() {
    if (!failure_.isEmpty()) {
        Summary->setText(failure_);
        return;
    }
    const auto& plan = scan_.Plan();
    const std::size_t n = plan.rows.size();
    const std::size_t sections = plan.SectionsWithMatches();
    QString text = QStringLiteral("%1 %2 in %3 %4")
                       .arg(n)
                       .arg(n == 1 ? QStringLiteral("match") : QStringLiteral("matches"))
                       .arg(sections)
                       .arg(sections == 1 ? QStringLiteral("section") : QStringLiteral("sections"));
    if (!scan_.Done()) {
        text += QStringLiteral(", still looking\u2026");
    }
    Summary->setText(text);
}

const velloran::ReplacePlan& ReplacePreview::Plan() {
    while (!Done()) {
        Step();
    }
    if (!failure_.isEmpty()) {
        throw velloran::Error(failure_.toStdString());
    }
    auto& plan = scan_.Plan();
    for (int i = 0; i < Rows->topLevelItemCount(); ++i) {
        plan.rows[static_cast<std::size_t>(i)].checked =
            Rows->topLevelItem(i)->checkState(0) == Qt::Checked;
    }
    return plan;
}
