#include "wait.h"

#include <cerrno>
#include <poll.h>
#include <time.h>

namespace comlink {

short WaitForInput(int fd, std::chrono::microseconds timeout) {
    if (timeout.count() < 0) {
        timeout = std::chrono::microseconds(0);
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>((timeout - seconds).count() * 1000);
    // A negative descriptor is ignored by poll: the same call is then a plain pause.
    pollfd p{fd, POLLIN, 0};
    int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r <= 0) {
        return 0;
    }
    return p.revents;
}

} // namespace comlink
