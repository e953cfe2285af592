#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

// The status notice: shows a saved path for two seconds without taking the focus.
class StatusNotice : public QWidget {
    Q_OBJECT

  public:
    explicit StatusNotice(QWidget* parent = nullptr);

    // Shows path with the window's outer top-left corner at topLeft. While the notice is still up
    // it shows the new path and closes when the timer already running ticks.
    void ShowPath(const QString& path, QPoint topLeft);
    // The same, placed at beside's top and 100 pixels right of its left edge.
    void ShowPath(const QString& path, const QWidget* beside);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Timer1Timer();

    QLabel* Label1;
    QTimer* Timer1;
};
