#include "foundation/clock.h"
#include "foundation/fatal.h"
#include "foundation/statistics.h"
#include "temp_dir.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace foundation;

namespace {

TEST(Statistics, BlocksMinMaxAndAverage) {
    StatBlock s;
    StatInit(s, 3, 7.0);
    EXPECT_EQ(s.count, -1);
    EXPECT_EQ(s.average, 7.0);
    EXPECT_EQ(s.rms, 7.0);
    EXPECT_EQ(s.last, 7.0);

    StatAdd(s, 1);
    StatAdd(s, 2);
    EXPECT_EQ(s.average, 7.0); // the average waits for a completed block
    StatAdd(s, 3);
    EXPECT_EQ(s.average, 2.0);
    EXPECT_DOUBLE_EQ(s.rms, std::sqrt(14.0 / 3.0));
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(s.minimum, 1.0);
    EXPECT_EQ(s.maximum, 3.0);
    EXPECT_EQ(s.last, 3.0);

    StatAdd(s, 10); // a new block starts its own extremes
    EXPECT_EQ(s.minimum, 10.0);
    EXPECT_EQ(s.maximum, 10.0);
    StatFlush(s);
    EXPECT_EQ(s.average, 10.0);
    EXPECT_EQ(s.count, 0);
    StatFlush(s); // an empty block keeps the last average
    EXPECT_EQ(s.average, 10.0);

    // Float values beyond any byte-sized bound, and a NaN among them, which is left out.
    for (const double x : {3e20, std::nan(""), 5e20, -2e15}) {
        StatAdd(s, x);
    }
    EXPECT_EQ(s.minimum, -2e15);
    EXPECT_EQ(s.maximum, 5e20);
    StatAdd(s, -4e12);
    StatAdd(s, -6e12);
    StatAdd(s, -8e12);
    EXPECT_EQ(s.average, -6e12);
    EXPECT_EQ(s.maximum, -4e12);
}

TEST(Clock, ClockMsStartsAt10000AndFollowsTheFakeClock) {
    FakeClock fake;
    ScopedTickSource use(fake);
    fake.AdvanceUs(123456789);
    CaptureClockOrigin();
    EXPECT_EQ(ClockMs(), 10000);
    fake.AdvanceMs(250);
    EXPECT_EQ(ClockMs(), 10250);
    fake.AdvanceUs(499);
    EXPECT_EQ(ClockMs(), 10250);
    fake.AdvanceUs(2);
    EXPECT_EQ(ClockMs(), 10251);
}

TEST(Clock, RoundingTiesToEvenAndWrapping) {
    EXPECT_EQ(ClockMsFromCounts(500, 1000000), 10000);  // 10000.5 -> 10000
    EXPECT_EQ(ClockMsFromCounts(1500, 1000000), 10002); // 10001.5 -> 10002
    EXPECT_EQ(ClockMsFromCounts(-10000, 1000), 0);
    // Past 2^31 - 10000 ms the reading turns negative instead of overflowing.
    EXPECT_LT(ClockMsFromCounts(2147483648LL - 10000 + 5, 1000), 0);
    EXPECT_EQ(ClockMsFromCounts(3, 3), 11000);
}

TEST(Clock, TickWrapsAndDelaysAdvanceFakeTime) {
    FakeClock fake(0xFFFFFFF0u);
    ScopedTickSource use(fake);
    std::uint32_t start = TickMs();
    DelayMs(40);
    EXPECT_EQ(static_cast<std::uint32_t>(TickMs() - start), 40u);
    EXPECT_LT(TickMs(), start); // the 32-bit tick wrapped
    DelayMs(0);
    DelayMs(-5);
    EXPECT_EQ(static_cast<std::uint32_t>(TickMs() - start), 40u);

    fake.SetAutoStepUs(1000);
    std::uint32_t a = TickMs();
    std::uint32_t b2 = TickMs();
    EXPECT_EQ(b2 - a, 1u);
}

TEST(TimeOfDay, HundredthsRoundMillisecondsHalfToEven) {
    EXPECT_EQ(HundredthsOf(0, 0, 0, 0), 0);
    EXPECT_EQ(HundredthsOf(1, 2, 3, 40), 360000 + 12000 + 300 + 4);
    EXPECT_EQ(HundredthsOf(0, 0, 0, 5), 0);  // 0.5 -> 0
    EXPECT_EQ(HundredthsOf(0, 0, 0, 15), 2); // 1.5 -> 2
    EXPECT_EQ(HundredthsOf(23, 59, 59, 999), 8640000);
    auto now = TimeOfDayHundredths();
    EXPECT_GE(now, 0);
    EXPECT_LE(now, 8640000);
}

TEST(Fatal, HandlerReceivesTheTextAndDefaultExitsWithCodeOne) {
    {
        testing_support::FatalRecorder recorder;
        FatalError("applid file x not found");
        ASSERT_EQ(recorder.messages().size(), 1u);
        EXPECT_EQ(recorder.messages()[0], "applid file x not found");
    }
    EXPECT_EXIT(FatalError("boom"), ::testing::ExitedWithCode(1), "boom");
}

} // namespace
