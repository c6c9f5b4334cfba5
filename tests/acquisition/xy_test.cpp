// x-y bursts: streaming through COM_VARX, and reading the x-variable itself for applications
// without it; the slots the samples go to and the redraws that follow.
#include "engine_bench.h"
#include "temp_dir.h"
#include "wire_stubs.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace acq;
using acquisition_testing::EngineBench;
using Bytes = std::vector<std::uint8_t>;

namespace {

TEST(XYTest, StreamsThroughComVarXIntoTheSlotOfTheXValue) {
    EngineBench bench;
    Engine& engine = bench.Engine();
    ASSERT_TRUE(engine.XCapable());
    bench.Use(1, "SINE");
    bench.Use(0, "SAW"); // $31
    engine.Post(RecentOnly{true});
    bench.Sim().ClearWire();
    const std::uint64_t start = bench.Us();
    const Batch b = bench.Step();
    EXPECT_GT(bench.Us() - start, 250000u);
    EXPECT_LT(bench.Us() - start, 260000u);
    const Bytes sent = bench.Sim().Sent();
    // COM_VARX ($47) gets SAW's address through the write request $A0 + $47; then SINE is read
    // in streaming mode, and an attention ends the mode.
    ASSERT_GT(sent.size(), 10u);
    EXPECT_EQ((Bytes{sent[0], sent[1], sent[2], sent[3], sent[4]}),
              (Bytes{0x07, 0xE7, 0x31, 0x30, 0x30}));
    EXPECT_EQ(sent.back(), 0x07);
    EXPECT_FALSE(engine.Appl().streamingMode);

    // The samples sit at the slot of the x value (SAW + 1) that came with them; a saw that
    // spans 0..255 in a second fills a quarter of the slots in 250 ms.
    EXPECT_TRUE(b.xMode);
    EXPECT_TRUE(b.slotsCleared);
    ASSERT_GT(b.samples.size(), 40u);
    int lo = 257;
    int hi = 0;
    for (const Sample& s : b.samples) {
        EXPECT_EQ(s.channel, 1);
        // A later sample of the same x value may have taken the slot since.
        EXPECT_GE(engine.SlotStamps(1)[s.slot], s.stamp);
        lo = std::min<int>(lo, s.slot);
        hi = std::max<int>(hi, s.slot);
    }
    EXPECT_LE(hi - lo, 70);
    EXPECT_NE(engine.SlotStamps(1)[static_cast<std::size_t>(lo)], 0u);
    // One redraw of channel 1 with the rate, leaving out points older than a second.
    EXPECT_TRUE(b.redraw);
    ASSERT_EQ(b.redraws.size(), 1u);
    EXPECT_EQ(b.redraws[0].channel, 1);
    EXPECT_TRUE(b.redraws[0].showRate);
    EXPECT_TRUE(b.recentOnly);
    // The cutoff is taken as the burst ends, after the attention that ends streaming.
    EXPECT_GE(b.recentCutoff + kRecentMs, b.samples.back().stamp);
    EXPECT_LE(b.recentCutoff + kRecentMs, b.samples.back().stamp + 10);

    // A new channel variable in x-y mode empties every slot again.
    bench.Use(2, "SQUARE");
    engine.Post(SwitchChannel{1, false});
    engine.Post(SwitchChannel{2, false});
    const Batch cleared = bench.Step();
    EXPECT_TRUE(cleared.slotsCleared);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(std::all_of(engine.SlotStamps(i).begin(), engine.SlotStamps(i).end(),
                                [](std::uint32_t t) { return t == 0; }))
            << i;
    }
}

// An application without COM_VARX: the x-variable is read by the scope itself.
TEST(XYTest, WithoutComVarXReadsXThenTheChannelsAndAFailedXReadLeavesTheSlots) {
    testing_support::TempDir files;
    files.Write("applid.inc", "APPL_XY EQU 133\n");
    files.Write("XY.ADR", "X $30\nY $31\n");
    EngineBench bench("device XY\n appl_id 0x85\n var X 0x30 saw 1000\n var Y 0x31 sine 2000\n"
                      "end\nchannel 1 XY\n",
                      files.path());
    Engine& engine = bench.Engine();
    ASSERT_FALSE(engine.XCapable());
    bench.Use(1, "Y");
    bench.Use(0, "X");
    bench.Sim().ClearWire();
    const Batch b = bench.Step();
    const Bytes sent = bench.Sim().Sent();
    ASSERT_GT(sent.size(), 60u);
    for (std::size_t i = 0; i + 1 < sent.size(); i += 2) {
        ASSERT_EQ((Bytes{sent[i], sent[i + 1]}), (Bytes{0x30, 0x31})) << i;
    }
    // Each channel sample sits at the slot of the x value read just before it.
    const Bytes replies = bench.Sim().Received();
    ASSERT_EQ(b.samples.size(), replies.size() / 2);
    for (std::size_t i = 0; i < b.samples.size(); ++i) {
        EXPECT_EQ(b.samples[i].slot, replies[2 * i] + 1) << i;
        EXPECT_EQ(b.samples[i].value, replies[2 * i + 1]) << i;
    }
    const auto stamps = engine.SlotStamps(1);

    testing_support::PluggableLink link(bench.Sim().Serial());
    link.Mute(true);
    bench.Sim().ClearWire();
    const Batch silent = bench.Step();
    // The x read failed three times and no channel was read; the redraw shows what was there.
    EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x30, 0x30, 0x30}));
    EXPECT_TRUE(silent.samples.empty());
    EXPECT_EQ(engine.SlotStamps(1), stamps);
    EXPECT_TRUE(silent.offline);
    EXPECT_TRUE(silent.redraw);
}

} // namespace
