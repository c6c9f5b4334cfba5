#include "acquisition/history.h"

#include <algorithm>

namespace acq {

namespace {

// The first allocation of a ring; most channels of a paced link never need more than a few.
constexpr std::size_t kFirstRing = 4096;

} // namespace

History::History(std::size_t capacity, std::int64_t spanUs)
    : capacity_(std::max<std::size_t>(capacity, 1)), spanUs_(spanUs) {}

void History::Push(Ring& ring, const Sample& sample) {
    std::size_t n = ring.times.size();
    if (ring.size == n) {
        if (n < capacity_) {
            // Grown in order, oldest first, so the indices stay plain.
            const std::size_t grown = std::min(capacity_, std::max(kFirstRing, 2 * n));
            std::vector<std::int64_t> times(grown);
            std::vector<std::uint8_t> values(grown);
            std::vector<double> typed(grown);
            for (std::size_t k = 0; k < ring.size; ++k) {
                times[k] = ring.times[(ring.head + k) % n];
                values[k] = ring.values[(ring.head + k) % n];
                typed[k] = ring.typed[(ring.head + k) % n];
            }
            ring.times = std::move(times);
            ring.values = std::move(values);
            ring.typed = std::move(typed);
            ring.head = 0;
            n = grown;
        } else {
            ring.head = (ring.head + 1) % n;
            --ring.size;
        }
    }
    const std::size_t at = (ring.head + ring.size) % n;
    ring.times[at] = sample.arrivalUs;
    ring.values[at] = sample.value;
    ring.typed[at] = sample.typed;
    ++ring.size;
}

void History::Append(const std::vector<Sample>& samples) {
    if (samples.empty()) {
        return;
    }
    const std::lock_guard lock(mutex_);
    std::int64_t newest = samples.front().arrivalUs;
    for (const Sample& s : samples) {
        if (s.channel >= 1 && s.channel <= 3) {
            Push(rings_[s.channel], s);
            newest = std::max(newest, s.arrivalUs);
        }
    }
    const std::int64_t limit = newest - spanUs_;
    for (Ring& ring : rings_) {
        while (ring.size > 0 && ring.times[ring.head] < limit) {
            ring.head = (ring.head + 1) % ring.times.size();
            --ring.size;
        }
    }
}

void History::Clear(int channel) {
    const std::lock_guard lock(mutex_);
    rings_.at(static_cast<std::size_t>(channel)) = Ring{};
}

Traces History::Snapshot() const {
    const std::lock_guard lock(mutex_);
    Traces traces;
    for (std::size_t c = 1; c < rings_.size(); ++c) {
        const Ring& ring = rings_[c];
        ChannelTrace& trace = traces[c];
        trace.times.reserve(ring.size);
        trace.values.reserve(ring.size);
        trace.typed.reserve(ring.size);
        for (std::size_t k = 0; k < ring.size; ++k) {
            const std::size_t at = (ring.head + k) % ring.times.size();
            trace.times.push_back(ring.times[at]);
            trace.values.push_back(ring.values[at]);
            trace.typed.push_back(ring.typed[at]);
        }
    }
    return traces;
}

std::size_t History::Size(int channel) const {
    const std::lock_guard lock(mutex_);
    return rings_.at(static_cast<std::size_t>(channel)).size;
}

} // namespace acq
