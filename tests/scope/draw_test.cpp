// The trace drawing on the window's trace bitmap: batches are made by hand, with the sweep ends
// the engine's sweep clock notes for them, and shown; the pixels of the bitmap are asserted
// (rows and columns from the pixel rules).
#include "acquisition/sweep.h"
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
    DrawTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {}

    const TChannel& Channel(int i) const { return form.Channel(i); }
    void Type(TComboBox* box, const char* text) {
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }

    // A time-mode batch of samples on one channel, with the sweep ends the engine's sweep
    // clock notes for them; the sweep begins with the first sample drawn, at T0.
    acq::Batch TimeBatch(int index, const std::vector<Sample>& samples) {
        acq::Batch batch = Next();
        for (const Sample& s : samples) {
            acq::Sample sample;
            sample.channel = static_cast<std::uint8_t>(index);
            sample.value = s.value;
            sample.stamp = T0 + s.ms;
            batch.samples.push_back(sample);
        }
        batch.origin = sweep.origin;
        if (sweep.EndSweeps(batch.samples, acq::SweepLastMs(W), single, batch.sweepEnds)) {
            batch.status.running = false;
        }
        return batch;
    }
    void Draw(int index, const std::vector<Sample>& samples) {
        form.ShowBatch(TimeBatch(index, samples));
    }
    acq::Batch Next() {
        acq::Batch batch;
        batch.sequence = ++sequence;
        // As if the engine had taken every command the window sent.
        batch.appliedUpTo = ~std::uint64_t{0};
        batch.status.running = true;
        batch.status.singleShot = single;
        batch.rate = rate;
        return batch;
    }

    QRgb Pixel(int x, int y) const { return form.TraceBitmap().pixel(x, y); }
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
    ScopeWindow& form;
    acq::SweepClock sweep{T0 - 5000, 0};
    bool single = false;
    std::uint16_t rate = 0;
    std::uint64_t sequence = 0;
};

TEST_F(DrawTest, ChannelsDrawInThePanelColoursOnAWhiteScreenWithADottedGreyGrid) {
    EXPECT_EQ(Channel(1).colour, kChannel1Colour);
    EXPECT_EQ(Channel(2).colour, kChannel2Colour);
    EXPECT_EQ(Channel(3).colour, kChannel3Colour);
    ASSERT_EQ(form.TraceBitmap().size(), QSize(W, H));
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
    sweep.origin = T0 - 5000;
    Draw(1, {{0, 2}, {100, 2}, {200, 20}, {300, 20}});
    EXPECT_EQ(Count(x1 + 1, 407, x2, 437, Blue()), 0) << "a vertical or diagonal edge";
    EXPECT_TRUE(Is(mid, 438, Blue()));
    EXPECT_TRUE(Is(x2 - 1, 438, Blue()));
    EXPECT_TRUE(Is((x2 + TimeColumn(T0 + 300, T0, W)) / 2, 406, Blue()));
}

TEST_F(DrawTest, BitVariableShownAnalogueTogglesWithoutVerticalEdges) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE.3");
    ASSERT_EQ(Channel(1).mask, 0x08);
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
    Ctl<TCheckBox>(form, "DisplayBin1")->SetChecked(true);
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
    Ctl<TCheckBox>(form, "DisplayBin1")->SetChecked(true);
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE.2");
    Draw(1, {{0, 0}, {200, 255}, {400, 255}, {600, 0}});
    const int x = TimeColumn(T0 + 300, T0, W);
    EXPECT_EQ(Count(x, 0, x, H - 1, Blue()), 2);
    EXPECT_EQ(Count(x, BitLaneY(255, 3, H) - 1, x, BitLaneY(255, 3, H) + 1, Blue()), 2);
}

TEST_F(DrawTest, SweepEndsOnlyBeyondTheRightEdgeAndRestartsThereWithAClearScreen) {
    Draw(1, {{0, 100}, {1000, 100}, {2000, 100}});
    const int row = AnalogueRow(100, H);
    EXPECT_EQ(form.SweepOrigin(), T0);
    EXPECT_TRUE(Is(W - 1, row, Blue())); // column 704 is on the edge: the sweep goes on

    Draw(1, {{2001, 100}, {2002, 200}, {2100, 200}});
    // 2002 ms lies at column 705: the sweep restarted there and the screen was cleared.
    EXPECT_EQ(form.SweepOrigin(), T0 + 2002);
    EXPECT_EQ(Count(0, row, W - 1, row, Blue()), 0);
    const int end = TimeColumn(T0 + 2100, T0 + 2002, W);
    const int newRow = AnalogueRow(200, H);
    EXPECT_EQ(Count(0, newRow, end, newRow, Blue()), end + 1);
    // The statistics went into the edits: the finished sweep's strokes, and the reads of the
    // burst that ended it, which enter the statistics before anything is drawn, and the stroke
    // of 2001 ms: (3 x 100 + 100 + 200 + 200 + 100) / 7.
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min1")->text(), "100");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Max1")->text(), "200");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Avg1")->text(), "129");
}

