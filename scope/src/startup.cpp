#include "scope/startup.h"

#include "gui/fatal_box.h"
#include "mcu/startup.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"

namespace scope {

void InitScopeModules(const std::string& executablePath) {
    mcu::StartOptions start;
    start.executablePath = executablePath;
    mcu::StartModules(start);
    persistence::FreeGlobalSerializer();
}

void InstallFatalBox() {
    gui::InstallFatalMessageBox(kBoxTitle);
}

} // namespace scope
