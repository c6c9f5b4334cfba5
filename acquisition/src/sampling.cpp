#include "acquisition/sampling.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"

namespace acq {

std::int32_t N(double x) {
    return static_cast<std::int32_t>(foundation::RoundHalfEven(x));
}

std::int64_t SteadyUs() {
    return foundation::CounterUs();
}

std::int32_t TimeColumn(std::uint32_t t, std::uint32_t origin, int w) {
    const std::uint32_t d = t - origin;
    return N(w * static_cast<double>(d) / kSweepSpanMs);
}

std::uint32_t SweepLastMs(int w) {
    // Columns grow with the time, so the first time beyond the edge is found by counting up
    // from the span, which lands on the edge itself.
    std::uint32_t d = static_cast<std::uint32_t>(kSweepSpanMs);
    while (TimeColumn(d, 0, w) <= w) {
        ++d;
    }
    return d - 1;
}

std::uint8_t MaskSample(std::uint8_t byte, std::uint8_t mask) {
    if (mask == 0) {
        return byte;
    }
    return (byte & mask) != 0 ? 255 : 0;
}

void TRateMeter::Count(std::uint32_t nowTick) {
    const std::uint32_t elapsed = nowTick - tick;
    if (elapsed > 1000) {
        const std::int32_t perSecond = N(count * 1000.0 / elapsed);
        rate = static_cast<std::uint16_t>(perSecond > 65535 ? 65535 : perSecond);
        tick = nowTick;
        count = 0;
    }
    ++count;
}

} // namespace acq
