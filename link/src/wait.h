// The link's one way of blocking in real time. Every wait of the link for a device (a byte to
// arrive, an adapter's queue to fill, a transmitter to drain) and every fixed pause ends up
// here, so that a request to stop, made from any thread, ends it at once: the stop is a second
// descriptor in the same poll.
#pragma once

#include <chrono>
#include <cstdint>

namespace comlink {

// Blocks until fd has input or has failed (hang-up, error), until timeout has passed, or until
// a stop is requested; with fd < 0 only the time and the stop count. Returns fd's poll events,
// 0 after a plain time-out, a stop, or when a signal cut the wait short (callers look again
// and decide).
short WaitForInput(int fd, std::chrono::microseconds timeout);

// A fixed pause of the link (settling after an open, line switching). With the real clock it
// waits in WaitForInput and ends early on a stop; a test clock skips or advances instead.
void PauseMs(std::uint32_t ms);

// Set from any thread by RequestLinkStop (link_port.h); read by every loop that waits.
bool StopRequested();

} // namespace comlink
