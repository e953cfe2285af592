#include <QAbstractEventDispatcher>
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "core/InPlaceWrite.h"
#include "core/State.h"
#include "ui/CommandLine.h"
#include "ui/Forms.h"
#include "ui/Unit1.h"

namespace {

// For measuring start-up from outside: with VELLORAN_QUIT_WHEN_IDLE set, the first time the
// event loop has nothing left to do the windows are up; the program then prints "idle" and its
// peak resident size in KiB, and ends at once.
void QuitWhenIdleIfAsked() {
    if (!qEnvironmentVariableIsSet("VELLORAN_QUIT_WHEN_IDLE")) {
        return;
    }
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] {
                         // The peak of this program's own memory, not of whatever started it.
                         long peak = 0;
                         if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
                             char line[256];
                             while (std::fgets(line, sizeof line, status)) {
                                 std::sscanf(line, "VmHWM: %ld", &peak);
                             }
                             std::fclose(status);
                         }
                         std::printf("idle %ld\n", peak);
                         std::fflush(stdout);
                         std::_Exit(0);
                     });
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before the toolkit starts, so that --help and --version work without a display.
    if (auto status = velloran::ui::HandleInformationalArguments(argc, argv)) {
        return *status;
    }
    // Before any file is read: a save that was killed while writing a file over itself left the
    // file's old bytes aside, to be put back.
    velloran::RestoreInterruptedWrites();
    QApplication app(argc, argv);
    QApplication::setApplicationName("velloran");
    QApplication::setApplicationDisplayName("Velloran Editor");
    QApplication::setWindowIcon(velloran::ui::ProgramIcon());
    QGuiApplication::setDesktopFileName("velloran");
    QApplication::setQuitOnLastWindowClosed(false);

    auto forms = velloran::ui::CreateForms(QApplication::arguments());
    QObject::connect(forms->form1.get(), &TForm1::closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    forms->Show();
    QuitWhenIdleIfAsked();
    const int status = app.exec();
    velloran::ForgetKeys(velloran::state());
    return status;
}
