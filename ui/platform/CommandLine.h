#pragma once

#include <optional>

#include <QIcon>
#include <QStringList>

class QTextStream;

namespace velloran::ui {

// Answers "--help" and "--version" given as the first argument after the program name: writes the
// usage or the version to out and returns the exit status. A file of that name is a document like
// any other, so then, and for every other command line, nothing is written and nullopt returned.
// Needs no QApplication, so that it can run before a display is opened.
std::optional<int> HandleInformationalArguments(const QStringList& args, QTextStream& out);

// The same for the program's own argv, writing to standard output.
std::optional<int> HandleInformationalArguments(int argc, char* argv[]);

// The program's icon, the scalable one that is also installed for the desktop.
QIcon ProgramIcon();

// The peak of this process's own resident memory in KiB, since it started its program: the
// resource usage figure would also count the process that started it.
long PeakResidentKiB();

// For measuring start-up from outside: with VELLORAN_QUIT_WHEN_IDLE set, the first time the
// event loop has nothing left to do the windows are up; the program then prints "idle" and its
// PeakResidentKiB, and ends at once. Needs the QApplication.
void QuitWhenIdleIfAsked();

}  // namespace velloran::ui
