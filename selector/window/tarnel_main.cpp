// TARNEL: the device bus selector.
#include "gui/fatal_box.h"
#include "main_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("TARNEL");
    gui::InstallFatalMessageBox("TARNEL");
    tarnel::StartModules();

    tarnel::Desktop desktop;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    auto form = std::make_unique<tarnel::TForm1>(arguments, desktop);
    if (!form->RanApplIdDialogue()) {
        form->show();
    }
    const int code = QApplication::exec();
    form.reset(); // OnDestroy: the record, the link and the follow-up command
    return code;
}
