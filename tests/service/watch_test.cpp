// The engine's watch list against the simulated MC in memory under the fake clock: what the
// service and mcrec stand on.
#include "engine_bench.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using acquisition_testing::EngineBench;
using acquisition_testing::KilnBench;

// Steps for ms of fake time (or until a step waits for a command); joins what the batches say.
struct Steps {
    std::vector<acq::Sample> samples;
    std::vector<acq::WatchedScan> watched;
    std::vector<acq::WriteAnswer> writes;
    std::vector<std::size_t> batchEnds; // watched.size() after each batch that had scans
    bool idle = false;                  // the last step waits for a command
};

Steps StepFor(EngineBench& bench, std::uint64_t ms) {
    Steps out;
    const std::uint64_t end = bench.Us() + ms * 1000;
    while (bench.Us() < end) {
        acq::Batch b = bench.Step();
        out.samples.insert(out.samples.end(), b.samples.begin(), b.samples.end());
        out.watched.insert(out.watched.end(), b.watched.begin(), b.watched.end());
        out.writes.insert(out.writes.end(), b.writes.begin(), b.writes.end());
        if (!b.watched.empty()) {
            out.batchEnds.push_back(out.watched.size());
        }
        out.idle = !bench.wait.has_value();
        if (out.idle) {
            break;
        }
        bench.Clock().AdvanceMs(*bench.wait);
    }
    return out;
}

acq::WatchItem Item(EngineBench& bench, const std::string& name,
                    mcu::VarType type = mcu::VarType::U8) {
    const mcu::MCVar* v = bench.Opened().variables.Find(name);
    EXPECT_NE(v, nullptr) << name;
    return {v->address, v->bitMask, v->bitMask != 0 ? mcu::VarType::Bit : type};
}

TEST(Watches, ReadInTheChannelsScansAndNeverEnterThem) {
    EngineBench bench;
    bench.Use(1, "SINE");
    bench.Engine().Post(acq::Watch{7, {Item(bench, "SAW"), Item(bench, "READY")}});
    // A second watch sharing a variable: read once per scan, given to both.
    bench.Engine().Post(acq::Watch{8, {Item(bench, "SAW")}});
    bench.Sim().ClearWire();
    const Steps s = StepFor(bench, 500);
    ASSERT_GT(s.samples.size(), 20u);
    ASSERT_EQ(s.watched.size(), 2 * s.samples.size());
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        EXPECT_EQ(s.samples[i].channel, 1);
        const acq::WatchedScan& a = s.watched[2 * i];
        const acq::WatchedScan& b = s.watched[2 * i + 1];
        EXPECT_EQ(a.id, 7u);
        EXPECT_EQ(b.id, 8u);
        EXPECT_EQ(a.scan, s.samples[i].scan);
        EXPECT_EQ(b.scan, a.scan);
        ASSERT_EQ(a.values.size(), 2u);
        EXPECT_EQ(a.values[0], b.values[0]);
        EXPECT_EQ(a.values[1], 1.0); // READY, bit 7 of STATUS
    }
    // SAW's address went out once a scan, not once a watch.
    const auto sent = bench.Sim().Sent();
    EXPECT_EQ(static_cast<std::size_t>(std::count(sent.begin(), sent.end(), 0x31)),
              s.samples.size());
    // The window's history holds its channel only.
    EXPECT_EQ(bench.Engine().SampleHistory().Size(1), s.samples.size());
    EXPECT_EQ(bench.Engine().SampleHistory().Size(2), 0u);
}

