#include "ui/platform/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <QWindow>

namespace velloran::ui {
namespace {

constexpr char kTitleName[] = "velloranAccessibleName";
constexpr char kTitleKey[] = "velloranAccessibleKey";

QMenuBar* BarOf(const QAction* action) {
    for (QObject* o : action->associatedObjects()) {
        if (auto* bar = qobject_cast<QMenuBar*>(o)) {
            return bar;
        }
    }
    return nullptr;
}

// A title of the menu bar, as the toolkit's own menu item tells it but for its name: the
// toolkit takes the name from the caption alone.
class MenuTitle : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    explicit MenuTitle(QAction* action) : action_(action) {}

    bool isValid() const override { return action_ && BarOf(action_); }
    QObject* object() const override { return action_; }
    QWindow* window() const override {
        QMenuBar* bar = BarOf(action_);
        return bar && bar->window() ? bar->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* menu = child(0);
        return menu && menu->rect().contains(x, y) ? menu : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(BarOf(action_));
    }
    QAccessibleInterface* child(int index) const override {
        QMenu* menu = action_ ? action_->menu<QMenu*>() : nullptr;
        return index == 0 && menu ? QAccessible::queryAccessibleInterface(menu) : nullptr;
    }
    int childCount() const override { return action_ && action_->menu<QMenu*>() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child == this->child(0) ? 0 : -1;
    }
    QString text(QAccessible::Text t) const override {
        if (!action_) {
            return {};
        }
        switch (t) {
            case QAccessible::Name:
                return action_->property(kTitleName).toString();
            case QAccessible::Accelerator:
                return action_->property(kTitleKey).toString();
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        QMenuBar* bar = BarOf(action_);
        if (!bar) {
            return {};
        }
        const QRect r = bar->actionGeometry(action_);
        return QRect(bar->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        QMenuBar* bar = BarOf(action_);
        if (!bar || !action_->isVisible()) {
            s.invisible = true;
            return s;
        }
        s.disabled = !action_->isEnabled();
        s.focusable = true;
        s.hasPopup = true;
        s.focused = bar->activeAction() == action_;
        s.pressed = s.focused && action_->menu<QMenu*>() && action_->menu<QMenu*>()->isVisible();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }

    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& name) override {
        if (QMenuBar* bar = BarOf(action_); bar && name == showMenuAction()) {
            bar->setActiveAction(action_);
        }
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return name == showMenuAction() ? QStringList{text(QAccessible::Accelerator)}
                                        : QStringList{};
    }

  private:
    QPointer<QAction> action_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QAction")) {
        auto* action = static_cast<QAction*>(object);
        return MenuTitleName(action).isEmpty() ? nullptr : new MenuTitle(action);
    }
    // A window of the program's own built on a plain widget; the toolkit would call it a
    // client area. Its name is its caption, as for any window. The toolkit's own (menus,
    // tips) it knows how to tell.
    if (object->isWidgetType() && !className.startsWith(u'Q') &&
        object->metaObject()->className() == className &&
        object->metaObject()->superClass() == &QWidget::staticMetaObject) {
        auto* widget = static_cast<QWidget*>(object);
        if (widget->isWindow()) {
            return new QAccessibleWidget(widget, QAccessible::Window);
        }
    }
    return nullptr;
}

}  // namespace

void InstallAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&Factory);
        return true;
    }();
    (void)installed;
}

void NameMenuTitle(QMenu* menu, const QString& name, const QKeySequence& key, QWidget* window) {
    QAction* title = menu->menuAction();
    title->setProperty(kTitleName, name);
    title->setProperty(kTitleKey, key.toString(QKeySequence::NativeText));
    auto* shortcut = new QShortcut(key, window);
    QObject::connect(shortcut, &QShortcut::activated, menu, [title] {
        if (QMenuBar* bar = BarOf(title)) {
            bar->setActiveAction(title);
        }
    });
}

QString WithMnemonic(const QMenu* menu, const QString& caption) {
    QString taken;
    for (const QAction* action : menu->actions()) {
        const QString text = action->text();
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < text.size()) {
            taken += text[amp + 1].toLower();
        }
    }
    const auto free = [&](qsizetype i) {
        return caption[i].isLetterOrNumber() && !taken.contains(caption[i].toLower());
    };
    for (const bool wordStart : {true, false}) {
        for (qsizetype i = 0; i < caption.size(); ++i) {
            if ((!wordStart || i == 0 || caption[i - 1] == QLatin1Char(' ')) && free(i)) {
                return caption.left(i) + QLatin1Char('&') + caption.mid(i);
            }
        }
    }
    return caption;
}

QString MenuTitleName(const QAction* action) {
    return action ? action->property(kTitleName).toString() : QString();
}

}  // namespace velloran::ui
