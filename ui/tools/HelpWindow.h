#pragma once

#include <QString>
#include <QWidget>

class QPlainTextEdit;

// The help window: the editor's usage text, read-only, shown without blocking.
class HelpWindow : public QWidget {
    Q_OBJECT

  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the window at the right edge of beside, or moves and raises it when already open.
    void ShowAt(const QWidget* beside);

    static QString HelpText();

  private:
    QPlainTextEdit* Memo1;
};