TEST(Watches, RunWithoutTheWindowEndWhenAskedAndAReadEndsItself) {
    EngineBench bench;
    EXPECT_TRUE(StepFor(bench, 100).idle); // nothing to read: waits for a command
    bench.Engine().Post(acq::Watch{1, {Item(bench, "COUNTER")}});
    const Steps s = StepFor(bench, 300);
    ASSERT_GT(s.watched.size(), 30u);
    EXPECT_FALSE(bench.Engine().Running());
    for (std::size_t i = 1; i < s.watched.size(); ++i) {
        EXPECT_EQ(s.watched[i].scan, s.watched[i - 1].scan + 1);
        EXPECT_GT(s.watched[i].arrivalUs, s.watched[i - 1].arrivalUs);
    }
    // Paced as a time burst: a batch holds about 25 ms of scans.
    EXPECT_GE(s.batchEnds.size(), 300u / 30);
    bench.Engine().Post(acq::Unwatch{1});
    EXPECT_TRUE(StepFor(bench, 100).idle);

    // A read of five scans: five, then the engine is idle again; the burst did not wait.
    const std::uint64_t before = bench.Us();
    bench.Engine().Post(acq::Watch{2, {Item(bench, "COUNTER"), Item(bench, "SETPOINT")}, 5});
    const Steps r = StepFor(bench, 1000);
    ASSERT_EQ(r.watched.size(), 5u);
    EXPECT_EQ(r.batchEnds.front(), 5u);
    EXPECT_EQ(r.watched[4].values[1], 100.0);
    EXPECT_TRUE(r.idle);
    EXPECT_LT(r.watched[4].arrivalUs - r.watched[0].arrivalUs, 25'000);
    EXPECT_LT(bench.Us() - before, 1'000'000u);
}

TEST(Watches, TypedValuesWholeInEitherByteOrder) {
    for (bool big : {false, true}) {
        KilnBench bench(big);
        const std::vector<acq::WatchItem> items = {{0x21, 0, mcu::VarType::U8},
                                                   {0x22, 0, mcu::VarType::I8},
                                                   {0x25, 0, mcu::VarType::I16},
                                                   {0x2B, 0, mcu::VarType::I32},
                                                   {0x2F, 0, mcu::VarType::F32}};
        bench.Engine().Post(acq::Watch{1, items, 3});
        const Steps s = StepFor(bench, 1000);
        ASSERT_EQ(s.watched.size(), 3u) << big;
        for (const acq::WatchedScan& w : s.watched) {
            EXPECT_EQ(w.values, (std::vector<std::optional<double>>{90, -3, -5, -100000, 1.5}))
                << big;
        }
    }
}

TEST(Watches, WritesAnsweredEchoCheckedAndByteByByte) {
    EngineBench bench;
    struct Case {
        acq::WriteVariable write;
        bool ok;
        std::string reason;
        std::vector<std::optional<double>> after; // SETPOINT, GAIN as bytes
    };
    const Case cases[] = {
        {{"SETPOINT", mcu::VarType::U8, 42}, true, "", {42, 8}},
        {{"SETPOINT", mcu::VarType::U16, 0x1234}, true, "", {0x34, 0x12}},
        {{"SETPOINT", mcu::VarType::U8, 300}, false, "value does not fit u8", {0x34, 0x12}},
        {{"SETPOINT", mcu::VarType::I8, -1.5}, false, "value does not fit i8", {0x34, 0x12}},
        {{"SETPOINT", mcu::VarType::U8, 7, 1}, true, "", {0x34, 7}},
    };
    for (const Case& c : cases) {
        const std::uint64_t number = bench.Engine().Post(c.write);
        bench.Engine().Post(acq::Watch{9, {Item(bench, "SETPOINT"), Item(bench, "GAIN")}, 1});
        const Steps s = StepFor(bench, 1000);
        ASSERT_EQ(s.writes.size(), 1u);
        EXPECT_EQ(s.writes[0].command, number);
        EXPECT_EQ(s.writes[0].ok, c.ok) << c.write.value;
        EXPECT_EQ(s.writes[0].reason, c.reason) << c.write.value;
        ASSERT_EQ(s.watched.size(), 1u);
        EXPECT_EQ(s.watched[0].values, c.after) << c.write.value;
    }
}

} // namespace
