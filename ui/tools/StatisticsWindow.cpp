#include "ui/tools/StatisticsWindow.h"

#include <QFont>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/document/State.h"
#include "core/tools/Statistics.h"
#include "ui/document/ShownText.h"
#include "ui/document/TextArea.h"
#include "ui/platform/Geometry.h"

StatisticsWindow::StatisticsWindow(const velloran::SectionSlots* sections, QWidget* parent)
    : QWidget(parent, Qt::Window), sections_(sections) {
    setObjectName(QStringLiteral("TForm4"));
    setWindowTitle(QStringLiteral("Edit File"));
    velloran::ui::PlaceOuter(this, QRect(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight));

    // Fixed pitch, so that the columns line up.
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(11);
    Memo1 = new TextArea(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(font);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
}

void StatisticsWindow::ShowAt(const QWidget* beside) {
    velloran::ui::ShowAtRightEdgeOf(this, beside);
}

void StatisticsWindow::BuildStatistics() {
    const auto& st = velloran::state();
    const auto lines = velloran::BuildStatistics(*sections_, st.LastSection, st.DocumentEncoding);
    std::string report;
    for (const auto& line : lines) {
        if (!report.empty()) {
            report += "\r\n";
        }
        report += line;
    }
    Memo1->setPlainText(velloran::ui::DocumentText(report));
}

void StatisticsWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // A window the window system shows again (restored from an icon) keeps its report.
    if (!e->spontaneous()) {
        BuildStatistics();
    }
}
