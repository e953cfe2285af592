#include "ui/document/ShownText.h"

#include <QWidget>

#include "core/document/State.h"
#include "ui/document/SectionEditor.h"

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
    // Only what is shown is converted: a character takes one byte of Windows-1252 or up to four
    // of UTF-8, where the cut falls before a character.
    const bool utf8 = state().DocumentEncoding == Encoding::Utf8;
    std::size_t shown = (static_cast<std::size_t>(kShownTitleLength) + 1) * (utf8 ? 4 : 1);
    if (shown >= bytes.size()) {
        shown = bytes.size();
    } else if (utf8) {
        while (shown > 0 && IsContinuation(static_cast<unsigned char>(bytes[shown]))) {
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
