#include "scope/startup.h"

#include "foundation/clock.h"
#include "foundation/params.h"
#include "gui/fatal_box.h"
#include "link/d2xx.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/appl.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"

namespace scope {

void InitScopeModules(const std::string& executablePath) {
    if (executablePath.empty()) {
        foundation::InitProgramPaths();
    } else {
        foundation::SetProgramPaths(executablePath);
    }
    foundation::LoadParamFile();
    foundation::CaptureClockOrigin();
    comlink::ResetUsb();
    comlink::InitLink();
    mcu::ResetMcuModule();
    mcu::SetProgramKind(mcu::ProgramKind::Scope);
    mcu::LoadApplIdTable();
    persistence::FreeGlobalSerializer();
}

void InstallFatalBox() {
    gui::InstallFatalMessageBox(kBoxTitle);
}

} // namespace scope
