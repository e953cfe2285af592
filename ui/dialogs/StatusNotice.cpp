#include "ui/dialogs/StatusNotice.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QTimer>

#include "ui/platform/Colours.h"
#include "ui/platform/Geometry.h"

StatusNotice::StatusNotice(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TForm11"));
    setWindowTitle(QStringLiteral("Status"));
    setFixedSize(179, 51);
    // A save from an editor goes on typing there; the notice must not take the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);

    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(13);
    font.setBold(true);

    Label1 = new QLabel(QStringLiteral("File is Saved."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(font);
    // Maroon on a light face of its own, whatever the desktop's palette.
    setPalette(velloran::ui::FixedColours(palette(), QPalette::Window, QColor(240, 240, 240),
                                          QColor(128, 0, 0)));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(16, 16, width() - 16 - 4, height() - 16);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &StatusNotice::Timer1Timer);
}

void StatusNotice::ShowPath(const QString& path, QPoint topLeft) {
    Label1->setText(path);
    // A path too long for the window can still be read in full.
    Label1->setToolTip(path);
    velloran::ui::PlaceOuterAt(this, topLeft);
    show();
}

void StatusNotice::ShowPath(const QString& path, const QWidget* beside) {
    const QRect outer = velloran::ui::OuterBounds(beside);
    ShowPath(path, QPoint(outer.x() + 100, outer.y()));
}

void StatusNotice::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Timer1->start();
}

void StatusNotice::Timer1Timer() {
    Timer1->stop();
    hide();
}
