#pragma once

#include <QPlainTextEdit>

// A plain-text area whose copies and drags keep every character as it is. The toolkit's own go
// through toPlainText(), which turns U+00A0 into a space.
class TextArea : public QPlainTextEdit {
    Q_OBJECT

  public:
    using QPlainTextEdit::QPlainTextEdit;

  protected:
    QMimeData* createMimeDataFromSelection() const override;
};
