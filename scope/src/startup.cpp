#include "scope/startup.h"

#include "acquisition/startup.h"
#include "gui/fatal_box.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"

namespace scope {

void InitScopeModules(const std::string& executablePath) {
    acq::InitAcquisitionModules(executablePath);
    persistence::FreeGlobalSerializer();
}

void InstallFatalBox() {
    gui::InstallFatalMessageBox(kBoxTitle);
}

} // namespace scope
