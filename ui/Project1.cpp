#include <QApplication>

#include "ui/Forms.h"
#include "ui/Unit1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("velloran");
    QApplication::setApplicationDisplayName("Velloran Editor");
    QApplication::setQuitOnLastWindowClosed(false);

    auto forms = velloran::ui::CreateForms(QApplication::arguments());
    QObject::connect(forms->form1.get(), &TForm1::closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    forms->Show();
    return app.exec();
}
