// Module state shared by the protocol sources of this library.
#pragma once

#include "mcu/access.h"

namespace mcu::detail {

struct McuState {
    ProgramKind kind = ProgramKind::Scope;
    DeviceList scopeList{};
    std::int32_t scopeLastIndex = -1;
};

McuState& State();

} // namespace mcu::detail
