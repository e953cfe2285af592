#include "ui/ShownText.h"

#include <QWidget>

#include "ui/SectionEditor.h"

namespace velloran::ui {

QString ShownTitle(QString text) {
    if (text.size() <= kShownTitleLength) {
        return text;
    }
    qsizetype keep = kShownTitleLength;
    if (text.at(keep - 1).isHighSurrogate()) {
        --keep;  // never half a character
    }
    text.truncate(keep);
    text.append(QChar(0x2026));
    return text;
}

QString ShownTitle(std::string_view bytes) {
    // Only what is shown is converted; one byte is one character of the code page.
    const auto shown = static_cast<std::size_t>(kShownTitleLength) + 1;
    return ShownTitle(SectionEditor::TextFromBytes(bytes.substr(0, shown)));
}

void SetCaption(QWidget* w, const QString& text) {
    // "[*][*]" shows as "[*]".
    QString caption = ShownTitle(text);
    caption.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    w->setWindowTitle(caption);
}

}  // namespace velloran::ui
