#include "ui/tools/MergeReportWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "ui/document/SectionEditor.h"
#include "ui/platform/Geometry.h"

namespace {

constexpr int kSectionRole = Qt::UserRole;

}  // namespace

MergeReportWindow::MergeReportWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TForm13"));
    setWindowTitle(QStringLiteral("Merged"));
    // A change on disk arrives while the writer types: the report must not take the keys.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Window managers give a new window the focus all the same unless it takes none; clicks
    // still reach it.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    velloran::ui::PlaceOuter(this, QRect(0, 0, 420, 300));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ListBox1, 1);

    connect(ListBox1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int k = item->data(kSectionRole).toInt();
        if (k >= 0 && onShowSection) {
            onShowSection(k);
        }
    });
}

void MergeReportWindow::ShowReport(const velloran::MergeReport& report, velloran::Encoding encoding,
                                   const QWidget* beside) {
    Label1->setText(SectionEditor::TextFromBytes(report.summary, encoding));
    ListBox1->clear();
    for (const velloran::MergeNote& note : report.notes) {
        auto* item = new QListWidgetItem(SectionEditor::TextFromBytes(note.text, encoding));
        item->setData(kSectionRole, note.section);
        if (note.conflict) {
            QFont font = item->font();
            font.setBold(true);
            item->setFont(font);
            item->setForeground(QColor(128, 0, 0));
            item->setBackground(QColor(248, 224, 224));
        }
        if (note.section >= 0) {
            item->setToolTip(QStringLiteral("Click to show section %1").arg(note.section));
        }
        ListBox1->addItem(item);
    }
    velloran::ui::ShowAtRightEdgeOf(this, beside);
}
