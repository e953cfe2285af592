#pragma once

// Tests under a real X server with a window manager, where focus, activation and window frames
// behave as on a desktop. Keys go to the window that has the focus and through the toolkit to its
// focus widget, the way a user's keys arrive; never straight to a chosen widget.

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <optional>

namespace velloran::testing {

// The exit status CTest reports as a skipped test.
inline constexpr int kSkipped = 77;

// Without a display such a test cannot run. A developer's run skips it; a run that promised a
// display (scripts/display.sh sets VELLORAN_DISPLAY_REQUIRED) fails instead, so that a broken
// server is never mistaken for a pass.
inline std::optional<int> DisplayMissing() {
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        return std::nullopt;
    }
    if (qEnvironmentVariableIsSet("VELLORAN_DISPLAY_REQUIRED")) {
        std::fprintf(stderr, "FAIL: a display was promised, but DISPLAY is not set\n");
        return 1;
    }
    std::printf(
        "SKIP: needs an X server with a window manager; run it through scripts/display.sh\n");
    return kSkipped;
}

// True once the window manager has framed w.
inline bool WaitFramed(const QWidget* w) {
    return QTest::qWaitFor([w] { return w->frameGeometry() != w->geometry(); });
}

// Makes w's window the active one, as a click on its title bar does.
inline bool Activate(QWidget* w) {
    QWidget* window = w->window();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// A click, after its window was made active as the click itself would.
inline bool ClickInto(QWidget* w, QPoint at = {}) {
    if (!Activate(w)) {
        return false;
    }
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at.isNull() ? w->rect().center() : at);
    return true;
}

// Keys and text to whatever has the focus.
inline void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
}
inline void Type(const char* text) {
    QTest::keyClicks(static_cast<QWidget*>(nullptr), QString::fromLatin1(text));
}

}  // namespace velloran::testing

// The main of a display test: skips or fails before the toolkit would abort for want of a display.
#define VELLORAN_DISPLAY_TEST_MAIN(TestObject)                         \
    int main(int argc, char** argv) {                                  \
        if (const auto status = velloran::testing::DisplayMissing()) { \
            return *status;                                            \
        }                                                              \
        QApplication app(argc, argv);                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                     \
        TestObject test;                                               \
        return QTest::qExec(&test, argc, argv);                        \
    }
