// The start-up of the modules a front end of the engine needs, in the order they depend on each
// other: program paths and param.ini, the clock origin, the FTDI port state, the link settings,
// the program kind and the application id table (applid.inc; missing is fatal). The scope
// window and mcrec start the same way, so they find, open and identify the same MC.
#pragma once

#include <string>

namespace acq {

// executablePath empty: the running executable (tests pass where the program would live).
// port not empty: the link for this run, in place of the COM parameter.
void InitAcquisitionModules(const std::string& executablePath = {}, const std::string& port = {});

} // namespace acq
