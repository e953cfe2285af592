#pragma once

#include <QObject>

#include "settings/ViewSettings.h"

class QAction;
class QListWidget;
class QMenu;
class QWidget;
class DocumentWindow;

// The View menu's items for the comfort of reading and writing: a dark page for the list and
// the editors, the document window over the whole screen and the editors' text larger or
// smaller. The page and the zoom are kept in view.ini, never in QMV.ini; full screen is not kept.
// Their keys work in every window of the program.
class ViewItems : public QObject {
    Q_OBJECT

  public:
    // Adds the items to view; window reports what cannot be stored.
    ViewItems(QMenu* view, QWidget* window);

    // Shows the list and the document window as view.ini has them.
    void Attach(DocumentWindow* documentWindow, QListWidget* list);

    QAction* MVDarkPage;
    QAction* MVFullScreen;
    QAction* MVZoomIn;
    QAction* MVZoomOut;
    QAction* MVZoomNormal;

  private:
    void ApplyPage();
    void Zoom(int zoom);
    void Store();

    QWidget* window_;
    DocumentWindow* documentWindow_ = nullptr;
    QListWidget* list_ = nullptr;
    velloran::ViewSettings settings_;
};
