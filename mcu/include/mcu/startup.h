// The start-up every program shares before it talks to an MC, in the order the modules depend
// on each other: program paths and param.ini (a --port option stands in for COM for one run),
// the clock origin, the FTDI port state, the link settings, this module with the program's
// kind, and the application id table (applid.inc; missing is fatal). One sequence for the
// scope, mcrec, TARNEL and mcload, so that all of them find, open and identify the same MC.
#pragma once

#include "mcu/access.h"

#include <string>

namespace mcu {

struct StartOptions {
    ProgramKind kind = ProgramKind::Scope;
    // Empty: the running executable. Tests pass where the program would live.
    std::string executablePath;
    // Not empty: the link for this run, in place of the COM parameter.
    std::string port;
    // mcload moves EEPROM images and HEX files without naming an application, so it runs on
    // a machine without applid.inc.
    bool applIds = true;
};

void StartModules(const StartOptions& options);

} // namespace mcu
