// What both transports share: pauses between two looks at a device, and the drain wait.
#pragma once

#include "foundation/clock.h"
#include "wait.h"

#include <chrono>
#include <cstdint>

namespace comlink {

// With no flow control a transmitter drains within a few character times; one that has not
// after this long is stuck, and waiting on would hang the program.
inline constexpr std::uint32_t kDrainLimitMs = 1000;
// Dropping or purging reads faster than any line delivers; the bound only keeps a runaway
// source (a fake, a device spewing at megabaud) from holding the program.
inline constexpr int kPurgeLimit = 1 << 16;

// Between two looks at a device that has nothing to block on. Under a fake clock time only
// moves when told, so the pause moves it by 1 ms instead of sleeping.
void PauseBeforeNextLook(std::chrono::microseconds realPause);

// Waits while pending() holds. False when the transmitter did not drain in time, or a stop
// was requested meanwhile.
template <typename Pending> bool WaitDrained(Pending pending, std::chrono::microseconds pause) {
    const std::uint32_t start = foundation::TickMs();
    while (pending()) {
        if (foundation::TickMs() - start >= kDrainLimitMs || StopRequested()) {
            return false;
        }
        PauseBeforeNextLook(pause);
    }
    return true;
}

} // namespace comlink
