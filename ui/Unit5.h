#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QPlainTextEdit;

// The help window: the editor's usage text, read-only, shown without blocking.
class TForm5 : public QWidget {
    Q_OBJECT

  public:
    explicit TForm5(QWidget* parent = nullptr);

    // Shows the window, or moves and raises it when it is already open, with its outer top-left
    // corner at topLeft.
    void ShowAt(QPoint topLeft);
    // The same, placed at the right edge of beside.
    void ShowAt(const QWidget* beside);

    static QString HelpText();

  private:
    QPlainTextEdit* Memo1;
};
