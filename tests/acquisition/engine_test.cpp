// Time-mode bursts, the trigger, single and continuous sweeps and the setters, stepped
// directly under the fake clock: the bytes on the wire, the fake time a burst takes, and what
// each batch says.
#include "engine_bench.h"
#include "wire_stubs.h"

#include "link/link_port.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace acq;
using acquisition_testing::EngineBench;
using Bytes = std::vector<std::uint8_t>;

namespace {

class EngineTest : public ::testing::Test {
protected:
    Bytes Sent() { return bench.Sim().Sent(); }

    EngineBench bench;
    Engine& engine = bench.Engine();
};

TEST_F(EngineTest, TimeBurstScansTheChannelsInOrderForAbout26MsAndStopsWithTheRunFlag) {
    bench.Use(1, "SINE");  // $30
    bench.Use(2, "SAW");   // $31
    bench.Use(3, "PORT2"); // $11, constant $A5
    bench.Sim().ClearWire();
    const std::uint64_t start = bench.Us();
    const Batch b = bench.Step();
    const std::uint64_t took = bench.Us() - start;
    EXPECT_EQ(bench.wait, 0u);

    const Bytes sent = Sent();
    ASSERT_GE(sent.size(), 9u);
    ASSERT_EQ(sent.size() % 3, 0u);
    for (std::size_t i = 0; i < sent.size(); i += 3) {
        EXPECT_EQ((Bytes{sent[i], sent[i + 1], sent[i + 2]}), (Bytes{0x30, 0x31, 0x11})) << i;
    }
    // A read is 20 bit times at 9600 baud (the in-memory link takes them in whole fake
    // milliseconds): scans go on while at most 25 ms have passed, and the last one is finished.
    const std::uint64_t scanUs = took / (sent.size() / 3);
    EXPECT_GE(scanUs, 3 * 2083u);
    EXPECT_LE(scanUs, 3 * 3000u);
    EXPECT_GT(took, 25000u);
    EXPECT_LE(took, 25000u + scanUs + 1000);

    // Every read is a sample, in read order, a scan being one read of each channel; its
    // stamps and arrival times follow the reads, and the bit-free constant is taken as it is.
    ASSERT_EQ(b.samples.size(), sent.size());
    EXPECT_FALSE(b.xMode);
    EXPECT_FALSE(b.offline);
    for (std::size_t i = 0; i < b.samples.size(); ++i) {
        const Sample& s = b.samples[i];
        EXPECT_EQ(s.channel, i % 3 + 1) << i;
        EXPECT_EQ(s.scan, b.samples[i - i % 3].scan) << i;
        if (i > 0) {
            EXPECT_GT(s.arrivalUs, b.samples[i - 1].arrivalUs) << i;
            EXPECT_GE(s.stamp, b.samples[i - 1].stamp) << i;
        }
        if (s.channel == 3) {
            EXPECT_EQ(s.value, 0xA5) << i;
        }
    }
    EXPECT_EQ(b.samples.back().scan - b.samples.front().scan, sent.size() / 3 - 1);
    EXPECT_LE(b.samples.back().arrivalUs - b.samples.front().arrivalUs, took);
    // The three selections restarted their channels before the samples.
    EXPECT_EQ(b.selected, 0b1110);

    // Stopped: no read, and nothing to do until a command comes.
    engine.Post(SwitchChannel{1, false});
    bench.Sim().ClearWire();
    EXPECT_FALSE(bench.Step().status.running);
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(bench.wait.has_value());
}

TEST_F(EngineTest, SweepsEndEvery2000MsAndTheRateCountsTheReads) {
    bench.Use(1, "PORT2");
    bench.Step();
    bench.Sim().ClearWire();
    const std::uint64_t start = bench.Us();
    const std::uint32_t firstOrigin = engine.Sweep().origin;
    const Batch run = bench.RunFor(4500);
    // The first sample began a sweep; the next began 2000 ms later, and the one after that.
    ASSERT_EQ(run.sweepEnds.size(), 2u);
    EXPECT_TRUE(run.sweepEnds[0].showRate);
    const std::uint32_t second = run.samples[run.sweepEnds[0].sample].stamp;
    const std::uint32_t third = run.samples[run.sweepEnds[1].sample].stamp;
    EXPECT_GE(second - firstOrigin, 2000u);
    EXPECT_GE(third - second, 2000u);
    EXPECT_LE(third - second, 2030u);
    EXPECT_EQ(engine.Sweep().origin, third);
    const double reads =
        static_cast<double>(Sent().size()) * 1e6 / static_cast<double>(bench.Us() - start);
    EXPECT_NEAR(run.rate, reads, reads * 0.03);
}

TEST_F(EngineTest, FullBufferEndsTheBurstEarly) {
    bench.Use(1, "PORT2");
    engine.Post(SwitchChannel{1, false});
    bench.Step();
    bench.Clock().AdvanceMs(10); // the first sample lies beyond the edge
    engine.Post(SwitchChannel{1, true});
    // An MC that answers in 20 us would give over a thousand samples in 25 ms.
    testing_support::InstantMc fast(bench.Clock(), bench.Sim().Serial(), 0x40, 20);
    const std::uint64_t start = bench.Us();
    const Batch b = bench.Step();
    // One request more: the first reply came far sooner than the MC answered when it was
    // identified, so that try is in doubt until nothing follows it and the timing is learned.
    EXPECT_EQ(fast.Received(), kChannelSamples + 1);
    EXPECT_LT(bench.Us() - start, 25000u);
    ASSERT_EQ(b.samples.size(), static_cast<std::size_t>(kChannelSamples));
    EXPECT_EQ(b.samples.back().value, 0x40);
    // The first sample began the sweep, every other one was drawn in it.
    ASSERT_EQ(b.sweepEnds.size(), 1u);
    EXPECT_EQ(b.sweepEnds[0].sample, 0u);
    EXPECT_EQ(engine.Sweep().drawn, kChannelSamples - 1);
}

TEST_F(EngineTest, TriggerWaitsReadingOnlyItsVariableAndFiresAtItsLevel) {
    struct Case {
        const char* name;
        const char* level;
        std::uint8_t address;
        std::uint8_t firedMask; // the reply that fired has these bits set
    };
    // SAW rises to 250 and more; WALK is at least 0 at once; RUN is bit 0 of STATUS, whose bit
    // 7 (READY) is always set: only the bit's 0 or 255 can reach 200, and only when on.
    for (const Case c : {Case{"SAW", "250", 0x31, 0}, Case{"WALK", "0", 0x34, 0},
                         Case{"RUN", "200", 0x3A, 0x81}}) {
        EngineBench b;
        b.Use(1, "SINE");
        b.Engine().Post(TriggerName{c.name});
        b.Engine().Post(TriggerLevel{c.level});
        b.Engine().Post(ArmTrigger{true});
        b.Sim().ClearWire();
        int steps = 0;
        do {
            b.Step();
            EXPECT_EQ(b.wait, 0u) << c.name;
        } while (++steps < 3000 && b.Engine().TriggerArmed());
        ASSERT_FALSE(b.Engine().TriggerArmed()) << c.name;
        const Bytes sent = b.Sim().Sent();
        const Bytes replies = b.Sim().Received();
        const auto tests =
            static_cast<std::size_t>(std::find(sent.begin(), sent.end(), 0x30) - sent.begin());
        ASSERT_LT(tests, sent.size()) << c.name;
        // Only the trigger variable was read while waiting; the last test found the level, and
        // the burst followed in the same step.
        EXPECT_TRUE(std::all_of(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(tests),
                                [&](std::uint8_t x) { return x == c.address; }))
            << c.name;
        EXPECT_EQ(static_cast<std::size_t>(steps), tests) << c.name;
        const int level = std::atoi(c.level);
        auto value = [&](std::size_t i) {
            return c.firedMask != 0 ? ((replies[i] & 1) != 0 ? 255 : 0) : replies[i];
        };
        for (std::size_t i = 0; i + 1 < tests; ++i) {
            EXPECT_LT(value(i), level) << c.name << " " << i;
        }
        EXPECT_GE(value(tests - 1), level) << c.name;
        EXPECT_EQ(replies[tests - 1] & c.firedMask, c.firedMask) << c.name;
        EXPECT_GT(sent.size(), tests + 5) << c.name;
    }
}

TEST_F(EngineTest, UndefinedTriggerNameReadsNothingAndSlowsTheSteps) {
    bench.Use(1, "SINE");
    engine.Post(TriggerName{"NOSUCH"});
    engine.Post(ArmTrigger{true});
    bench.Sim().ClearWire();
    for (int i = 0; i < 50; ++i) {
        bench.Step();
        EXPECT_EQ(bench.wait, kIdleBackoffMs);
    }
    EXPECT_TRUE(engine.TriggerArmed());
    EXPECT_TRUE(Sent().empty());
    engine.Post(TriggerName{"SAW"});
    bench.Step();
    EXPECT_EQ(bench.wait, 0u);
    EXPECT_FALSE(Sent().empty());
}

TEST_F(EngineTest, SingleSweepStopsAndTheSpeedButtonsResume) {
    bench.Use(1, "SINE");
    engine.Post(SweepMode{true});
    const std::uint64_t start = bench.Us();
    bench.Step();
    EXPECT_TRUE(engine.Running()); // the sweep in progress is the last one
    Batch last;
    for (int i = 0; i < 500 && engine.Running(); ++i) {
        last = bench.Step();
    }
    ASSERT_FALSE(engine.Running());
    ASSERT_FALSE(last.sweepEnds.empty());
    EXPECT_TRUE(last.sweepEnds.back().stop);
    EXPECT_FALSE(last.status.running);
    // The first sample began a sweep; the stop came at the end of that sweep.
    EXPECT_GT(bench.Us() - start, 2000000u);
    EXPECT_LT(bench.Us() - start, 2100000u);
    bench.Sim().ClearWire();
    bench.Step();
    EXPECT_TRUE(Sent().empty());

    // Single again: one more sweep.
    engine.Post(SweepMode{true});
    const std::uint64_t again = bench.Us();
    bench.Step();
    EXPECT_TRUE(engine.Running());
    for (int i = 0; i < 500 && engine.Running(); ++i) {
        bench.Step();
    }
    EXPECT_FALSE(engine.Running());
    EXPECT_LT(bench.Us() - again, 2100000u);

    // Continuous resumes for good; clicking it again while running changes nothing.
    engine.Post(SweepMode{false});
    bench.RunFor(5000);
    EXPECT_TRUE(engine.Running());
    EXPECT_FALSE(engine.SingleShot());
    engine.Post(SweepMode{false});
    bench.Step();
    EXPECT_TRUE(engine.Running());
    EXPECT_FALSE(engine.SingleShot());
}

TEST_F(EngineTest, SettersReadOnSelectionAndWriteTheLatestValueOnly) {
    const mcu::MCVar* setpoint = bench.Opened().variables.Find("SETPOINT"); // $40, 100
    ASSERT_NE(setpoint, nullptr);
    bench.Sim().ClearWire();
    const std::uint64_t select = engine.Post(SelectSetter{1, setpoint->address});
    // A bar dragged over three positions before the engine gets to it: one write, the last.
    engine.Post(SetterValue{1, "SETPOINT", 101});
    engine.Post(SetterValue{2, "GAIN", 9});
    engine.Post(SetterValue{1, "SETPOINT", 102});
    const std::uint64_t last = engine.Post(SetterValue{1, "SETPOINT", 150});
    const Batch b = bench.Step();
    // The read of $40, then attention, write request ($A0 + address) and value, twice.
    EXPECT_EQ(Sent(), (Bytes{0x40, 0x07, 0xE1, 9, 0x07, 0xE0, 150}));
    ASSERT_EQ(b.setters.size(), 3u);
    EXPECT_EQ(b.setters[0].command, select);
    EXPECT_FALSE(b.setters[0].write);
    EXPECT_TRUE(b.setters[0].ok);
    EXPECT_EQ(b.setters[0].value, 100);
    EXPECT_EQ(b.setters[2].command, last);
    EXPECT_TRUE(b.setters[2].write);
    EXPECT_TRUE(b.setters[2].ok);
    EXPECT_EQ(b.appliedUpTo, last);
    EXPECT_EQ(bench.Sim().Sim().DeviceAt(1)->Memory(0x40), 150);

    // A value posted after a selection of the same setter waits for it: both are sent.
    bench.Sim().ClearWire();
    engine.Post(SetterValue{1, "SETPOINT", 20});
    engine.Post(SelectSetter{1, setpoint->address});
    engine.Post(SetterValue{1, "SETPOINT", 21});
    bench.Step();
    EXPECT_EQ(Sent(), (Bytes{0x07, 0xE0, 20, 0x40, 0x07, 0xE0, 21}));

    // PORT2 ($11) lies outside the MC's write window: three tries, then the closing attention.
    bench.Sim().ClearWire();
    engine.Post(SetterValue{2, "PORT2", 10});
    const Batch failed = bench.Step();
    EXPECT_EQ(Sent(), (Bytes{0x07, 0xB1, 0x07, 0xB1, 0x07, 0xB1, 0x07}));
    ASSERT_EQ(failed.setters.size(), 1u);
    EXPECT_FALSE(failed.setters[0].ok);
}

TEST_F(EngineTest, NothingToReadWhileRunningSlowsTheStepsAndAChannelWithoutAVariableIsSilent) {
    engine.Post(SwitchChannel{1, true});
    engine.Post(SwitchChannel{2, true});
    bench.Sim().ClearWire();
    EXPECT_TRUE(bench.Step().status.running);
    EXPECT_EQ(bench.wait, kIdleBackoffMs);
    EXPECT_TRUE(Sent().empty());
    // Channel 2 gets a variable: only it is read, channel 1 has none.
    bench.Use(2, "SAW");
    bench.Step();
    const Bytes sent = Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), std::ssize(sent));
    // Forgotten, it reads nothing again.
    engine.Post(ForgetVariable{2});
    bench.Sim().ClearWire();
    bench.Step();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(bench.wait, kIdleBackoffMs);
}

} // namespace
