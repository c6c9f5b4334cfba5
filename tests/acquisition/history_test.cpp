// The engine's history: bounded by count (the real bound, 2^20 a channel) and by age across
// the channels, in time order through the ring's growth and wrap, and filled by the engine's
// own bursts, a channel that takes another variable beginning afresh.
#include "acquisition/history.h"
#include "engine_bench.h"

#include <gtest/gtest.h>

#include <vector>

using namespace acq;
using acquisition_testing::EngineBench;

namespace {

std::vector<Sample> Samples(int channel, std::int64_t fromUs, std::int64_t stepUs, std::size_t n) {
    std::vector<Sample> samples(n);
    for (std::size_t k = 0; k < n; ++k) {
        samples[k].channel = static_cast<std::uint8_t>(channel);
        samples[k].value = static_cast<std::uint8_t>(k);
        samples[k].arrivalUs = fromUs + static_cast<std::int64_t>(k) * stepUs;
    }
    return samples;
}

TEST(HistoryTest, AnUnpacedLinkKeepsTheNewest2To20SamplesOfAChannel) {
    History history;
    // 20 s at 100,000 reads a second: well inside the minute, far beyond the count.
    const std::size_t n = kHistorySamples + 1000;
    history.Append(Samples(1, 0, 10, n));
    EXPECT_EQ(history.Size(1), kHistorySamples);
    const Traces traces = history.Snapshot();
    const ChannelTrace& t = traces[1];
    ASSERT_EQ(t.Size(), kHistorySamples);
    EXPECT_EQ(t.times.front(), 1000 * 10);
    EXPECT_EQ(t.times.back(), static_cast<std::int64_t>(n - 1) * 10);
    EXPECT_EQ(t.values.front(), static_cast<std::uint8_t>(1000));
    EXPECT_TRUE(std::is_sorted(t.times.begin(), t.times.end()));
}

TEST(HistoryTest, RingStaysInTimeOrderThroughGrowthWrapAndAge) {
    struct Case {
        const char* what;
        std::size_t capacity;
        std::int64_t spanUs;
        std::vector<std::size_t> batches; // samples per append, 1 us apart
        std::size_t kept;
    };
    const Case cases[] = {
        {"under the capacity", 100, 1'000'000, {30, 40}, 70},
        {"wrapped at a small capacity", 8, 1'000'000, {5, 5, 5, 5}, 8},
        {"grown past the first allocation", 10000, 1'000'000, {4096, 3000}, 7096},
        // The oldest are dropped by age, then the ring grows with its head inside.
        {"grown after dropping by age", 10000, 4000, {4096, 200}, 4001},
    };
    for (const Case& c : cases) {
        History history(c.capacity, c.spanUs);
        std::int64_t at = 0;
        for (std::size_t n : c.batches) {
            history.Append(Samples(2, at, 1, n));
            at += static_cast<std::int64_t>(n);
        }
        const ChannelTrace t = history.Snapshot()[2];
        ASSERT_EQ(t.Size(), c.kept) << c.what;
        // The newest sample was appended last; every one before it is 1 us earlier.
        EXPECT_EQ(t.times.back(), at - 1) << c.what;
        for (std::size_t k = 1; k < t.Size(); ++k) {
            ASSERT_EQ(t.times[k], t.times[k - 1] + 1) << c.what << " at " << k;
        }
    }
}

TEST(HistoryTest, AgeCountsFromTheNewestSampleOfAnyChannel) {
    History history(1000, 60'000'000);
    history.Append(Samples(3, 0, 1'000'000, 10)); // 0 .. 9 s
    history.Append(Samples(1, 65'000'000, 1, 1)); // 65 s: channel 3's first 5 s are too old
    const Traces traces = history.Snapshot();
    ASSERT_EQ(traces[3].Size(), 5u);
    EXPECT_EQ(traces[3].times.front(), 5'000'000);
    EXPECT_EQ(traces[1].Size(), 1u);
    history.Clear(3);
    EXPECT_EQ(history.Size(3), 0u);
    EXPECT_EQ(history.Size(1), 1u);
}

TEST(HistoryTest, EngineKeepsEverySampleItPublishedAndANewVariableBeginsAfresh) {
    EngineBench bench;
    bench.Use(1, "SINE");
    bench.Use(2, "SAW");
    const Batch joined = bench.RunFor(3000);
    History& history = bench.Engine().SampleHistory();
    const Traces traces = history.Snapshot();
    for (int c = 1; c <= 2; ++c) {
        std::vector<std::int64_t> published;
        for (const Sample& s : joined.samples) {
            if (s.channel == c) {
                published.push_back(s.arrivalUs);
            }
        }
        ASSERT_GT(published.size(), 100u) << c;
        EXPECT_EQ(traces[static_cast<std::size_t>(c)].times, published) << c;
    }
    bench.Use(2, "COUNTER");
    bench.Step();
    EXPECT_LT(history.Size(2), history.Size(1) / 10);
    EXPECT_GT(history.Size(2), 0u);
}

} // namespace
