// The acquisition against the simulated MC over the in-memory link under the fake clock: the
// bursts of time and x-y mode with the bytes they put on the wire and the time they take, the
// trigger, single and continuous sweeps, "OFFLINE", and a link that goes away and comes back.
#include "scope_bench.h"
#include "wire_stubs.h"

#include "link/link_port.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>

using namespace scope;
using scope_testing::ScopeBench;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int W = 704;
constexpr int H = 442;

class AcquisitionTest : public ::testing::Test {
protected:
    explicit AcquisitionTest(const std::string& scenario = scope_testing::DemoScenario(),
                             const std::string& files = DEMO_DIR)
        : bench(scenario, files), form(bench.Start()) {}

    void Select(TComboBox* box, const char* text) {
        box->SetText(text);
        form.OnChange(box);
    }
    bool Pass() {
        bool done = true;
        form.OnIdle(done);
        return done;
    }
    std::uint64_t Us() { return bench.Sim().Clock().NowUs(); }
    // Runs passes of the idle loop for ms of fake time.
    void RunFor(std::uint64_t ms) {
        const std::uint64_t end = Us() + ms * 1000;
        while (Us() < end) {
            Pass();
        }
    }
    Bytes Sent() { return bench.Sim().Sent(); }
    int Count(int x0, int y0, int x1, int y1, QRgb colour) const {
        int n = 0;
        for (int x = x0; x <= x1; ++x) {
            for (int y = y0; y <= y1; ++y) {
                n += form.traceBitmap.pixel(x, y) == colour ? 1 : 0;
            }
        }
        return n;
    }

    ScopeBench bench;
    TForm1& form;
};

TEST_F(AcquisitionTest, TimeBurstScansTheActiveChannelsInOrderForAbout26Ms) {
    Select(form.VarName1, "SINE");  // $30
    Select(form.VarName2, "SAW");   // $31
    Select(form.VarName3, "PORT2"); // $11
    ASSERT_TRUE(form.RunFlag());
    bench.Sim().ClearWire();
    const std::uint64_t start = Us();
    EXPECT_FALSE(Pass());
    const std::uint64_t took = Us() - start;

    const Bytes sent = Sent();
    ASSERT_EQ(sent.size() % 3, 0u);
    for (std::size_t i = 0; i < sent.size(); i += 3) {
        EXPECT_EQ((Bytes{sent[i], sent[i + 1], sent[i + 2]}), (Bytes{0x30, 0x31, 0x11})) << i;
    }
    // A read is 20 bit times at 9600 baud (the in-memory link takes them in whole fake
    // milliseconds), a scan three reads: scans go on while at most 25 ms have passed, and the
    // last one is finished.
    const std::uint64_t scanUs = took / (sent.size() / 3);
    EXPECT_GE(scanUs, 3 * 2083u);
    EXPECT_LE(scanUs, 3 * 3000u);
    EXPECT_GT(took, 25000u);
    EXPECT_LE(took, 25000u + scanUs + 1000);
    // Drawn and emptied.
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(form.channels[static_cast<std::size_t>(i)].count, 0);
    }
}

TEST_F(AcquisitionTest, OneBurstPerPassOfTheEventLoopAndNoneWhileStopped) {
    Select(form.VarName1, "PORT2");
    ASSERT_TRUE(form.IdlePumpActive());
    EXPECT_EQ(form.IdlePumpInterval(), 0);
    EXPECT_FALSE(form.ReopenTimerActive());
    bench.Sim().ClearWire();
    QCoreApplication::processEvents();
    // One burst of about 26 ms: 9 to 13 reads of 2 to 3 ms.
    const std::size_t one = Sent().size();
    EXPECT_GE(one, 9u);
    EXPECT_LE(one, 13u);
    QCoreApplication::processEvents();
    EXPECT_GE(Sent().size(), 2 * one - 1);
    EXPECT_LE(Sent().size(), 2 * one + 1);

    form.ApplicationEvents1->ApplicationStateChanged(Qt::ApplicationActive);
    form.ApplicationEvents1->ApplicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(form.IdlePumpActive());
    EXPECT_TRUE(form.ReopenTimerActive());
    bench.Sim().ClearWire();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Pass()); // stopped: the loop may wait for messages
}

