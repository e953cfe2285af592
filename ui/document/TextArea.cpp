#include "ui/document/TextArea.h"

#include <QMimeData>

QMimeData* TextArea::createMimeDataFromSelection() const {
    // Breaks come out as block separators (U+2029), or U+2028 where a text holds one.
    QString text = textCursor().selectedText();
    text.replace(QChar(0x2029), u'\n').replace(QChar(0x2028), u'\n');
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}
