// The link's one way of blocking in real time. Every wait of the link for a device (a byte to
// arrive, an adapter's queue to fill, a transmitter to drain) ends up here, so that a request
// to stop can later join it as a second descriptor in the same poll.
#pragma once

#include <chrono>

namespace comlink {

// Blocks until fd has input or has failed (hang-up, error), or until timeout has passed; with
// fd < 0 only the time counts. Returns fd's poll events, 0 after a plain time-out or when a
// signal cut the wait short (callers look again and decide).
short WaitForInput(int fd, std::chrono::microseconds timeout);

} // namespace comlink