TEST_F(AcquisitionTest, ConstantByteDrawsALineAtItsRowAndTheSweepRestartsAfter2000Ms) {
    Select(form.VarName1, "PORT2"); // const $A5
    const QRgb blue = form.channels[1].colour;
    const int row = AnalogueRow(0xA5, H);
    bench.Sim().ClearWire();
    const std::uint64_t start = Us();
    RunFor(1000);
    EXPECT_GE(Count(0, row, 340, row, blue), 340);
    EXPECT_EQ(Count(0, 0, W - 1, row - 1, blue), 0);
    EXPECT_EQ(Count(0, row + 1, W - 1, H - 1, blue), 0);
    const std::uint32_t firstOrigin = form.sweepOrigin;

    RunFor(1500);
    // The sweep that began at the first sample ended 2000 ms later and a new one began at the
    // left edge on a cleared screen.
    EXPECT_GE(form.sweepOrigin - firstOrigin, 2000u);
    EXPECT_LE(form.sweepOrigin - firstOrigin, 2030u);
    EXPECT_GT(Count(0, row, 100, row, blue), 95);
    EXPECT_EQ(Count(250, row, W - 1, row, blue), 0);
    // The finished sweep's statistics and the rate of the reads.
    EXPECT_EQ(form.Min1->text(), "165");
    EXPECT_EQ(form.Max1->text(), "165");
    EXPECT_EQ(form.Avg1->text(), "165");
    ASSERT_TRUE(form.RateLabel->text().endsWith(" var/s")) << form.RateLabel->text().toStdString();
    const double rate = form.RateLabel->text().split(' ')[0].toInt();
    const double reads =
        static_cast<double>(Sent().size()) * 1e6 / static_cast<double>(Us() - start);
    EXPECT_NEAR(rate, reads, reads * 0.03);
}

TEST_F(AcquisitionTest, FullBufferEndsTheBurstEarlyAndItsSamplesAreDrawn) {
    Select(form.VarName1, "PORT2");
    bench.Sim().Clock().AdvanceMs(10); // the first sample lies beyond the edge
    // An MC that answers in 20 us would give over a thousand samples in 25 ms.
    testing_support::InstantMc fast(bench.Sim().Clock(), bench.Sim().Serial(), 0x40, 20);
    const std::uint64_t start = Us();
    Pass();
    EXPECT_EQ(fast.Received(), kChannelSamples);
    EXPECT_LT(Us() - start, 25000u);
    EXPECT_EQ(form.channels[1].count, 0);
    // The first sample began the sweep, every other one was drawn.
    EXPECT_EQ(form.drawnSamples, kChannelSamples - 1);
    EXPECT_EQ(form.channels[1].values[kChannelSamples], 0x40);
    const int row = AnalogueRow(0x40, H);
    const int end = TimeColumn(form.channels[1].times[kChannelSamples], form.sweepOrigin, W);
    EXPECT_GT(end, 0);
    EXPECT_EQ(Count(0, row, end, row, form.channels[1].colour), end + 1);
}

TEST_F(AcquisitionTest, TriggerWaitsWithoutReadingTheChannelsAndFiresAtItsLevel) {
    Select(form.VarName1, "SINE");
    form.TriggerName->SetText("SAW");
    form.TriggerTrackBar->setValue(250);
    ASSERT_EQ(form.TriggerVal->text(), "250");
    form.TriggerSelected->SetChecked(true);
    ASSERT_TRUE(form.triggerArmed);
    bench.Sim().ClearWire();
    for (int i = 0; i < 2000 && form.triggerArmed; ++i) {
        EXPECT_FALSE(Pass());
    }
    ASSERT_FALSE(form.triggerArmed);
    const Bytes sent = Sent();
    const Bytes replies = bench.Sim().Received();
    const auto first = std::find(sent.begin(), sent.end(), 0x30);
    ASSERT_NE(first, sent.end());
    const auto tests = static_cast<std::size_t>(first - sent.begin());
    // Only the trigger variable was read while waiting; the last test found the level.
    EXPECT_GT(tests, 10u);
    EXPECT_TRUE(std::all_of(sent.begin(), first, [](std::uint8_t b) { return b == 0x31; }));
    for (std::size_t i = 0; i + 1 < tests; ++i) {
        EXPECT_LT(replies[i], 250) << i;
    }
    EXPECT_GE(replies[tests - 1], 250);
    // The burst followed in the same pass.
    EXPECT_GT(sent.size(), tests + 5);
}

