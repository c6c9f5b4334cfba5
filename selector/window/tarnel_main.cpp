// TARNEL: the device bus selector.
#include "foundation/fatal.h"
#include "main_window.h"

#include <QApplication>
#include <QMessageBox>
#include <QShortcut>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("TARNEL");
    foundation::SetFatalHandler([](const std::string& text) {
        QMessageBox::critical(nullptr, "TARNEL", QString::fromStdString(text), QMessageBox::Ok);
        foundation::ExitProgram(1);
    });
    tarnel::StartModules();

    tarnel::Desktop desktop;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    auto form = std::make_unique<tarnel::TForm1>(arguments, desktop);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), form.get());
    escape->setContext(Qt::ApplicationShortcut);
    QObject::connect(escape, &QShortcut::activated, form.get(), [&] { form->HotKey(); });
    if (!form->RanApplIdDialogue()) {
        form->show();
    }
    const int code = QApplication::exec();
    form.reset(); // OnDestroy: the record, the link and the follow-up command
    return code;
}
