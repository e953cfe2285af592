#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

// The notice that the document was read again after a change on disk: what changed, for four
// seconds, without taking the focus.
class ReloadNotice : public QWidget {
    Q_OBJECT

  public:
    explicit ReloadNotice(QWidget* parent = nullptr);

    // Shows text at beside's top, 100 pixels right of its left edge, as the status notice stands.
    // A notice still up shows the new text for the whole time again.
    void ShowNotice(const QString& text, const QWidget* beside);

    QLabel* Label1;
    QTimer* Timer1;
};