TEST_F(AcquisitionTest, TriggerLevelZeroFiresAtTheFirstRead) {
    Select(form.VarName1, "SINE");
    form.TriggerName->SetText("WALK");
    form.TriggerSelected->SetChecked(true);
    bench.Sim().ClearWire();
    Pass();
    EXPECT_FALSE(form.triggerArmed);
    const Bytes sent = Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], 0x34);
    EXPECT_EQ(sent[1], 0x30);
}

TEST_F(AcquisitionTest, BitTriggerComparesZeroOr255WithTheLevel) {
    // RUN is bit 0 of STATUS, whose bit 7 (READY) is always set: the raw byte is never below
    // 128 nor above 135, so only the bit's 0 or 255 can meet the level 200, and only when on.
    Select(form.VarName1, "SINE");
    form.TriggerName->SetText("RUN");
    form.TriggerTrackBar->setValue(200);
    form.TriggerSelected->SetChecked(true);
    bench.Sim().ClearWire();
    for (int i = 0; i < 3000 && form.triggerArmed; ++i) {
        Pass();
    }
    ASSERT_FALSE(form.triggerArmed);
    const Bytes sent = Sent();
    const Bytes replies = bench.Sim().Received();
    const auto tests =
        static_cast<std::size_t>(std::find(sent.begin(), sent.end(), 0x30) - sent.begin());
    ASSERT_GT(tests, 1u);
    for (std::size_t i = 0; i + 1 < tests; ++i) {
        EXPECT_EQ(replies[i] & 0x01, 0) << i;
    }
    EXPECT_EQ(replies[tests - 1] & 0x81, 0x81);
}

TEST_F(AcquisitionTest, UndefinedTriggerNameNeverFiresAndReadsNothing) {
    Select(form.VarName1, "SINE");
    form.TriggerName->SetText("NOSUCH");
    form.TriggerSelected->SetChecked(true);
    bench.Sim().ClearWire();
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(Pass());
    }
    EXPECT_TRUE(form.triggerArmed);
    EXPECT_TRUE(Sent().empty());
    // Nothing to wait for on the link: the loop slows down instead of spinning.
    form.IdlePass();
    EXPECT_EQ(form.IdlePumpInterval(), kIdleBackoffMs);
    form.TriggerName->SetText("SAW");
    form.IdlePass();
    EXPECT_EQ(form.IdlePumpInterval(), 0);
}

TEST_F(AcquisitionTest, SingleSweepStopsAndTheSpeedButtonsResume) {
    Select(form.VarName1, "SINE");
    form.SpeedButtonSingleClick();
    EXPECT_TRUE(form.RunFlag()); // the sweep in progress is the last one
    const std::uint64_t start = Us();
    for (int i = 0; i < 500 && form.RunFlag(); ++i) {
        Pass();
    }
    ASSERT_FALSE(form.RunFlag());
    // The first sample began a sweep; the stop came at the end of that sweep.
    EXPECT_GT(Us() - start, 2000000u);
    EXPECT_LT(Us() - start, 2100000u);
    EXPECT_FALSE(form.IdlePumpActive());
    bench.Sim().ClearWire();
    EXPECT_TRUE(Pass());
    EXPECT_TRUE(Sent().empty());

    // Single again: one more sweep.
    form.SpeedButtonSingleClick();
    EXPECT_TRUE(form.RunFlag());
    const std::uint64_t again = Us();
    for (int i = 0; i < 500 && form.RunFlag(); ++i) {
        Pass();
    }
    EXPECT_FALSE(form.RunFlag());
    EXPECT_LT(Us() - again, 2100000u);

    // Continuous resumes for good; clicking it again while running changes nothing.
    form.SpeedButtonContClick();
    EXPECT_TRUE(form.RunFlag());
    EXPECT_FALSE(form.singleShot);
    RunFor(5000);
    EXPECT_TRUE(form.RunFlag());
    form.SpeedButtonContClick();
    EXPECT_TRUE(form.RunFlag());
    EXPECT_FALSE(form.singleShot);
}