TEST_F(DrawTest, RateShowsOnlyAfterMoreThan16SamplesInASweep) {
    Ctl<QLabel>(form, "Label16")->setText("OFFLINE");
    rate = 471;
    std::vector<Sample> samples;
    for (std::uint32_t i = 0; i <= 15; ++i) {
        samples.push_back({i * 100, 1}); // the first restarts, 15 more in the sweep
    }
    samples.push_back({2100, 1}); // the 16th drawn since the restart ends the sweep
    Draw(1, samples);
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "OFFLINE");
    samples.clear();
    for (std::uint32_t i = 1; i <= 16; ++i) {
        samples.push_back({2100 + i * 100, 1});
    }
    samples.push_back({4200, 1}); // the 17th
    Draw(1, samples);
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "471 var/s");
}

TEST_F(DrawTest, SingleSweepThatStopsLeavesTheRestOfTheBatchUndrawn) {
    single = true;
    std::vector<Sample> samples;
    for (std::uint32_t i = 0; i <= 16; ++i) {
        samples.push_back({i * 100, 7}); // the first begins the sweep, 16 more are drawn
    }
    Draw(1, samples);
    samples.clear();
    samples.push_back({2100, 9}); // the 17th ends the sweep and stops
    samples.push_back({2150, 9});
    acq::Batch batch = TimeBatch(1, samples);
    acq::Sample other;
    other.channel = 2;
    other.value = 200;
    other.stamp = T0 + 2120;
    batch.samples.push_back(other);
    ASSERT_EQ(batch.sweepEnds.size(), 1u);
    ASSERT_TRUE(batch.sweepEnds[0].stop);
    form.ShowBatch(batch);
    EXPECT_FALSE(form.RunFlag());
    // The finished sweep stays on the screen; neither the sample after the stop nor channel
    // 2's sample of the same burst is drawn.
    EXPECT_EQ(form.SweepOrigin(), T0);
    const int row = AnalogueRow(7, H);
    EXPECT_GT(Count(0, row, W - 1, row, Blue()), 500);
    EXPECT_EQ(Count(0, 0, W - 1, H - 1, kChannel2Colour), 0);
    EXPECT_EQ(Count(0, AnalogueRow(9, H), W - 1, AnalogueRow(9, H), Blue()), 0);
    EXPECT_EQ(Channel(2).count, 0);
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min1")->text(), "7");
}

// --- x-y drawing ------------------------------------------------------------------------------

class XYDrawTest : public DrawTest {
protected:
    XYDrawTest() {
        Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
        Type(Ctl<TComboBox>(form, "VarNameX"), "SAW");
        now = static_cast<std::uint32_t>(foundation::ClockMs());
    }
    // An x-y batch: value and stamp per slot of a channel, then the redraws of the channels
    // given, as the engine's sweep clock counts their points.
    acq::Batch XYBatch(int index, const std::vector<std::pair<int, std::uint8_t>>& slots,
                       std::uint32_t stamp) {
        acq::Batch batch = Next();
        batch.xMode = true;
        for (auto [slot, value] : slots) {
            acq::Sample sample;
            sample.channel = static_cast<std::uint8_t>(index);
            sample.slot = static_cast<std::uint16_t>(slot);
            sample.value = value;
            sample.stamp = stamp;
            batch.samples.push_back(sample);
        }
        return batch;
    }
    void Redraw(acq::Batch& batch, std::initializer_list<int> channels, int points) {
        batch.redraw = true;
        for (int channel : channels) {
            batch.redraws.push_back(sweep.CountRedraw(channel, points, single));
        }
    }
    std::uint32_t now = 0;
};

