#include "ui/ShownText.h"

#include <QWidget>

#include "core/State.h"
#include "ui/SectionEditor.h"

namespace velloran::ui {

QString DocumentText(std::string_view bytes) {
    return SectionEditor::TextFromBytes(bytes, state().DocumentEncoding);
}

std::string DocumentBytes(QStringView text) {
    return SectionEditor::BytesFromText(text, state().DocumentEncoding);
}

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
    // Only what is shown is converted: no character takes more than four bytes, and the cut
    // falls before a character.
    std::size_t shown =
        std::min(bytes.size(), 4 * (static_cast<std::size_t>(kShownTitleLength) + 1));
    if (state().DocumentEncoding == Encoding::Utf8) {
        while (shown < bytes.size() && shown > 0 &&
               IsContinuation(static_cast<unsigned char>(bytes[shown]))) {
            --shown;
        }
    }
    return ShownTitle(DocumentText(bytes.substr(0, shown)));
}

void SetCaption(QWidget* w, const QString& text) {
    // "[*][*]" shows as "[*]".
    QString caption = ShownTitle(text);
    caption.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    w->setWindowTitle(caption);
}

}  // namespace velloran::ui
