#include "ui/dialogs/ReloadNotice.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/platform/Geometry.h"

ReloadNotice::ReloadNotice(QWidget* parent) : QWidget(parent, Qt::Window | Qt::Tool) {
    setObjectName(QStringLiteral("TForm14"));
    setWindowTitle(QStringLiteral("Changed on Disk"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Window managers give a new window the focus all the same unless it takes none; clicks
    // still reach it.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);

    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(13);
    font.setBold(true);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(font);
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setMinimumWidth(240);
    Label1->setMaximumWidth(420);
    // The background the notice sets is light whatever the desktop's: the text is dark on it.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 225));
    palette.setColor(QPalette::WindowText, QColor(128, 0, 0));
    setPalette(palette);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(Label1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(4000);
    connect(Timer1, &QTimer::timeout, this, &QWidget::hide);
}

void ReloadNotice::ShowNotice(const QString& text, const QWidget* beside) {
    Label1->setText(text);
    adjustSize();
    const QRect outer = velloran::ui::OuterBounds(beside);
    velloran::ui::PlaceOuterAt(this, QPoint(outer.x() + 100, outer.y()));
    show();
    Timer1->start();
}
