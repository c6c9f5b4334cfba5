// The held view's arithmetic without a window: columns and moments, zoom around the pointer and
// pan within the history, the reduction to least and greatest per column, the time-scale label
// and the cursor readout with and without a conversion.
#include "scope/held_view.h"

#include <gtest/gtest.h>

using namespace scope;

namespace {

constexpr int W = 704;

// n samples 1 ms apart from fromUs; values count up.
acq::ChannelTrace Ramp(std::int64_t fromUs, std::size_t n) {
    acq::ChannelTrace t;
    for (std::size_t k = 0; k < n; ++k) {
        t.times.push_back(fromUs + static_cast<std::int64_t>(k) * 1000);
        t.values.push_back(static_cast<std::uint8_t>(k));
    }
    return t;
}

TEST(HeldViewTest, ZoomKeepsTheMomentUnderThePointerAndStopsAtTwentySamplesOrTheWholeHistory) {
    acq::Traces traces;
    traces[1] = Ramp(0, 60000); // a minute, 1 ms apart
    const TimeWindow home{58'000'000, 2'000'000};
    const ViewLimits limits = LimitsOf(traces, home);
    EXPECT_EQ(limits.firstUs, 0);
    EXPECT_EQ(limits.lastUs, 60'000'000);
    EXPECT_EQ(limits.minSpanUs, kFewestSamples * 1000);

    EXPECT_DOUBLE_EQ(ColumnOfTime(59'000'000, home, W), W / 2.0);
    EXPECT_EQ(TimeOfColumn(W / 2.0, home, W), 59'000'000);

    struct Case {
        const char* what;
        double x;
        double factor;
        TimeWindow expected;
    };
    const Case cases[] = {
        {"in around the middle", W / 2.0, 0.5, {58'500'000, 1'000'000}},
        {"in around the left edge", 0, 0.5, {58'000'000, 1'000'000}},
        {"far in: twenty samples", W / 2.0, 1e-6, {58'990'000, 20'000}},
        {"far out: the whole minute", W / 2.0, 1e6, {0, 60'000'000}},
        // Widened around the right edge the window would pass the newest sample: it stops there.
        {"out at the right edge", W, 2, {56'000'000, 4'000'000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoomAround(home, c.x, W, c.factor, limits), c.expected) << c.what;
        if (c.expected.spanUs < home.spanUs && c.x < W) {
            const TimeWindow z = ZoomAround(home, c.x, W, c.factor, limits);
            EXPECT_NEAR(TimeOfColumn(c.x, z, W), TimeOfColumn(c.x, home, W), 1) << c.what;
        }
    }
}

TEST(HeldViewTest, DragPansBackInTimeAndStopsAtTheEnds) {
    acq::Traces traces;
    traces[2] = Ramp(1'000'000, 10000);           // 1 s .. 11 s
    const TimeWindow home{10'000'000, 2'000'000}; // the last sweep reaches past the newest
    const ViewLimits limits = LimitsOf(traces, home);
    EXPECT_EQ(limits.lastUs, 12'000'000);
    // Dragged right by half the box: a second earlier; left from home: nothing later.
    EXPECT_EQ(PanBy(home, W / 2.0, W, limits), (TimeWindow{9'000'000, 2'000'000}));
    EXPECT_EQ(PanBy(home, -W, W, limits), home);
    EXPECT_EQ(PanBy(home, 100 * W, W, limits), (TimeWindow{1'000'000, 2'000'000}));
}

TEST(HeldViewTest, DecimationGivesLeastAndGreatestPerColumnWithTheNeighboursOutside) {
    acq::ChannelTrace t;
    // Around a 704 us view starting at 1000 us (1 us a column): one sample before, a column
    // with three, one with a single bit pattern, one after.
    const std::pair<std::int64_t, std::uint8_t> samples[] = {
        {10, 0x0F}, {1100, 0x30}, {1100, 0x10}, {1100, 0x50}, {1500, 0x81}, {9000, 0xFF}};
    for (const auto& [us, v] : samples) {
        t.times.push_back(us);
        t.values.push_back(v);
    }
    const std::vector<ColumnSpan> columns = Decimate(t, {1000, W}, W);
    const std::vector<ColumnSpan> expected = {
        {-1, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F},
        {100, 0x30, 0x50, 0x10, 0x50, 0x70, 0x10},
        {500, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81},
        {W, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    };
    EXPECT_EQ(columns, expected);

    // A whole minute at 1 ms in the box: never more entries than columns, the extremes kept.
    const acq::ChannelTrace minute = Ramp(0, 60000);
    const std::vector<ColumnSpan> wide = Decimate(minute, {0, 60'000'000}, W);
    EXPECT_LE(wide.size(), static_cast<std::size_t>(W + 2));
    EXPECT_EQ(wide.front().low, 0);
    EXPECT_EQ(wide.front().high, 85); // 85.2 samples a column
}

TEST(HeldViewTest, TimeScaleLabelPerDivision) {
    EXPECT_EQ(TimeScaleText(2'000'000, 8), "250 ms/div");
    EXPECT_EQ(TimeScaleText(800'000, 8), "100 ms/div");
    EXPECT_EQ(TimeScaleText(24'000'000, 12), "2 s/div");
    EXPECT_EQ(TimeScaleText(1'000'000, 12), "83.33 ms/div");
    EXPECT_EQ(TimeScaleText(400, 8), "50 \u00B5s/div");
}

TEST(HeldViewTest, ReadoutInTheVariablesUnitsOrRawAndBitsAsZeroOrOne) {
    mcu::MCVar sine;
    sine.factor = 0.1;
    sine.offset = -12.8;
    sine.unit = "V";
    mcu::MCVar plain; // no conversion line: factor 1, offset 0, unit "1"
    mcu::MCVar bit;
    bit.bitMask = 0x04;

    acq::ChannelTrace t;
    t.times = {1000, 2000, 3000};
    t.values = {0, 200, 255};
    struct Case {
        const char* what;
        Conversion conversion;
        std::string readout;
    };
    const Case cases[] = {
        {"converted", ConversionOf(&sine, 0), "X  A -12.8 V  B 7.2 V  B-A 20 V"},
        {"raw byte", ConversionOf(&plain, 0), "X  A 0  B 200  B-A 200"},
        {"bare address", ConversionOf(nullptr, 0), "X  A 0  B 200  B-A 200"},
        {"bit of a converted byte", ConversionOf(&sine, 0x04), "X  A 0  B 1  B-A 1"},
        {"bit variable", ConversionOf(&bit, bit.bitMask), "X  A 0  B 1  B-A 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChannelReadout("X", t, 1500, 2999, c.conversion), c.readout) << c.what;
    }
    const Conversion volts = ConversionOf(&sine, 0);
    // Before the first sample and after the last there is no value; a cursor not placed is
    // left out.
    EXPECT_EQ(ChannelReadout("X", t, 999, std::nullopt, volts), "X  A -");
    EXPECT_EQ(ChannelReadout("X", t, 3001, std::nullopt, volts), "X  A -");
    EXPECT_EQ(ChannelReadout("X", t, std::nullopt, 3000, volts), "X  B 12.7 V");
    EXPECT_EQ(ChannelReadout("X", t, std::nullopt, std::nullopt, volts), "X");

    EXPECT_EQ(TimeReadout(1000, 13500), "B-A 12.5 ms  80 Hz");
    EXPECT_EQ(TimeReadout(1'013'400, 1000), "B-A -1012 ms  0.9878 Hz");
    EXPECT_EQ(TimeReadout(5, 5), "B-A 0 ms");
    EXPECT_EQ(TimeReadout(std::nullopt, 5), "");
}

} // namespace
