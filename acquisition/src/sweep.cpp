#include "acquisition/sweep.h"

namespace acq {

bool SweepClock::EndSweeps(const std::vector<Sample>& samples, std::uint32_t lastMs,
                           bool singleShot, std::vector<SweepEnd>& ends) {
    for (int channel = 1; channel <= 3; ++channel) {
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const Sample& s = samples[k];
            if (s.channel != channel) {
                continue;
            }
            ++drawn;
            // Unsigned: a sample older than the origin (another channel of the same burst
            // began a sweep after it was read) lies beyond the edge too.
            if (s.stamp - origin <= lastMs) {
                continue;
            }
            SweepEnd end{k, drawn > kSweepMinSamples, false};
            if (singleShot && drawn > kSweepMinSamples) {
                end.stop = true;
                drawn = 0;
                ends.push_back(end);
                return true;
            }
            drawn = 0;
            origin = Batch::OriginAfter(s);
            ends.push_back(end);
        }
    }
    return false;
}

Redraw SweepClock::CountRedraw(int channel, int points, bool singleShot) {
    // The count goes on from whatever the time-mode sweep had drawn before.
    drawn += points;
    Redraw redraw{channel, drawn > kSweepMinSamples, singleShot && drawn > kSweepMinSamples};
    drawn = 0;
    return redraw;
}

} // namespace acq
