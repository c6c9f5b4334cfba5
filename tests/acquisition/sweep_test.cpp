// The sweep clock on its own: where time-mode sweeps end, when the rate shows, where a single
// sweep stops, and how x-y redraws count, for samples made by hand.
#include "acquisition/sampling.h"
#include "acquisition/sweep.h"

#include <gtest/gtest.h>

#include <vector>

using namespace acq;

namespace {

constexpr std::uint32_t T0 = 100000;
constexpr int W = 704;

struct Case {
    const char* what;
    std::vector<std::pair<int, std::uint32_t>> samples; // channel, ms after T0
    bool single;
    std::vector<SweepEnd> ends;
    bool stopped;
    std::uint32_t origin; // after T0
    std::int32_t drawn;
};

std::vector<std::pair<int, std::uint32_t>> Every100Ms(int count, std::uint32_t from = 0) {
    std::vector<std::pair<int, std::uint32_t>> s;
    for (int i = 0; i < count; ++i) {
        s.push_back({1, from + static_cast<std::uint32_t>(i) * 100});
    }
    return s;
}

TEST(SweepClockTest, EndsRateAndSingleStops) {
    auto with = [](std::vector<std::pair<int, std::uint32_t>> s,
                   std::pair<int, std::uint32_t> last) {
        s.push_back(last);
        return s;
    };
    const Case cases[] = {
        // 2000 ms is column 704, on the edge; 2002 ms is column 705, beyond it.
        {"edge",
         {{1, 1000}, {1, 2000}, {1, 2002}, {1, 2100}},
         false,
         {{2, false, false}},
         false,
         2002,
         1},
        // The first sample of a channel older than the origin: another channel of the same
        // burst began the sweep after it was read, so it begins one more at its own time.
        {"older",
         {{2, 1990}, {1, 2500}, {1, 2600}},
         false,
         {{1, false, false}, {0, false, false}},
         false,
         1990,
         0},
        // 16 samples drawn at the end: no rate, and a single sweep goes on.
        {"sixteen",
         with(Every100Ms(15, 100), {1, 2100}),
         true,
         {{15, false, false}},
         false,
         2100,
         0},
        // 17: the rate shows, and a single sweep stops there; what follows is not drawn.
        {"seventeen",
         with(with(Every100Ms(16, 100), {1, 2100}), {2, 2200}),
         true,
         {{16, true, true}},
         true,
         0,
         0},
        {"continuous",
         with(Every100Ms(16, 100), {1, 2100}),
         false,
         {{16, true, false}},
         false,
         2100,
         0},
    };
    for (const Case& c : cases) {
        std::vector<Sample> samples;
        for (auto [channel, ms] : c.samples) {
            Sample s;
            s.channel = static_cast<std::uint8_t>(channel);
            s.stamp = T0 + ms;
            samples.push_back(s);
        }
        SweepClock clock{T0, 0};
        std::vector<SweepEnd> ends;
        EXPECT_EQ(clock.EndSweeps(samples, SweepLastMs(W), c.single, ends), c.stopped) << c.what;
        EXPECT_EQ(ends, c.ends) << c.what;
        if (!c.stopped) {
            EXPECT_EQ(clock.origin, T0 + c.origin) << c.what;
        }
        EXPECT_EQ(clock.drawn, c.drawn) << c.what;
    }
}

TEST(SweepClockTest, RedrawsCountOnFromTheSweepAndStopAfterMoreThan16Points) {
    SweepClock clock{T0, 10};
    // The sweep drawn before x-y mode began counts for the first redraw.
    Redraw first = clock.CountRedraw(1, 7, true);
    EXPECT_TRUE(first.showRate);
    EXPECT_TRUE(first.stop);
    EXPECT_EQ(clock.drawn, 0);
    Redraw second = clock.CountRedraw(2, 16, true);
    EXPECT_FALSE(second.showRate);
    EXPECT_FALSE(second.stop);
    EXPECT_TRUE(clock.CountRedraw(3, 17, false).showRate);
}

} // namespace