TEST_F(XYDrawTest, RedrawClearsOnChannelOneAndShowsTheEdgeCount) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE.0");
    ASSERT_EQ(Channel(1).mask, 0x01);
    Draw(1, {{0, 255}, {500, 255}}); // a time-mode trace the redraw must clear
    const int oldRow = AnalogueRow(255, H);
    ASSERT_GT(Count(0, oldRow, W - 1, oldRow, Blue()), 100);
    std::vector<std::pair<int, std::uint8_t>> slots;
    for (int i = 1; i <= 256; ++i) {
        slots.push_back({i, static_cast<std::uint8_t>(i >= 100 && i < 200 ? 255 : 0)});
    }
    acq::Batch batch = XYBatch(1, slots, now);
    Redraw(batch, {1}, 256);
    form.ShowBatch(batch);
    EXPECT_EQ(Ctl<QLabel>(form, "Label21")->text(), "2");
    EXPECT_FALSE(Is(XYColumn(50, W), oldRow, Blue()));
    EXPECT_TRUE(Is(XYColumn(150, W), 1, Blue()));
    EXPECT_TRUE(Is(XYColumn(50, W), 441, Blue()));
    EXPECT_TRUE(Is(XYColumn(230, W), 441, Blue()));
    // x-y mode has no jump rule: the level changes are vertical edges.
    EXPECT_GT(Count(XYColumn(100, W), 3, XYColumn(100, W), H - 3, Blue()), 400);
    EXPECT_EQ(Count(XYColumn(150, W), 3, XYColumn(150, W), H - 3, Blue()), 0);
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min1")->text(), "0");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Max1")->text(), "255");
    // The block also holds the two strokes of the time-mode trace since its sweep began.
    EXPECT_EQ(Ctl<QLineEdit>(form, "Avg1")->text(), QString::number(N(255.0 * 102 / 258)));

    // Channel 2 is drawn over channel 1's redraw without clearing; its edge count is the way
    // up to 128 and back down across the x range.
    acq::Batch second = XYBatch(2, {{10, 128}, {11, 128}}, now);
    Redraw(second, {1, 2}, 2);
    form.ShowBatch(second);
    EXPECT_TRUE(Is(XYColumn(150, W), 1, Blue()));
    EXPECT_TRUE(
        Is((XYColumn(10, W) + XYColumn(11, W)) / 2, AnalogueRow(128, H), Channel(2).colour));
    EXPECT_EQ(Ctl<QLabel>(form, "Label21")->text(), "1");
}

TEST_F(XYDrawTest, EmptySlotsAreSkippedAndRecentOnlyDropsOldPoints) {
    std::vector<std::pair<int, std::uint8_t>> old;
    std::vector<std::pair<int, std::uint8_t>> recent;
    for (int i = 20; i <= 60; ++i) {
        old.push_back({i, 200});
    }
    for (int i = 150; i <= 200; ++i) {
        recent.push_back({i, 200});
    }
    form.ShowBatch(XYBatch(1, old, now - 1500));
    acq::Batch batch = XYBatch(1, recent, now - 200);
    Redraw(batch, {1}, 92);
    batch.recentCutoff = now - 1000;
    const int row = AnalogueRow(200, H);
    form.ShowBatch(batch);
    EXPECT_TRUE(Is(XYColumn(40, W), row, Blue()));
    EXPECT_TRUE(Is(XYColumn(175, W), row, Blue()));
    EXPECT_FALSE(Is(XYColumn(240, W), row, Blue()));

    batch = XYBatch(1, {}, now);
    Redraw(batch, {1}, 51);
    batch.recentOnly = true;
    batch.recentCutoff = now - 1000;
    form.ShowBatch(batch);
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
    Ctl<TComboBox>(form, "VarNameX")->SetText("ANGLE");
    form.DrawGrid();
    EXPECT_EQ(columns(), 11);
    EXPECT_GE(Count(59, 0, 59, 50, kGridColour), 25);

    form.ClearScreen();
    Ctl<TComboBox>(form, "VarNameX")->SetText("angle");
    form.DrawGrid();
    EXPECT_EQ(columns(), 7);

    form.ClearScreen();
    Ctl<TComboBox>(form, "VarNameX")->SetText("ANGLE");
    Ctl<TCheckBox>(form, "VarSelectedX")->SetChecked(false); // not in x-y mode
    form.DrawGrid();
    EXPECT_EQ(columns(), 7);
}

TEST_F(DrawTest, LegendNamesTheActiveChannelsInTheirColours) {
    Ctl<TComboBox>(form, "VarName1")->SetText("SINE");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    Ctl<TComboBox>(form, "VarName3")->SetText("RUN");
    Q_EMIT Ctl<TComboBox>(form, "VarName3")->UserChanged();
    Ctl<TComboBox>(form, "VarNameX")->SetText("ANGLE");
    Q_EMIT Ctl<TComboBox>(form, "VarNameX")->UserChanged();
    form.DrawLegend();
    // Channel 1 at the top left, channel 3 on the next line, the x-variable at the bottom right.
    EXPECT_GT(Count(0, 0, 60, 12, Blue()), 10);
    EXPECT_EQ(Count(0, 0, W - 1, H - 1, kChannel2Colour), 0);
    EXPECT_GT(Count(0, 12, 60, 30, kChannel3Colour), 10);
    EXPECT_EQ(Count(0, 0, 60, 11, kChannel3Colour), 0);
    EXPECT_GT(Count(W - 60, H - 16, W - 1, H - 1, kGridColour), 10);
}

} // namespace
