#include "ui/dialogs/KeyPrompt.h"
#include "ui/platform/Geometry.h"

#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/document/Codepage.h"

namespace {

const QString kKeyText = QStringLiteral("Encript Key");

std::u16string_view Utf16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString FromUtf16(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// What the code page makes of text: a character it cannot hold becomes "?".
QString ThroughCodePage(const QString& text) {
    return FromUtf16(velloran::codepage::Decode(velloran::codepage::Encode(Utf16(text))));
}

}  // namespace

KeyPrompt::KeyPrompt(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TForm7"));
    setWindowTitle(kKeyText);

    QFont fieldFont(QStringLiteral("Arial"));
    fieldFont.setPixelSize(13);
    fieldFont.setBold(true);

    Edit1 = new QLineEdit(kKeyText, this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(fieldFont);
    // No prediction, learning or correction of what is typed: it is a key.
    Edit1->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                               Qt::ImhNoAutoUppercase);
    connect(Edit1, &QLineEdit::textEdited, this, &KeyPrompt::Edit1Edited);

    Button1 = new QPushButton(QStringLiteral("Do Encript"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    // Enter must not confirm a half-typed key, so neither button is ever a default button.
    for (QPushButton* button : {Button1, Button2}) {
        button->setFixedWidth(105);
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Edit1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

velloran::PromptResult KeyPrompt::Ask(QPoint topLeft, velloran::KeyText form) {
    form_ = form;
    // The previous key is never shown again.
    ShowWords();
    Edit1->selectAll();
    Edit1->setFocus();
    velloran::ui::PlaceOuterAt(this, topLeft);
    const int code = exec();
    velloran::PromptResult result;
    if (code == QDialog::Accepted) {
        result.result = velloran::ModalResult::OK;
        if (form == velloran::KeyText::Utf8) {
            QByteArray utf8 = Edit1->text().toUtf8();
            result.text.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
            utf8.fill('\0');  // the core wipes its own copy once the key is derived
        } else {
            result.text = velloran::codepage::Encode(Utf16(Edit1->text()));
        }
    } else {
        result.result = velloran::ModalResult::Cancel;
    }
    // The typed key does not stay in the field until the next prompt.
    ShowWords();
    return result;
}

velloran::PromptResult KeyPrompt::Ask(const QWidget* beside, velloran::KeyText form) {
    return Ask(velloran::ui::AtRightEdgeOf(beside, velloran::ui::OuterBounds(this).size()), form);
}

// The field's own words, which a key never typed stays (files made so rely on it), shown as
// words until the first keystroke replaces them.
void KeyPrompt::ShowWords() {
    Edit1->setEchoMode(QLineEdit::Normal);
    Edit1->setText(kKeyText);
}

void KeyPrompt::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            Button2->click();
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

// The field shows what the key will be: characters the code page cannot hold turn into "?" as
// they are typed or pasted. A sealed document's passphrase is UTF-8 and holds every character.
void KeyPrompt::Edit1Edited(const QString& text) {
    // From the first keystroke on, what the field holds is a key: masked, and, as the toolkit
    // does for a masked field, never copied, dragged or offered as the X selection.
    if (Edit1->echoMode() == QLineEdit::Normal) {
        Edit1->setEchoMode(QLineEdit::Password);
    }
    if (form_ == velloran::KeyText::Utf8) {
        return;
    }
    const QString held = ThroughCodePage(text);
    if (held == text) {
        return;
    }
    const int caret = static_cast<int>(ThroughCodePage(text.left(Edit1->cursorPosition())).size());
    Edit1->setText(held);
    Edit1->setCursorPosition(caret);
}
