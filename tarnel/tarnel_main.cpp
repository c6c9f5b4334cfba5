// TARNEL: the device bus selector.
#include "gui/fatal_box.h"
#include "main_window.h"
#include "mcu/startup.h"
#include "selector/mcsys.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("TARNEL");
    gui::InstallFatalMessageBox("TARNEL");
    mcu::StartOptions start;
    start.kind = mcu::ProgramKind::Selector;
    mcu::StartModules(start);
    selector::InitMcSys();

    tarnel::Desktop desktop;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    auto form = std::make_unique<tarnel::SelectorWindow>(arguments, desktop);
    if (!form->RanApplIdDialogue()) {
        form->show();
    }
    // Escape or the end of the ApplId dialogue while the window was being created: the loop
    // would only wait for a quit that has already been asked for.
    const int code = desktop.QuitRequested() ? 0 : QApplication::exec();
    form.reset(); // OnDestroy: the record, the link and the follow-up command
    return code;
}
