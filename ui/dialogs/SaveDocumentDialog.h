#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

#include "core/document/Host.h"

class QLineEdit;
class QPushButton;

// The Save Document dialog. Outcomes: OK "Save Document", No "Do Not Save", Cancel "Do Not Exit"
// or the window closed otherwise. The text is the field's path in file-system bytes.
class SaveDocumentDialog : public QDialog {
    Q_OBJECT

  public:
    explicit SaveDocumentDialog(QWidget* parent = nullptr);

    // Shows the dialog modally with fileName in its field and its outer top-left corner at topLeft.
    velloran::PromptResult Ask(const QString& fileName, bool showDoNotExit, QPoint topLeft);
    // The same, placed at the right edge of beside.
    velloran::PromptResult Ask(const QString& fileName, bool showDoNotExit, const QWidget* beside);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
};
