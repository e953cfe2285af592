#include "ui/Guard.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include "core/document/Error.h"

namespace velloran::ui {

void ShowErrorMessage(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, parent);
    box.exec();
}

bool Guarded(QWidget* parent, const std::function<void()>& command) {
    // Messages carry paths, which are file-system bytes.
    try {
        command();
        return true;
    } catch (const velloran::Error& e) {
        ShowErrorMessage(parent, QFile::decodeName(e.what()));
    } catch (const std::exception& e) {
        // Not one of ours, but letting it unwind through Qt would end the program.
        ShowErrorMessage(parent, QFile::decodeName(e.what()));
    }
    return false;
}

}  // namespace velloran::ui
