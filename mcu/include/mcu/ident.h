// Identification of the MC application that answers on the link, and opening it: its name from
// the application id table, its variables from the address file or the object file.
#pragma once

#include "mcu/appl.h"

#include <string>

namespace mcu {

bool IdentifyMCAppl(MCAppl& appl, bool& answered, std::string& varFileName);
bool OpenMCAppl(MCAppl& appl);
void InitMCAppl(MCAppl& appl);
void CloseMCAppl(MCAppl& appl);

} // namespace mcu
