#include "ui/platform/Keyboard.h"

#include <QShortcut>
#include <QWidget>

namespace velloran::ui {

void ForwardFunctionKeys(QWidget* window, std::function<void(int key)> handler) {
    const auto shared = std::make_shared<std::function<void(int)>>(std::move(handler));
    for (int key = Qt::Key_F1; key <= Qt::Key_F8; ++key) {
        for (const Qt::KeyboardModifiers m :
             {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
              Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers(Qt::AltModifier)}) {
            auto* shortcut = new QShortcut(QKeySequence(QKeyCombination(m, Qt::Key(key))), window);
            QObject::connect(shortcut, &QShortcut::activated, window,
                             [shared, key] { (*shared)(key); });
        }
    }
}

void CloseOnEscape(QWidget* window) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
}

}  // namespace velloran::ui
