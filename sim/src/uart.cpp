#include "sim/uart.h"

#include <cmath>

namespace sim {

std::uint64_t FrameNs(std::uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    constexpr std::uint64_t kFrameBitsNs = std::uint64_t{kBitsPerFrame} * 1000000000u;
    return (kFrameBitsNs + baud / 2) / baud;
}

std::vector<std::uint8_t> ReceiveAtRate(std::uint8_t byte, std::uint32_t senderBaud,
                                        std::uint32_t receiverBaud) {
    if (senderBaud == receiverBaud) {
        return {byte};
    }
    if (senderBaud == 0 || receiverBaud == 0) {
        return {};
    }
    // Line level x sender bit times after the falling edge of the start bit; the line idles
    // high on both sides of the frame.
    auto level = [byte](double x) -> int {
        if (x < 0) {
            return 1;
        }
        auto bit = static_cast<int>(std::floor(x));
        if (bit == 0) {
            return 0;
        }
        if (bit <= 8) {
            return (byte >> (bit - 1)) & 1;
        }
        return 1;
    };
    // One receiver bit time measured in sender bit times.
    const double q = static_cast<double>(senderBaud) / static_cast<double>(receiverBaud);

    std::vector<std::uint8_t> received;
    double searchFrom = 0;
    for (int edge = 0; edge < kBitsPerFrame; ++edge) {
        bool falling = edge == 0 || (level(edge - 1) == 1 && level(edge) == 0);
        if (!falling || edge < searchFrom) {
            continue;
        }
        if (level(edge + 0.5 * q) != 0) {
            continue; // the start bit did not hold until mid-bit: a glitch, not a frame
        }
        std::uint8_t value = 0;
        for (int k = 1; k <= 8; ++k) {
            if (level(edge + (k + 0.5) * q) != 0) {
                value = static_cast<std::uint8_t>(value | (1u << (k - 1)));
            }
        }
        bool stopBitHigh = level(edge + 9.5 * q) == 1;
        received.push_back(stopBitHigh ? value : std::uint8_t{0});
        searchFrom = edge + 9.5 * q;
    }
    return received;
}

} // namespace sim
