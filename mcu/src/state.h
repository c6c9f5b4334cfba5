// Module state shared by the protocol sources of this library.
#pragma once

#include "mcu/access.h"

#include <array>

namespace mcu::detail {

struct McuState {
    ProgramKind kind = ProgramKind::Scope;
    DeviceList scopeList{};
    std::int32_t scopeLastIndex = -1;
    // Per line state of the link: the last byte the protocol sent there was an attention, so
    // the MC may take the next one as a write request.
    std::array<bool, 256> attentionPending{};
    // Read replies in a row that came sooner than the wire allows with nothing after them, and
    // whether they showed a link that does not pace its bytes.
    int earlyAlone = 0;
    bool unpacedLink = false;
};

McuState& State();

} // namespace mcu::detail
