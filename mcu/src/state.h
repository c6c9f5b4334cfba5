// Module state shared by the protocol sources of this library.
#pragma once

#include "mcu/access.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>

namespace mcu::detail {

// The reply delays (request sent to reply received, microseconds) of the last replies that
// came alone, and what the protocol judges by: the low end of the delays, their median, and
// the longest delay seen lately (it decays towards the median).
struct ReplyTiming {
    static constexpr int kWindow = 32;
    std::array<std::int64_t, kWindow> delays{};
    int count = 0;
    int next = 0;
    std::int64_t low = 0;
    std::int64_t typical = 0;
    std::int64_t longest = 0;
};

struct McuState {
    ProgramKind kind = ProgramKind::Scope;
    DeviceList scopeList{};
    std::int32_t scopeLastIndex = -1;
    // Per line state of the link: the last byte the protocol sent there was an attention, so
    // the MC may take the next one as a write request.
    std::array<bool, 256> attentionPending{};
    // How long the MC on one line takes to answer at one rate, learned from the replies that
    // came alone; keyed by TimingKey().
    std::map<std::uint32_t, ReplyTiming> timing;
    // A try failed or was in doubt: a reply of an earlier request may still be on its way, so
    // the next request waits for a quiet line first.
    bool unsettled = false;
    // Counter microseconds of the last request sent or byte received.
    std::int64_t lastActivityUs = 0;
    // The delay of a byte that came too early for its request, and the timing it belongs to:
    // should nothing follow it, it was the reply after all and the MC is faster than learned.
    std::optional<std::int64_t> earlyDelay;
    std::uint32_t earlyKey = 0;
};

McuState& State();

} // namespace mcu::detail
