// The sweep clock of time mode: where a sweep begins (its origin), how many samples the sweep
// in progress has drawn, and the rules for its end: a sample whose column lies beyond the
// right edge ends the sweep and begins the next one at its own stamp; a sweep of more than 16
// samples shows the rate, and in single-shot mode stops the acquisition. x-y redraws count
// their points on the same counter.
#pragma once

#include "acquisition/batch.h"

#include <array>
#include <cstdint>
#include <vector>

namespace acq {

// A sweep holds more than this many samples before it is a real one.
inline constexpr std::int32_t kSweepMinSamples = 16;

struct SweepClock {
    std::uint32_t origin = 0;
    std::int32_t drawn = 0;

    // Goes through the samples of a time-mode burst as they are drawn (channel 1's, then 2's,
    // then 3's, each in the order read) and notes where sweeps end: a sample more than lastMs
    // after the origin. Returns true when a single sweep stopped at the last end noted:
    // nothing after that sample is drawn.
    bool EndSweeps(const std::vector<Sample>& samples, std::uint32_t lastMs, bool singleShot,
                   std::vector<SweepEnd>& ends);
    // An x-y redraw of points points: whether it shows the rate, and stops a single sweep.
    Redraw CountRedraw(int channel, int points, bool singleShot);
};

} // namespace acq
