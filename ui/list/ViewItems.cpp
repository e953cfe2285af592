#include "ui/list/ViewItems.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <algorithm>

#include "ui/document/DocumentWindow.h"
#include "ui/platform/Accessibility.h"
#include "ui/platform/Colours.h"
#include "ui/platform/DarkPage.h"
#include "ui/platform/Guard.h"

namespace {

// The list's own pastel, under the light page.
const QColor kListColour(224, 224, 192);

QAction* Item(QMenu* menu, const char* caption, const char* name,
              std::initializer_list<QKeySequence> keys) {
    QAction* action = menu->addAction(velloran::ui::WithMnemonic(menu, QString::fromUtf8(caption)));
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(QList<QKeySequence>(keys));
    action->setShortcutContext(Qt::ApplicationShortcut);
    return action;
}

}  // namespace

ViewItems::ViewItems(QMenu* view, QWidget* window) : QObject(window), window_(window) {
    view->addSeparator();
    MVDarkPage = Item(view, "Dark Page", "MVDarkPage", {});
    MVDarkPage->setCheckable(true);
    MVFullScreen = Item(view, "Full Screen", "MVFullScreen", {QKeySequence(Qt::Key_F11)});
    MVFullScreen->setCheckable(true);
    // Ctrl and the key of + and = alike, with or without Shift, as keyboards differ.
    MVZoomIn = Item(view, "Zoom In", "MVZoomIn",
                    {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus)});
    MVZoomOut = Item(view, "Zoom Out", "MVZoomOut",
                     {QKeySequence(Qt::CTRL | Qt::Key_Minus),
                      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Underscore)});
    MVZoomNormal = Item(view, "Normal Size", "MVZoomNormal", {QKeySequence(Qt::CTRL | Qt::Key_0)});

    connect(MVDarkPage, &QAction::triggered, this, [this](bool on) {
        settings_.DarkPage = on;
        ApplyPage();
        Store();
    });
    connect(MVFullScreen, &QAction::triggered, this, [this] {
        if (documentWindow_) {
            // The window manager may have ended it meanwhile: the window tells.
            const bool on = !documentWindow_->isFullScreen();
            documentWindow_->SetFullScreen(on);
            MVFullScreen->setChecked(on);
        }
    });
    connect(MVZoomIn, &QAction::triggered, this, [this] { Zoom(settings_.Zoom + 1); });
    connect(MVZoomOut, &QAction::triggered, this, [this] { Zoom(settings_.Zoom - 1); });
    connect(MVZoomNormal, &QAction::triggered, this, [this] { Zoom(0); });
}

void ViewItems::Attach(DocumentWindow* documentWindow, QListWidget* list) {
    documentWindow_ = documentWindow;
    list_ = list;
    settings_ = velloran::LoadViewSettings();
    MVDarkPage->setChecked(settings_.DarkPage);
    ApplyPage();
    documentWindow_->SetZoom(settings_.Zoom);
}

void ViewItems::ApplyPage() {
    if (!documentWindow_) {
        return;
    }
    documentWindow_->SetDarkPage(settings_.DarkPage);
    const QPalette desktop = QApplication::palette(list_);
    list_->setPalette(
        settings_.DarkPage
            ? velloran::ui::DarkPagePalette(desktop, QPalette::Base, kListColour, desktop)
            : velloran::ui::FixedColours(desktop, QPalette::Base, kListColour));
}

void ViewItems::Zoom(int zoom) {
    settings_.Zoom = std::clamp(zoom, velloran::kLeastZoom, velloran::kMostZoom);
    if (documentWindow_) {
        documentWindow_->SetZoom(settings_.Zoom);
    }
    Store();
}

void ViewItems::Store() {
    velloran::ui::Guarded(window_, [this] { velloran::SaveViewSettings(settings_); });
}
