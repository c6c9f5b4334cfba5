#include "wait.h"

#include "foundation/clock.h"

#include <atomic>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

namespace comlink {

namespace {

struct StopState {
    std::atomic<bool> requested{false};
    // Readable while a stop is requested, so a poll that includes it returns at once. Made
    // once for the program; -1 when the system refuses one (the flag alone then ends the
    // loops between their looks).
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
};

StopState& Stop() {
    static StopState state;
    return state;
}

} // namespace

bool StopRequested() {
    return Stop().requested.load(std::memory_order_acquire);
}

void RequestLinkStop() {
    auto& stop = Stop();
    stop.requested.store(true, std::memory_order_release);
    if (stop.fd >= 0) {
        const std::uint64_t one = 1;
        // A full counter still reads as readable; nothing else can go wrong that matters.
        (void)!::write(stop.fd, &one, sizeof one);
    }
}

void ClearLinkStop() {
    auto& stop = Stop();
    stop.requested.store(false, std::memory_order_release);
    if (stop.fd >= 0) {
        std::uint64_t count = 0;
        (void)!::read(stop.fd, &count, sizeof count);
    }
}

bool LinkStopRequested() {
    return StopRequested();
}

short WaitForInput(int fd, std::chrono::microseconds timeout) {
    if (StopRequested()) {
        return 0;
    }
    if (timeout.count() < 0) {
        timeout = std::chrono::microseconds(0);
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>((timeout - seconds).count() * 1000);
    // A negative descriptor is ignored by poll: the call is then a pause that only a stop ends.
    pollfd p[2] = {{fd, POLLIN, 0}, {Stop().fd, POLLIN, 0}};
    int r = ::ppoll(p, 2, &ts, nullptr);
    if (r <= 0) {
        return 0;
    }
    return p[0].revents;
}

void PauseMs(std::uint32_t ms) {
    auto& clock = foundation::Clock();
    if (!clock.SleepsForReal()) {
        clock.SleepMs(ms);
        return;
    }
    using namespace std::chrono;
    const auto until = steady_clock::now() + milliseconds(ms);
    // A signal may cut a poll short; only the time or a stop ends the pause.
    for (auto now = steady_clock::now(); now < until && !StopRequested();
         now = steady_clock::now()) {
        WaitForInput(-1, duration_cast<microseconds>(until - now));
    }
}

} // namespace comlink
