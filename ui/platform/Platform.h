#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace velloran::ui {

// The window system platform the toolkit starts on. Native Wayland lets no program place its
// windows, so the list and the document window would open on top of each other; wherever an X
// server is reachable (DISPLAY, which GNOME and KDE Wayland sessions provide through Xwayland)
// and the user chose no platform (QT_QPA_PLATFORM), the X11 platform is taken, with the
// toolkit's own choice behind it should that server not answer. A choice of the user stands.
std::optional<QByteArray> PreferredPlatform(const QByteArray& qpaPlatform,
                                            const QByteArray& display);

// Puts PreferredPlatform in force for the toolkit's start, from this process's environment, and
// hands the user's environment back unchanged when it goes, so that a program started later
// (New File) decides for itself. Lives across the QApplication's construction.
class PlatformChoice {
  public:
    PlatformChoice();
    ~PlatformChoice();
    PlatformChoice(const PlatformChoice&) = delete;
    PlatformChoice& operator=(const PlatformChoice&) = delete;

  private:
    std::optional<QByteArray> before_;
    bool set_ = false;
};

// What --help says of the platform in this environment.
QString DescribePlatform(const QByteArray& qpaPlatform, const QByteArray& display);

// False on a platform that neither places windows nor tells where they are (native Wayland):
// positions asked for are then only remembered, and the document window is brought forward
// whenever it shows a section, since it may stand over the list.
bool PlacesWindows();

}  // namespace velloran::ui
