// The trace drawing on the window's trace bitmap: samples are put into a channel record by hand
// and drawn, and the pixels of the bitmap are asserted (rows and columns from the pixel rules).
#include "foundation/clock.h"
#include "scope_bench.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace scope;
using scope_testing::ScopeBench;

namespace {

constexpr int W = 704;
constexpr int H = 442;
constexpr std::uint32_t T0 = 100000;

struct Sample {
    std::uint32_t ms; // after T0
    std::uint8_t value;
};

class DrawTest : public ::testing::Test {
protected:
    DrawTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {
        // The sweep begins with the first sample drawn, at T0.
        form.sweepOrigin = T0 - 5000;
    }

    TChannel& Channel(int i) { return form.channels[static_cast<std::size_t>(i)]; }

    // Draws samples on a channel as a time-mode burst would leave them.
    void Draw(int index, const std::vector<Sample>& samples) {
        TChannel& c = Channel(index);
        c.count = 0;
        for (const Sample& s : samples) {
            ++c.count;
            c.values[static_cast<std::size_t>(c.count)] = s.value;
            c.times[static_cast<std::size_t>(c.count)] = T0 + s.ms;
        }
        form.DrawTimeSamples(index);
    }

    QRgb Pixel(int x, int y) const { return form.traceBitmap.pixel(x, y); }
    bool Is(int x, int y, QRgb colour) const { return Pixel(x, y) == colour; }
    // Pixels of colour in the rectangle from (x0, y0) to (x1, y1), both included.
    int Count(int x0, int y0, int x1, int y1, QRgb colour) const {
        int n = 0;
        for (int x = x0; x <= x1; ++x) {
            for (int y = y0; y <= y1; ++y) {
                n += Is(x, y, colour) ? 1 : 0;
            }
        }
        return n;
    }
    QRgb Blue() { return Channel(1).colour; }