TEST_F(AcquisitionTest, XModeStreamsThroughComVarX) {
    ASSERT_TRUE(form.xCapable);
    Select(form.VarName1, "SINE");
    Select(form.VarNameX, "SAW"); // $31
    ASSERT_EQ(form.channels[0].active, 1);
    bench.Sim().ClearWire();
    const std::uint64_t start = Us();
    Pass();
    EXPECT_GT(Us() - start, 250000u);
    EXPECT_LT(Us() - start, 260000u);
    const Bytes sent = Sent();
    // COM_VARX ($47) gets SAW's address through the write request $A0 + $47; then SINE is
    // read in streaming mode, and an attention ends the mode.
    ASSERT_GT(sent.size(), 10u);
    EXPECT_EQ((Bytes{sent[0], sent[1], sent[2], sent[3], sent[4]}),
              (Bytes{0x07, 0xE7, 0x31, 0x30, 0x30}));
    EXPECT_EQ(sent.back(), 0x07);
    EXPECT_FALSE(form.appl.streamingMode);

    // The samples sit at the slot of the x value (SAW + 1) that came with them.
    const TChannel& c = form.channels[1];
    int filled = 0;
    int lo = 257;
    int hi = 0;
    for (int i = 1; i <= 256; ++i) {
        if (c.times[static_cast<std::size_t>(i)] != 0) {
            ++filled;
            lo = std::min(lo, i);
            hi = std::max(hi, i);
        }
    }
    EXPECT_GT(filled, 40); // 250 ms of a saw that spans 0..255 in a second
    EXPECT_LE(hi - lo, 70);
    const int mid = (lo + hi) / 2;
    ASSERT_NE(c.times[static_cast<std::size_t>(mid)], 0u);
    EXPECT_EQ(form.traceBitmap.pixel(XYColumn(mid, W),
                                     AnalogueRow(c.values[static_cast<std::size_t>(mid)], H)),
              c.colour);
    EXPECT_EQ(c.count, 0);
}

TEST_F(AcquisitionTest, NoReadMeansOfflineUntilTheRateIsWrittenAgain) {
    Select(form.VarName1, "SINE");
    testing_support::PluggableLink link(bench.Sim().Serial());
    link.Mute(true);
    Pass();
    EXPECT_EQ(form.RateLabel->text(), "OFFLINE");
    link.Mute(false);
    RunFor(500);
    EXPECT_EQ(form.RateLabel->text(), "OFFLINE");
    RunFor(2500); // a whole sweep of samples
    EXPECT_TRUE(form.RateLabel->text().endsWith(" var/s"));
}

