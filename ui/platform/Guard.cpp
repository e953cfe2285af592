#include "ui/platform/Guard.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include "core/document/Error.h"

namespace velloran::ui {

void ShowErrorMessage(QWidget* parent, const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
}

bool Guarded(QWidget* parent, const std::function<void()>& command) {
    // Messages carry paths, which are file-system bytes.
    try {
        command();
        return true;
    } catch (const velloran::Error& e) {
        // The system's reason is in the locale's words.
        ShowErrorMessage(parent, QFile::decodeName(e.what()),
                         QString::fromLocal8Bit(e.detail().c_str()));
    } catch (const std::exception& e) {
        // Not one of ours, but letting it unwind through Qt would end the program.
        ShowErrorMessage(parent, QFile::decodeName(e.what()));
    }
    return false;
}

}  // namespace velloran::ui