    ScopeBench bench;
    TForm1& form;
};

TEST_F(DrawTest, ChannelsDrawInThePanelColoursOnAWhiteScreenWithADottedGreyGrid) {
    EXPECT_EQ(Channel(1).colour, kChannel1Colour);
    EXPECT_EQ(Channel(2).colour, kChannel2Colour);
    EXPECT_EQ(Channel(3).colour, kChannel3Colour);
    ASSERT_EQ(form.traceBitmap.size(), QSize(W, H));
    EXPECT_EQ(Count(0, 0, W - 1, H - 1, 0xFFFFFFFF), W * H);

    Draw(1, {{0, 100}});
    // The sample began a sweep: cleared screen and grid. Grid rows 55 ... 387 and columns
    // 88 ... 616, every other pixel grey.
    EXPECT_EQ(Count(0, 110, 99, 110, kGridColour), 50);
    EXPECT_EQ(Count(0, 111, 99, 111, kGridColour), 0);
    EXPECT_EQ(Count(264, 0, 264, 49, kGridColour), 25);
    EXPECT_EQ(Count(265, 0, 265, 49, kGridColour), 0);
    // Seven rows and seven columns in all.
    int gridRows = 0;
    for (int y = 0; y < H; ++y) {
        gridRows += Count(1, y, 200, y, kGridColour) >= 90 ? 1 : 0;
    }
    EXPECT_EQ(gridRows, 7);
    int gridColumns = 0;
    for (int x = 0; x < W; ++x) {
        gridColumns += Count(x, 0, x, 50, kGridColour) >= 25 ? 1 : 0;
    }
    EXPECT_EQ(gridColumns, 7);
}

TEST_F(DrawTest, ConstantByteDrawsAHorizontalLineAtItsRow) {
    std::vector<Sample> samples;
    for (std::uint32_t t = 0; t <= 1000; t += 20) {
        samples.push_back({t, 100});
    }
    Draw(1, samples);
    const int row = AnalogueRow(100, H); // 268
    const int end = TimeColumn(T0 + 1000, T0, W);
    EXPECT_EQ(Count(0, row, end, row, Blue()), end + 1);
    // Nothing in the rows around it, nothing beyond the last sample.
    EXPECT_EQ(Count(0, 0, W - 1, row - 1, Blue()), 0);
    EXPECT_EQ(Count(0, row + 1, W - 1, H - 1, Blue()), 0);
    EXPECT_EQ(Count(end + 2, row, W - 1, row, Blue()), 0);
    EXPECT_EQ(Channel(1).count, 0);
    EXPECT_EQ(Channel(1).lastX[1], end);
}

TEST_F(DrawTest, JumpOf31RowsIsADiagonalAnd32LeavesAGap) {
    // 0 -> 18: rows 441 -> 410, a jump of 31.
    Draw(1, {{0, 0}, {100, 0}, {200, 18}, {300, 18}});
    const int x1 = TimeColumn(T0 + 100, T0, W);
    const int x2 = TimeColumn(T0 + 200, T0, W);
    const int mid = (x1 + x2) / 2;
    EXPECT_GT(Count(mid, 411, mid, 440, Blue()), 0) << "no diagonal";

    // 2 -> 20: rows 438 -> 406, a jump of 32: the old row is held up to the new sample's
    // column and the trace goes on from the new row, with nothing in between.
    form.sweepOrigin = T0 - 5000;
    Draw(1, {{0, 2}, {100, 2}, {200, 20}, {300, 20}});
    EXPECT_EQ(Count(x1 + 1, 407, x2, 437, Blue()), 0) << "a vertical or diagonal edge";
    EXPECT_TRUE(Is(mid, 438, Blue()));
    EXPECT_TRUE(Is(x2 - 1, 438, Blue()));
    EXPECT_TRUE(Is((x2 + TimeColumn(T0 + 300, T0, W)) / 2, 406, Blue()));
}

TEST_F(DrawTest, BitVariableShownAnalogueTogglesWithoutVerticalEdges) {
    Channel(1).mask = 0x08;
    std::vector<Sample> samples;
    for (std::uint32_t i = 0; i < 16; ++i) {
        samples.push_back({i * 100, static_cast<std::uint8_t>(i % 4 < 2 ? 0 : 255)});
    }
    Draw(1, samples);
    // Rows 441 (off) and 1 (on), held between the samples; nothing in between.
    EXPECT_EQ(Count(0, 3, W - 1, H - 3, Blue()), 0);
    EXPECT_TRUE(Is(TimeColumn(T0 + 50, T0, W), 441, Blue()));
    EXPECT_TRUE(Is(TimeColumn(T0 + 250, T0, W), 1, Blue()));
    EXPECT_TRUE(Is(TimeColumn(T0 + 650, T0, W), 1, Blue()));
}

TEST_F(DrawTest, BinaryDisplayDrawsEightLanesTwoPixelsWide) {
    Channel(1).binary = 1;
    Draw(1, {{0, 0x05}, {200, 0x05}, {400, 0x05}, {600, 0x85}, {800, 0x85}});
    const int x = TimeColumn(T0 + 300, T0, W);
    // At x every lane holds its row, two pixels high.
    for (int lane = 1; lane <= 8; ++lane) {
        const int y = BitLaneY(0x05, lane, H);
        EXPECT_EQ(Count(x, y - 2, x, y + 2, Blue()), 2) << "lane " << lane;
    }
    // Lane 8 goes up at the fourth sample with a vertical edge two pixels wide.
    const int x4 = TimeColumn(T0 + 600, T0, W);
    const int low = BitLaneY(0x05, 8, H);
    const int high = BitLaneY(0x85, 8, H);
    EXPECT_EQ(Count(x4 - 2, (low + high) / 2, x4 + 2, (low + high) / 2, Blue()), 2);
    EXPECT_EQ(Count(x, 0, x, H - 1, Blue()), 16);
    // Every lane's stroke counts in the statistics: the byte 0x85 was drawn in 8 lanes.
    EXPECT_EQ(Channel(1).statistics.maximum, 0x85);
}

TEST_F(DrawTest, BitOfAByteInBinaryDisplayDrawsOnlyItsLane) {
    Channel(1).binary = 1;
    Channel(1).mask = 0x04;
    Draw(1, {{0, 0}, {200, 255}, {400, 255}, {600, 0}});
    const int x = TimeColumn(T0 + 300, T0, W);
    EXPECT_EQ(Count(x, 0, x, H - 1, Blue()), 2);
    EXPECT_EQ(Count(x, BitLaneY(255, 3, H) - 1, x, BitLaneY(255, 3, H) + 1, Blue()), 2);
}

TEST_F(DrawTest, SweepEndsOnlyBeyondTheRightEdgeAndRestartsThereWithAClearScreen) {
    Draw(1, {{0, 100}, {1000, 100}, {2000, 100}});
    const int row = AnalogueRow(100, H);
    EXPECT_EQ(form.sweepOrigin, T0);
    EXPECT_TRUE(Is(W - 1, row, Blue())); // column 704 is on the edge: the sweep goes on

    Draw(1, {{2001, 100}, {2002, 200}, {2100, 200}});
    // 2002 ms lies at column 705: the sweep restarted there and the screen was cleared.
    EXPECT_EQ(form.sweepOrigin, T0 + 2002);
    EXPECT_EQ(Count(0, row, W - 1, row, Blue()), 0);
    const int end = TimeColumn(T0 + 2100, T0 + 2002, W);
    const int newRow = AnalogueRow(200, H);
    EXPECT_EQ(Count(0, newRow, end, newRow, Blue()), end + 1);
    // The statistics of the finished sweep went into the edits.
    EXPECT_EQ(form.Min1->text(), "100");
    EXPECT_EQ(form.Max1->text(), "100");
    EXPECT_EQ(form.Avg1->text(), "100");
}

TEST_F(DrawTest, SampleOlderThanTheOriginRestartsTheSweepAtItsOwnTime) {
    Draw(1, {{0, 50}, {500, 50}});
    // Channel 2's sample of the same burst was taken before channel 1's restart.
    Draw(2, {{1000, 50}});
    form.sweepOrigin = T0 + 1500;
    Draw(2, {{1200, 60}});
    EXPECT_EQ(form.sweepOrigin, T0 + 1200);
}

TEST_F(DrawTest, RateShowsOnlyAfterMoreThan16SamplesInASweep) {
    form.RateLabel->setText("OFFLINE");
    form.rateMeter.rate = 471;
    std::vector<Sample> samples;
    for (std::uint32_t i = 0; i <= 15; ++i) {
        samples.push_back({i * 100, 1}); // the first restarts, 15 more in the sweep
    }
    samples.push_back({2100, 1}); // the 16th drawn since the restart ends the sweep
    Draw(1, samples);
    EXPECT_EQ(form.RateLabel->text(), "OFFLINE");
    samples.clear();
    for (std::uint32_t i = 1; i <= 16; ++i) {
        samples.push_back({2100 + i * 100, 1});
    }
    samples.push_back({4200, 1}); // the 17th
    Draw(1, samples);
    EXPECT_EQ(form.RateLabel->text(), "471 var/s");
}

TEST_F(DrawTest, SingleShotStopsAtTheEndOfASweepOfMoreThan16Samples) {
    form.SetRunFlag(true);
    form.singleShot = true;
    std::vector<Sample> samples;
    for (std::uint32_t i = 0; i <= 15; ++i) {
        samples.push_back({i * 100, 7});
    }
    samples.push_back({2100, 7});
    Draw(1, samples);
    // 16 drawn at the sweep's end: the sweep restarts as in continuous mode.
    EXPECT_TRUE(form.RunFlag());
    EXPECT_EQ(form.sweepOrigin, T0 + 2100);
    EXPECT_EQ(form.drawnSamples, 0);

    samples.clear();
    for (std::uint32_t i = 1; i <= 16; ++i) {
        samples.push_back({2100 + i * 100, 9});
    }
    samples.push_back({4200, 9});
    Channel(2).count = 3; // samples of the same burst waiting on channel 2
    Draw(1, samples);
    EXPECT_FALSE(form.RunFlag());
    EXPECT_FALSE(form.IdlePumpActive());
    EXPECT_EQ(form.drawnSamples, 0);
    EXPECT_EQ(Channel(2).count, 0);
    // The finished sweep stays on the screen.
    EXPECT_EQ(form.sweepOrigin, T0 + 2100);
    EXPECT_GT(Count(0, AnalogueRow(9, H), W - 1, AnalogueRow(9, H), Blue()), 500);
}

// --- x-y drawing ------------------------------------------------------------------------------

class XYDrawTest : public DrawTest {
protected:
    XYDrawTest() {
        form.channels[0].active = 1;
        form.VarNameX->SetText("SAW");
        now = static_cast<std::uint32_t>(foundation::ClockMs());
    }
    std::uint32_t now = 0;
};

TEST_F(XYDrawTest, RedrawClearsOnChannelOneAndShowsTheEdgeCount) {
    TChannel& c = Channel(1);
    c.mask = 0x01;
    for (int i = 1; i <= 256; ++i) {
        c.values[static_cast<std::size_t>(i)] = i >= 100 && i < 200 ? 255 : 0;
        c.times[static_cast<std::size_t>(i)] = now;
    }
    form.traceBitmap.setPixel(300, 300, 0xFFFF0000);
    form.DrawXYChannel(1);
    EXPECT_EQ(form.EdgeCountLabel->text(), "2");
    EXPECT_FALSE(Is(300, 300, 0xFFFF0000));
    EXPECT_TRUE(Is(XYColumn(150, W), 1, Blue()));
    EXPECT_TRUE(Is(XYColumn(50, W), 441, Blue()));
    EXPECT_TRUE(Is(XYColumn(230, W), 441, Blue()));
    // x-y mode has no jump rule: the level changes are vertical edges.
    EXPECT_GT(Count(XYColumn(100, W), 3, XYColumn(100, W), H - 3, Blue()), 400);
    EXPECT_EQ(Count(XYColumn(150, W), 3, XYColumn(150, W), H - 3, Blue()), 0);
    EXPECT_EQ(form.Min1->text(), "0");
    EXPECT_EQ(form.Max1->text(), "255");
    EXPECT_EQ(form.Avg1->text(), QString::number(N(255.0 * 100 / 256)));

    // Channel 2 is drawn over it without clearing.
    TChannel& c2 = Channel(2);
    c2.values.fill(128);
    c2.times.fill(0);
    c2.times[10] = now;
    c2.times[11] = now;
    form.DrawXYChannel(2);
    EXPECT_TRUE(Is(XYColumn(150, W), 1, Blue()));
    EXPECT_TRUE(Is((XYColumn(10, W) + XYColumn(11, W)) / 2, AnalogueRow(128, H), c2.colour));
    EXPECT_EQ(form.EdgeCountLabel->text(), "0");
}

TEST_F(XYDrawTest, EmptySlotsAreSkippedAndRecentOnlyDropsOldPoints) {
    TChannel& c = Channel(1);
    c.values.fill(200);
    c.times.fill(0);
    for (int i = 20; i <= 60; ++i) {
        c.times[static_cast<std::size_t>(i)] = now - 1500;
    }
    for (int i = 150; i <= 200; ++i) {
        c.times[static_cast<std::size_t>(i)] = now - 200;
    }
    const int row = AnalogueRow(200, H);
    form.DrawXYChannel(1);
    EXPECT_TRUE(Is(XYColumn(40, W), row, Blue()));
    EXPECT_TRUE(Is(XYColumn(175, W), row, Blue()));
    EXPECT_FALSE(Is(XYColumn(240, W), row, Blue()));

    form.NoHisSelected->SetChecked(true);
    form.DrawXYChannel(1);
    EXPECT_FALSE(Is(XYColumn(40, W), row, Blue()));
    EXPECT_TRUE(Is(XYColumn(175, W), row, Blue()));
}

TEST_F(XYDrawTest, AngleInTheXNameGivesTwelveDivisions) {
    auto columns = [this] {
        int n = 0;
        for (int x = 0; x < W; ++x) {
            n += Count(x, 0, x, 50, kGridColour) >= 25 ? 1 : 0;
        }
        return n;
    };
    form.VarNameX->SetText("ANGLE");
    form.DrawGrid();
    EXPECT_EQ(columns(), 11);
    EXPECT_GE(Count(59, 0, 59, 50, kGridColour), 25);

    form.ClearScreen();
    form.VarNameX->SetText("angle");
    form.DrawGrid();
    EXPECT_EQ(columns(), 7);

    form.ClearScreen();
    form.VarNameX->SetText("ANGLE");
    form.channels[0].active = 0; // not in x-y mode
    form.DrawGrid();
    EXPECT_EQ(columns(), 7);
}

TEST_F(XYDrawTest, SingleShotStopsAfterARedrawOfMoreThan16Points) {
    form.SetRunFlag(true);
    form.singleShot = true;
    TChannel& c = Channel(1);
    c.times.fill(0);
    for (int i = 1; i <= 16; ++i) {
        c.times[static_cast<std::size_t>(i)] = now;
    }
    form.DrawXYChannel(1);
    EXPECT_TRUE(form.RunFlag());
    c.times[17] = now;
    form.DrawXYChannel(1);
    EXPECT_FALSE(form.RunFlag());
}

TEST_F(DrawTest, LegendNamesTheActiveChannelsInTheirColours) {
    form.VarName1->SetText("SINE");
    form.OnChange(form.VarName1);
    form.VarName3->SetText("RUN");
    form.OnChange(form.VarName3);
    form.VarNameX->SetText("ANGLE");
    form.OnChange(form.VarNameX);
    form.DrawLegend();
    // Channel 1 at the top left, channel 3 on the next line, the x-variable at the bottom right.
    EXPECT_GT(Count(0, 0, 60, 12, Blue()), 10);
    EXPECT_EQ(Count(0, 0, W - 1, H - 1, kChannel2Colour), 0);
    EXPECT_GT(Count(0, 12, 60, 30, kChannel3Colour), 10);
    EXPECT_EQ(Count(0, 0, 60, 11, kChannel3Colour), 0);
    EXPECT_GT(Count(W - 60, H - 16, W - 1, H - 1, kGridColour), 10);
}

} // namespace
