// The arithmetic the acquisition shares with the trace display: half-to-even rounding, the
// column of a sample in a time-mode sweep (which decides where a sweep ends), the masking of a
// bit variable's sample, and the transfer rate.
#pragma once

#include <cstdint>

namespace acq {

// A sweep spans the width in this many milliseconds.
inline constexpr double kSweepSpanMs = 2000.0;

// Nearest integer, halves to even.
std::int32_t N(double x);

// The steady clock (a test's clock under test) in microseconds: the arrival times of samples
// and whatever is measured against them.
std::int64_t SteadyUs();

// Column of a sample taken at clock time t in a sweep that began at origin, on a screen w
// columns wide. The difference is unsigned: a sample older than the origin lies far beyond the
// right edge.
std::int32_t TimeColumn(std::uint32_t t, std::uint32_t origin, int w);

// The longest time after a sweep's origin at which a sample still lands on a screen w columns
// wide: what the engine needs to end sweeps where a screen of that width ends them, without
// knowing of columns.
std::uint32_t SweepLastMs(int w);

// A bit variable's sample is 0 or 255; a whole byte (mask 0) is taken as it is.
std::uint8_t MaskSample(std::uint8_t byte, std::uint8_t mask);

// Transfers per second, recomputed from the count of successful transfers whenever more than
// a second has passed since the last computation (millisecond tick, unsigned differences).
struct TRateMeter {
    std::uint16_t rate = 0;
    std::uint32_t tick = 0;
    std::uint32_t count = 0;

    void Count(std::uint32_t nowTick);
};

} // namespace acq
