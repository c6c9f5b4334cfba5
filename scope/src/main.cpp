// The scope program OMBRIX: start-up of the modules, then the main window and its message
// loop until the application terminates.
#include "persistence/serializers.h"
#include "scope/scope_window.h"
#include "scope/startup.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(scope::kApplicationTitle);
    scope::InstallFatalBox();
    scope::InitScopeModules();
    int code = 0;
    {
        scope::ScopeWindow form;
        if (!form.TerminationRequested()) {
            form.show();
            code = QApplication::exec();
        }
    }
    persistence::FreeGlobalSerializer();
    return code;
}
