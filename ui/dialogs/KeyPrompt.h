#pragma once

#include <QDialog>
#include <QPoint>

#include "core/document/Host.h"

class QLineEdit;
class QPushButton;

// The key prompt. Its outcome is OK ("Do Encript") or Cancel; the text is the typed key as
// code-page bytes, the form the legacy cipher works on, or as UTF-8 for a sealed document.
class KeyPrompt : public QDialog {
    Q_OBJECT

  public:
    explicit KeyPrompt(QWidget* parent = nullptr);

    // Shows the prompt modally with its outer top-left corner at topLeft.
    velloran::PromptResult Ask(QPoint topLeft,
                               velloran::KeyText form = velloran::KeyText::CodePage);
    // The same, placed at the right edge of beside.
    velloran::PromptResult Ask(const QWidget* beside,
                               velloran::KeyText form = velloran::KeyText::CodePage);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Edit1Edited(const QString& text);
    void ShowWords();

    velloran::KeyText form_ = velloran::KeyText::CodePage;
    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;
};
