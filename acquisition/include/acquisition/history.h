// The recent past of every trace channel: the samples of the last minute with the times their
// replies arrived, kept by the engine so that a front end can stop and look back at them while
// the acquisition goes on. The ring is bounded by age and by count, so an unpaced link that
// gives 20,000 reads a second cannot use up the memory. Thread-safe: the engine appends on its
// thread, a front end copies from its own.
#pragma once

#include "acquisition/batch.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace acq {

// How far back the history reaches, and how many samples a channel keeps at most.
inline constexpr std::int64_t kHistoryUs = 60'000'000;
inline constexpr std::size_t kHistorySamples = std::size_t{1} << 20;

// One channel's samples, oldest first.
struct ChannelTrace {
    std::vector<std::int64_t> times; // arrival, steady-clock microseconds
    std::vector<std::uint8_t> values;
    std::vector<double> typed; // Sample::typed, beside values

    std::size_t Size() const { return times.size(); }
};

// Channels 1..3 (index 0 stays empty).
using Traces = std::array<ChannelTrace, 4>;

class History {
public:
    explicit History(std::size_t capacity = kHistorySamples, std::int64_t spanUs = kHistoryUs);

    // Adds the samples of a batch, in their order, and forgets what has grown older than the
    // span before the newest of them, on every channel.
    void Append(const std::vector<Sample>& samples);
    // A channel that takes another variable begins a new history.
    void Clear(int channel);
    // A copy, oldest first.
    Traces Snapshot() const;
    std::size_t Size(int channel) const;

private:
    // A ring over three arrays (17 bytes a sample), grown by doubling up to the capacity.
    struct Ring {
        std::vector<std::int64_t> times;
        std::vector<std::uint8_t> values;
        std::vector<double> typed;
        std::size_t head = 0; // the oldest
        std::size_t size = 0;
    };
    void Push(Ring& ring, const Sample& sample);

    std::size_t capacity_;
    std::int64_t spanUs_;
    mutable std::mutex mutex_;
    std::array<Ring, 4> rings_;
};

} // namespace acq
