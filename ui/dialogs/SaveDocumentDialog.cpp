#include "ui/dialogs/SaveDocumentDialog.h"
#include "ui/platform/Geometry.h"

#include <QFile>
#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Codes passed to done(); a close by the window's close box rejects, which is Cancel too.
constexpr int kSave = QDialog::Accepted;
constexpr int kDoNotSave = 2;

}  // namespace

SaveDocumentDialog::SaveDocumentDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TForm8"));
    setWindowTitle(QStringLiteral("Save Document"));

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(font);
    Edit1->setFixedWidth(305);

    Button1 = new QPushButton(QStringLiteral("Save Document"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Do Not Save"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3 = new QPushButton(QStringLiteral("Do Not Exit"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    // Enter must not pick an answer by accident, so no button is ever a default button.
    for (QPushButton* button : {Button1, Button2, Button3}) {
        button->setFont(font);
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(Button1, &QPushButton::clicked, this, [this] { done(kSave); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(kDoNotSave); });
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Edit1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

velloran::PromptResult SaveDocumentDialog::Ask(const QString& fileName, bool showDoNotExit,
                                               QPoint topLeft) {
    Edit1->setText(fileName);
    Edit1->setFocus();
    Button3->setVisible(showDoNotExit);
    velloran::ui::PlaceOuterAt(this, topLeft);
    const int code = exec();
    velloran::PromptResult result;
    switch (code) {
        case kSave:
            result.result = velloran::ModalResult::OK;
            result.text = QFile::encodeName(Edit1->text()).toStdString();
            break;
        case kDoNotSave:
            result.result = velloran::ModalResult::No;
            break;
        default:
            result.result = velloran::ModalResult::Cancel;
            break;
    }
    return result;
}

velloran::PromptResult SaveDocumentDialog::Ask(const QString& fileName, bool showDoNotExit,
                                               const QWidget* beside) {
    return Ask(fileName, showDoNotExit,
               velloran::ui::AtRightEdgeOf(beside, velloran::ui::OuterBounds(this).size()));
}

void SaveDocumentDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            // Without "Do Not Exit" there is nothing for Esc to mean.
            if (!Button3->isHidden()) {
                Button3->click();
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            break;
        default:
            QDialog::keyPressEvent(event);
            return;
    }
    event->accept();
}
