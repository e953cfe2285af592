#pragma once

// Tests under a real X server with a window manager, where focus, activation and window frames
// behave as on a desktop. Keys go to the window that has the focus and through the toolkit to its
// focus widget, the way a user's keys arrive; never straight to a chosen widget.

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <optional>

#include "ui/platform/Platform.h"

namespace velloran::testing {

// The exit status CTest reports as a skipped test.
inline constexpr int kSkipped = 77;

// Without a display such a test cannot run. A developer's run skips it; a run that promised a
// display (scripts/display.sh sets VELLORAN_DISPLAY_REQUIRED) fails instead, so that a broken
// server is never mistaken for a pass. A test of the desktop tier (VELLORAN_DESKTOP_TEST) needs a
// Wayland session, which scripts/desktop.sh promises (VELLORAN_DESKTOP_REQUIRED).
inline std::optional<int> DisplayMissing() {
    const bool desktop = qEnvironmentVariableIsSet("VELLORAN_DESKTOP_TEST");
    const bool present = desktop ? !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                 : !qEnvironmentVariableIsEmpty("DISPLAY") ||
                                       !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (present) {
        return std::nullopt;
    }
    if (qEnvironmentVariableIsSet(desktop ? "VELLORAN_DESKTOP_REQUIRED"
                                          : "VELLORAN_DISPLAY_REQUIRED")) {
        std::fprintf(stderr, "FAIL: a %s was promised, but it is not there\n",
                     desktop ? "Wayland session" : "display");
        return 1;
    }
    if (desktop) {
        std::printf("SKIP: needs a Wayland session; run it through scripts/desktop.sh\n");
    } else {
        std::printf(
            "SKIP: needs an X server with a window manager; run it through scripts/display.sh\n");
    }
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

// The main of a display test: skips or fails before the toolkit would abort for want of a display,
// and starts on the platform the program would choose here.
#define VELLORAN_DISPLAY_TEST_MAIN(TestObject)                            \
    int main(int argc, char** argv) {                                     \
        if (const auto status = velloran::testing::DisplayMissing()) {    \
            return *status;                                               \
        }                                                                 \
        auto platform = std::make_unique<velloran::ui::PlatformChoice>(); \
        QApplication app(argc, argv);                                     \
        platform.reset();                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                        \
        TestObject test;                                                  \
        return QTest::qExec(&test, argc, argv);                           \
    }
