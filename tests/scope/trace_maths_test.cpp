// The pixel arithmetic of the trace display on its own, for the window's 704 x 442 screen:
// every table the drawing relies on, with the halves that decide between rounding rules.
#include "scope/trace_maths.h"

#include <gtest/gtest.h>

#include <vector>

using namespace scope;

namespace {

constexpr int W = 704;
constexpr int H = 442;

TEST(TraceMathsTest, RoundingIsHalfToEvenAndTruncationTowardZero) {
    EXPECT_EQ(N(110.5), 110);
    EXPECT_EQ(N(331.5), 332);
    EXPECT_EQ(N(-2.5), -2);
    EXPECT_EQ(N(2.51), 3);
    EXPECT_EQ(T(2.99), 2);
    EXPECT_EQ(T(-2.99), -2);
    EXPECT_EQ(T(1.0e10), 2147483647); // clamped, never undefined
}

TEST(TraceMathsTest, AnalogueRowsSpanTheScreenFromTheBottomRowToRowOne) {
    EXPECT_EQ(AnalogueRow(0, H), 441);
    EXPECT_EQ(AnalogueRow(255, H), 1);
    EXPECT_EQ(AnalogueRow(128, H), 220);
    EXPECT_EQ(AnalogueRow(100, H), 268);
    // The rows that make the jump rule's border cases.
    EXPECT_EQ(AnalogueRow(0, H) - AnalogueRow(18, H), 31);
    EXPECT_EQ(AnalogueRow(2, H) - AnalogueRow(20, H), 32);
    for (int v = 1; v < 256; ++v) {
        EXPECT_LT(AnalogueRow(static_cast<std::uint8_t>(v), H),
                  AnalogueRow(static_cast<std::uint8_t>(v - 1), H))
            << v;
    }
}

TEST(TraceMathsTest, TimeColumnsSpanTwoSecondsWithAnUnsignedDifference) {
    const std::uint32_t origin = 50000;
    EXPECT_EQ(TimeColumn(origin, origin, W), 0);
    EXPECT_EQ(TimeColumn(origin + 1000, origin, W), 352);
    EXPECT_EQ(TimeColumn(origin + 2000, origin, W), 704); // on the edge, not beyond it
    EXPECT_EQ(TimeColumn(origin + 2001, origin, W), 704);
    EXPECT_EQ(TimeColumn(origin + 2002, origin, W), 705);
    // A sample older than the origin lies far beyond the right edge.
    EXPECT_GT(TimeColumn(origin - 1, origin, W), 1000000000);
    // Across the wrap of the 32-bit clock the difference stays small.
    EXPECT_EQ(TimeColumn(499, 0xFFFFFC18u, W), 528);
}

TEST(TraceMathsTest, XYColumnsPutSlotOneAtTheLeftAndSlot256AtTheRightEdge) {
    const std::vector<int> slots = {1, 2, 128, 255, 256};
    std::vector<int> columns;
    for (int s : slots) {
        columns.push_back(XYColumn(s, W));
    }
    EXPECT_EQ(columns, (std::vector<int>{0, 3, 351, 701, 704}));
}

TEST(TraceMathsTest, BitLanesRiseFromTheBottomWithSetBitsRaised) {
    std::vector<int> clear;
    std::vector<int> set;
    for (int lane = 1; lane <= 8; ++lane) {
        clear.push_back(BitLaneY(0x00, lane, H));
        set.push_back(BitLaneY(0xFF, lane, H));
    }
    // 330.5 and 109.5 go to the even neighbour.
    EXPECT_EQ(clear, (std::vector<int>{441, 386, 330, 275, 220, 165, 110, 54}));
    EXPECT_EQ(set, (std::vector<int>{422, 367, 312, 256, 201, 146, 91, 35}));
    // Each lane looks only at its own bit.
    EXPECT_EQ(BitLaneY(0x05, 1, H), 422);
    EXPECT_EQ(BitLaneY(0x05, 2, H), 386);
    EXPECT_EQ(BitLaneY(0x05, 3, H), 312);
    EXPECT_EQ(BitLaneY(0x80, 8, H), 35);
    EXPECT_EQ(BitLaneY(0x80, 7, H), 110);
}

TEST(TraceMathsTest, GridHasSevenRowsAndEightOrTwelveDivisions) {
    std::vector<int> rows;
    for (int i = 1; i <= 7; ++i) {
        rows.push_back(GridRow(i, H));
    }
    EXPECT_EQ(rows, (std::vector<int>{55, 110, 166, 221, 276, 332, 387}));
    std::vector<int> twelve;
    for (int i = 1; i <= 11; ++i) {
        twelve.push_back(GridColumn(i, 12, W));
    }
    EXPECT_EQ(twelve, (std::vector<int>{59, 117, 176, 235, 293, 352, 411, 469, 528, 587, 645}));
    EXPECT_EQ(GridColumn(3, 8, W), 264);

    EXPECT_EQ(GridDivisions(true, "ANGLE"), 12);
    EXPECT_EQ(GridDivisions(true, "MOTORANGLE[2]"), 12);
    EXPECT_EQ(GridDivisions(true, "angle"), 8);
    EXPECT_EQ(GridDivisions(false, "ANGLE"), 8);
    EXPECT_EQ(GridDivisions(true, "SAW"), 8);
}

TEST(TraceMathsTest, MaskTurnsABitIntoZeroOr255) {
    EXPECT_EQ(MaskSample(0x37, 0), 0x37);
    EXPECT_EQ(MaskSample(0x08, 0x08), 255);
    EXPECT_EQ(MaskSample(0xF7, 0x08), 0);
}

TEST(TraceMathsTest, EdgeCountCountsFullScaleSteps) {
    std::array<std::uint8_t, 257> values{};
    EXPECT_EQ(EdgeCount(values), 0);
    // A bit that is on for slots 100 to 199: two level changes.
    for (int i = 100; i < 200; ++i) {
        values[static_cast<std::size_t>(i)] = 255;
    }
    EXPECT_EQ(EdgeCount(values), 2);
    // Index 0 is not a slot: it takes no part.
    values[0] = 255;
    EXPECT_EQ(EdgeCount(values), 2);
    // One ramp over the whole range is one full-scale step.
    for (int i = 1; i <= 256; ++i) {
        values[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i - 1);
    }
    EXPECT_EQ(EdgeCount(values), 1);
}

TEST(TraceMathsTest, RateIsRecomputedAfterMoreThanASecondAndShownRounded) {
    TRateMeter meter;
    meter.tick = 10000;
    // 480 reads spread over 1000 ms, then the next one a millisecond later.
    for (int i = 0; i < 480; ++i) {
        meter.Count(10000 + static_cast<std::uint32_t>(i * 1000 / 480));
    }
    EXPECT_EQ(meter.rate, 0); // not yet a whole second
    meter.Count(11001);
    EXPECT_EQ(meter.rate, N(480 * 1000.0 / 1001));
    EXPECT_EQ(meter.count, 1u);
    EXPECT_EQ(RateText(meter.rate), "480 var/s");
    EXPECT_EQ(RateText(444.5), "444 var/s");
    EXPECT_EQ(RateText(445.5), "446 var/s");
}

} // namespace
