#include "link/transport.h"

#include "foundation/clock.h"
#include "transport_support.h"
#include "wait.h"

namespace comlink {

Deadline::Deadline(std::uint32_t limitMs) : start_(foundation::TickMs()), limitMs_(limitMs) {}

std::uint32_t Deadline::RemainingMs() const {
    // Unsigned difference: the tick wraps after 49 days without harm.
    const std::uint32_t elapsed = foundation::TickMs() - start_;
    return elapsed >= limitMs_ ? 0 : limitMs_ - elapsed;
}

void PauseBeforeNextLook(std::chrono::microseconds realPause) {
    auto& clock = foundation::Clock();
    if (clock.IsReal()) {
        WaitForInput(-1, realPause);
    } else {
        clock.SleepMs(1);
    }
}

int Transport::Receive(const Deadline& deadline) {
    auto& clock = foundation::Clock();
    for (;;) {
        const bool real = clock.IsReal();
        // With the real clock the transport blocks on the device: the reply is taken the
        // moment it arrives, and nothing is burnt meanwhile. Its answer says whether a byte is
        // there, so the byte is taken without asking again (at 115200 baud a read exchange
        // lasts 174 us, and every call into the kernel shows).
        const bool ready = real ? BlockUntilInput(deadline.RemainingMs()) : InputWaiting();
        if (ready) {
            const int value = TakeByte();
            if (value >= 0) {
                return value;
            }
        }
        if (!IsOpen() || deadline.Passed() || StopRequested()) {
            return -1;
        }
        if (!real) {
            clock.SleepMs(1);
        }
    }
}

} // namespace comlink
