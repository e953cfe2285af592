#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>

namespace velloran::testing {

// Answers the modal dialogs a command opens, one step per dialog in the order they appear, by
// acting on the real dialog as a user would. Each step sees the modal widget and returns false
// when it is not the dialog it expects (the script then fails the test through `unexpected`).
class ModalScript {
  public:
    using Step = std::function<bool(QWidget*)>;

    ModalScript() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

    ModalScript& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

    // Presses a button of one of the program's dialogs, after typing text into its field.
    ModalScript& Click(const QString& dialog, const QString& button,
                       std::optional<QString> fieldText = std::nullopt) {
        return Then([=](QWidget* w) {
            if (w->objectName() != dialog) {
                return false;
            }
            if (fieldText) {
                auto* edit = w->findChild<QLineEdit*>("Edit1");
                edit->selectAll();
                edit->insert(*fieldText);
            }
            w->findChild<QAbstractButton*>(button)->click();
            return true;
        });
    }

    // Answers a message box; its text is recorded in messages.
    ModalScript& Answer(QMessageBox::StandardButton button) {
        return Then([=, this](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                return false;
            }
            messages.push_back(box->text());
            box->button(button)->click();
            return true;
        });
    }

    // Cancels the open-file dialog, or picks path in it.
    ModalScript& ChooseFile(std::optional<QString> path) {
        return Then([=, this](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) {
                return false;
            }
            directories.push_back(dialog->directory().absolutePath());
            if (path) {
                // selectFile leaves the name field alone once it has focus, and accept() then
                // reads an empty name and keeps the dialog up: type the name as a user would.
                const QFileInfo chosen(*path);
                dialog->setDirectory(chosen.absolutePath());
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                if (name) {
                    name->setText(chosen.fileName());
                } else {
                    dialog->selectFile(*path);
                }
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
            return true;
        });
    }

    bool Done() const { return steps_.empty(); }

    QStringList seen;         // object names of the dialogs answered, in order
    QStringList messages;     // texts of the message boxes answered
    QStringList directories;  // initial folders of the open-file dialogs answered
    QStringList unexpected;   // dialogs that came when another was expected

  private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (answered_) {
            if (modal == answered_ && answered_->isVisible()) {
                // A dialog that ignored its answer fails the test instead of hanging it.
                if (answeredAt_.elapsed() > kAnswerTimeoutMs) {
                    unexpected.push_back(modal->objectName() + " still up after its answer");
                    modal->close();
                    answered_ = nullptr;
                }
                return;
            }
            answered_ = nullptr;
        }
        if (!modal || !modal->isVisible()) {
            return;
        }
        if (steps_.empty()) {
            unexpected.push_back(modal->objectName() + " " + modal->metaObject()->className());
            modal->close();
            Answered(modal);
            return;
        }
        const QString name = modal->objectName();
        if (steps_.front()(modal)) {
            seen.push_back(name);
            steps_.pop_front();
        } else {
            unexpected.push_back(name + " " + modal->metaObject()->className());
            modal->close();
        }
        Answered(modal);
    }

    // A dialog that is still up after its answer is waited for until it has gone.
    void Answered(QWidget* modal) {
        answered_ = modal->isVisible() ? modal : nullptr;
        answeredAt_.start();
    }

    static constexpr qint64 kAnswerTimeoutMs = 20000;

    QTimer timer_;
    std::deque<Step> steps_;
    QPointer<QWidget> answered_;
    QElapsedTimer answeredAt_;
};

}  // namespace velloran::testing