TEST_F(AcquisitionTest, LinkPulledAwayAndBroughtBackResumesTheAcquisition) {
    Select(form.VarName1, "SINE");
    testing_support::PluggableLink link(bench.Sim().Serial());
    RunFor(100);

    // Running: the reads fail at once, the passes slow down, nothing reaches the MC.
    link.Unplug();
    bench.Sim().ClearWire();
    form.IdlePass();
    EXPECT_TRUE(comlink::LinkDown());
    EXPECT_EQ(form.RateLabel->text(), "OFFLINE");
    EXPECT_TRUE(form.RunFlag());
    EXPECT_EQ(form.IdlePumpInterval(), kIdleBackoffMs);
    EXPECT_TRUE(Sent().empty());
    link.Replug();
    form.IdlePass();
    EXPECT_FALSE(comlink::LinkDown());
    EXPECT_EQ(form.IdlePumpInterval(), 0);
    EXPECT_FALSE(Sent().empty());
    bench.Sim().ClearWire();
    form.IdlePass();
    EXPECT_GE(Sent().size(), 8u);

    // Stopped: the re-open is tried from the idle loop and, once it succeeds, the
    // acquisition starts again.
    link.Unplug();
    Pass();
    ASSERT_TRUE(comlink::LinkDown());
    form.ApplicationEvents1->ApplicationStateChanged(Qt::ApplicationActive);
    form.ApplicationEvents1->ApplicationStateChanged(Qt::ApplicationInactive);
    ASSERT_FALSE(form.RunFlag());
    EXPECT_TRUE(form.ReopenTimerActive());
    EXPECT_TRUE(Pass());
    EXPECT_FALSE(form.RunFlag());
    link.Replug();
    const int opens = link.Opens();
    form.IdlePass();
    EXPECT_EQ(link.Opens(), opens + 1);
    EXPECT_FALSE(comlink::LinkDown());
    EXPECT_TRUE(form.RunFlag());
    EXPECT_TRUE(form.IdlePumpActive());
    EXPECT_FALSE(form.ReopenTimerActive());
    bench.Sim().ClearWire();
    Pass();
    EXPECT_GE(Sent().size(), 8u);
}

// An application without COM_VARX: the x-variable is read by the scope itself.
std::string PlainXScenario() {
    return "device XY\n appl_id 0x85\n var X 0x30 saw 1000\n var Y 0x31 sine 2000\nend\n"
           "channel 1 XY\n";
}

class PlainXTest : public ::testing::Test {
protected:
    PlainXTest() {
        files.Write("applid.inc", "APPL_XY EQU 133\n");
        files.Write("XY.ADR", "X $30\nY $31\n");
        bench = std::make_unique<ScopeBench>(PlainXScenario(), files.path());
        form = &bench->Start();
        form->VarName1->SetText("Y");
        form->OnChange(form->VarName1);
        // No COM_VARX: the panel is hidden, but a settings file can still switch x-y mode on.
        form->VarNameX->SetText("X");
        form->VarSelectedX->SetChecked(true);
    }
    bool Pass() {
        bool done = true;
        form->OnIdle(done);
        return done;
    }

    testing_support::TempDir files;
    std::unique_ptr<ScopeBench> bench;
    TForm1* form = nullptr;
};

TEST_F(PlainXTest, ReadsXThenTheChannelsAndAFailingXReadLeavesTheSlots) {
    ASSERT_FALSE(form->xCapable);
    ASSERT_EQ(form->channels[0].active, 1);
    bench->Sim().ClearWire();
    Pass();
    const Bytes sent = bench->Sim().Sent();
    ASSERT_GT(sent.size(), 60u);
    for (std::size_t i = 0; i + 1 < sent.size(); i += 2) {
        ASSERT_EQ((Bytes{sent[i], sent[i + 1]}), (Bytes{0x30, 0x31})) << i;
    }
    const Bytes replies = bench->Sim().Received();
    const TChannel& c = form->channels[1];
    // Each channel sample sits at the slot of the x value read just before it.
    for (std::size_t i = 0; i + 1 < replies.size(); i += 2) {
        EXPECT_NE(c.times[replies[i] + 1u], 0u);
    }
    const auto values = c.values;
    const auto times = c.times;

    testing_support::PluggableLink link(bench->Sim().Serial());
    link.Mute(true);
    bench->Sim().ClearWire();
    Pass();
    // The x read failed three times and no channel was read.
    EXPECT_EQ(bench->Sim().Sent(), (Bytes{0x30, 0x30, 0x30}));
    EXPECT_EQ(c.values, values);
    EXPECT_EQ(c.times, times);
    EXPECT_EQ(form->RateLabel->text(), "OFFLINE");
}

} // namespace
