#include "mcu/startup.h"

#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/d2xx.h"
#include "link/link_port.h"
#include "mcu/appl.h"

namespace mcu {

void StartModules(const StartOptions& options) {
    if (options.executablePath.empty()) {
        foundation::InitProgramPaths();
    } else {
        foundation::SetProgramPaths(options.executablePath);
    }
    foundation::LoadParamFile();
    if (!options.port.empty()) {
        foundation::OverrideParam("COM", options.port);
    }
    foundation::CaptureClockOrigin();
    comlink::ResetUsb();
    comlink::InitLink();
    ResetMcuModule();
    SetProgramKind(options.kind);
    if (options.applIds) {
        LoadApplIdTable();
    }
}

} // namespace mcu
