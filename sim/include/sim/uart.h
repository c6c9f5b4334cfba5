// The serial line as a UART sees it: how long one 8N1 frame lasts, and what a receiver makes
// of a frame sent at a rate other than the one it listens at.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Start bit, eight data bits, stop bit.
inline constexpr int kBitsPerFrame = 10;

// Nanoseconds one frame occupies the line at baud (rounded to the nearest nanosecond).
std::uint64_t FrameNs(std::uint32_t baud);

// The bytes a receiver listening at receiverBaud takes from one frame sent at senderBaud.
// Equal rates give the byte itself. Otherwise the receiver samples the sender's waveform at
// the middle of its own bit times, as a UART does: a frame may vanish (no valid start bit),
// come out as another value, or split into two. A frame whose stop bit samples low is a
// framing error and is delivered as 0x00, as the Linux terminal layer does by default.
std::vector<std::uint8_t> ReceiveAtRate(std::uint8_t byte, std::uint32_t senderBaud,
                                        std::uint32_t receiverBaud);

} // namespace sim
