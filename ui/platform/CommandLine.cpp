#include "ui/platform/CommandLine.h"

#include <cstdio>
#include <cstdlib>

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "core/recovery/Recovery.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"
#include "ui/platform/Platform.h"

#ifndef VELLORAN_VERSION
#error "VELLORAN_VERSION must name the project's version"
#endif

namespace velloran::ui {

namespace {

void PrintUsage(QTextStream& out) {
    const QString settings = QFile::decodeName(ResolveProfilePath(kSettingsFile).c_str());
    out << "Usage: velloran [DOCUMENT]\n"
           "       velloran --help | --version\n"
           "\n"
           "Edits a plain-text document organised into sections, each begun by a line that\n"
           "starts with [S].\n"
           "\n"
           "DOCUMENT     the document to open; a name ending in .vle is an enciphered\n"
           "             document, whose key is asked for; one that does not exist yet is\n"
           "             opened when a recovery record of it is kept\n"
           "--help       print this text and exit\n"
           "--version    print the version and exit\n"
           "\n"
           "Without a DOCUMENT that names an existing file, Velloran.vlp in the current\n"
           "folder is opened, else Velloran.vle there, else a file is asked for.\n"
           "A file named --help or --version is opened as a document.\n"
           "\n"
           "Settings: "
        << settings
        << "\n"
           "          ($XDG_CONFIG_HOME/QMV.ini, by default ~/.config/QMV.ini)\n"
           "Recovery records of unsaved changes: "
        << QFile::decodeName(RecoveryFolder().c_str())
        << "\n"
           "          ($XDG_STATE_HOME/velloran/recovery, by default\n"
           "          ~/.local/state/velloran/recovery)\n"
           "Window system: "
        << DescribePlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"))
        << "\n"
           "          X11 wherever an X server answers at DISPLAY (Wayland sessions of GNOME\n"
           "          and KDE run one, Xwayland), since on native Wayland no program may\n"
           "          place its windows. QT_QPA_PLATFORM chooses another: with\n"
           "          QT_QPA_PLATFORM=wayland the compositor places the windows, and the\n"
           "          positions in the settings are kept but not used.\n";
}

}  // namespace

std::optional<int> HandleInformationalArguments(const QStringList& args, QTextStream& out) {
    // Start-up looks at the first argument only, and so does this.
    if (args.size() < 2) {
        return std::nullopt;
    }
    const QString& arg = args.at(1);
    if (arg != QLatin1String("--help") && arg != QLatin1String("--version")) {
        return std::nullopt;
    }
    if (QFileInfo::exists(arg)) {
        return std::nullopt;
    }
    if (arg == QLatin1String("--help")) {
        PrintUsage(out);
    } else {
        out << "Velloran Editor " << VELLORAN_VERSION << "\n";
    }
    out.flush();
    return 0;
}

std::optional<int> HandleInformationalArguments(int argc, char* argv[]) {
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QFile::decodeName(argv[i]);
    }
    QTextStream out(stdout);
    return HandleInformationalArguments(args, out);
}

QIcon ProgramIcon() {
    return QIcon(QStringLiteral(":/velloran/velloran.svg"));
}

long PeakResidentKiB() {
    long peak = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            std::sscanf(line, "VmHWM: %ld", &peak);
        }
        std::fclose(status);
    }
    return peak;
}

void QuitWhenIdleIfAsked() {
    if (!qEnvironmentVariableIsSet("VELLORAN_QUIT_WHEN_IDLE")) {
        return;
    }
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] {
                         std::printf("idle %ld\n", PeakResidentKiB());
                         std::fflush(stdout);
                         std::_Exit(0);
                     });
}

}  // namespace velloran::ui
