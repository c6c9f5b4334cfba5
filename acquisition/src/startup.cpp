#include "acquisition/startup.h"

#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/d2xx.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/appl.h"

namespace acq {

void InitAcquisitionModules(const std::string& executablePath, const std::string& port) {
    if (executablePath.empty()) {
        foundation::InitProgramPaths();
    } else {
        foundation::SetProgramPaths(executablePath);
    }
    foundation::LoadParamFile();
    if (!port.empty()) {
        foundation::OverrideParam("COM", port);
    }
    foundation::CaptureClockOrigin();
    comlink::ResetUsb();
    comlink::InitLink();
    mcu::ResetMcuModule();
    mcu::SetProgramKind(mcu::ProgramKind::Scope);
    mcu::LoadApplIdTable();
}

} // namespace acq
