#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "core/document/State.h"
#include "core/protection/Protection.h"
#include "core/storage/InPlaceWrite.h"
#include "ui/Windows.h"
#include "ui/list/SectionListWindow.h"
#include "ui/platform/CommandLine.h"
#include "ui/platform/Platform.h"

int main(int argc, char* argv[]) {
    // Before the toolkit starts, so that --help and --version work without a display.
    if (auto status = velloran::ui::HandleInformationalArguments(argc, argv)) {
        return *status;
    }
    // Before any file is read: a save that was killed while writing a file over itself left the
    // file's old bytes aside, to be put back.
    auto interrupted = velloran::RestoreInterruptedWrites();
    auto platform = std::make_unique<velloran::ui::PlatformChoice>();
    QApplication app(argc, argv);
    platform.reset();
    QApplication::setApplicationName("velloran");
    QApplication::setApplicationDisplayName("Velloran Editor");
    QApplication::setWindowIcon(velloran::ui::ProgramIcon());
    QGuiApplication::setDesktopFileName("velloran");
    QApplication::setQuitOnLastWindowClosed(false);

    // After the toolkit took its own options out of argv; the rest stays bytes, never decoded.
    auto forms = velloran::ui::CreateWindows(std::vector<std::string>(argv, argv + argc));
    forms->sectionListWindow->TellInterruptedWrites(std::move(interrupted));
    QObject::connect(forms->sectionListWindow.get(), &SectionListWindow::closed, &app,
                     &QApplication::quit, Qt::QueuedConnection);
    forms->Show();
    velloran::ui::QuitWhenIdleIfAsked();
    const int status = app.exec();
    velloran::ForgetKeys(velloran::state());
    return status;
}
