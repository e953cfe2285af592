#include "ui/platform/Guard.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>

#include "core/document/Error.h"

namespace velloran::ui {

void ShowAsPlainText(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    // The informative text has a label of its own, which guesses its format by itself.
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
}

void ShowNotice(QWidget* parent, const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(),
                                message, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("NoticeBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setModal(false);
    ShowAsPlainText(*box);
    box->show();
}

void ShowErrorMessage(QWidget* parent, const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    ShowAsPlainText(box);
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
