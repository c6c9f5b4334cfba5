// Values stay true whatever time the MC takes to answer and whatever the line adds: the engine
// against the simulated MC with three constant variables, over a table of reply times and line
// faults; a streaming row; and the batch hand-over that may drop only samples.
#include "engine_bench.h"

#include <gtest/gtest.h>

#include <map>

using namespace acq;
using acquisition_testing::DemoScenario;
using acquisition_testing::EngineBench;

namespace {

// The demo's constants: SETPOINT, LIMIT and DUTY on the channels, GAIN as the x-variable.
const std::map<int, std::uint8_t> kExpected = {{1, 100}, {2, 200}, {3, 50}};
constexpr std::uint8_t kGain = 8;

struct Tally {
    std::uint64_t reads = 0;
    std::uint64_t samples = 0;
    std::uint64_t wrong = 0;
};

// Runs the time-mode engine until at least minReads reads were made (and for 400 ms at least).
Tally RunTimeMode(EngineBench& bench, std::uint64_t minReads) {
    bench.Use(1, "SETPOINT");
    bench.Use(2, "LIMIT");
    bench.Use(3, "DUTY");
    Tally t;
    std::uint64_t firstScan = 0;
    std::uint64_t lastScan = 0;
    const std::uint64_t start = bench.Us();
    while (t.reads < minReads || bench.Us() - start < 400000) {
        const Batch b = bench.RunFor(100);
        for (const Sample& s : b.samples) {
            firstScan = firstScan == 0 ? s.scan : firstScan;
            lastScan = s.scan;
            ++t.samples;
            t.wrong += s.value != kExpected.at(s.channel) ? 1 : 0;
        }
        t.reads = firstScan == 0 ? 0 : 3 * (lastScan - firstScan + 1);
    }
    return t;
}

TEST(ReplyTiming, EverySampleIsItsOwnVariablesValueWhateverTheReplyTimeAndTheLine) {
    struct Latency {
        const char* line;
        std::uint64_t minReads;
    };
    const Latency latencies[] = {
        {"latency_us 0", 600},    {"latency_us 300", 600},   {"latency_us 1500", 600},
        {"latency_us 6000", 400}, {"latency_us 40000", 150}, {"latency_us 1500 1000", 600},
    };
    struct Line {
        const char* faults;
        double minSurvive; // share of the reads that must give a sample
    };
    const Line lines[] = {
        {"", 1.0},
        {"fault noise fraction 0.01", 0.9},
        {"fault noise fraction 0.05", 0.5},
        {"fault late fraction 0.02 3", 0.5},
        {"fault noise fraction 0.02\nfault late fraction 0.02 3", 0.5},
    };
    for (const Latency& latency : latencies) {
        for (const Line& line : lines) {
            const std::string where = std::string(latency.line) + " / " + line.faults;
            EngineBench bench(DemoScenario() + latency.line + "\n" + line.faults + "\n");
            const Tally t = RunTimeMode(bench, latency.minReads);
            const auto& faults = bench.Sim().Sim().Counters();
            if (line.faults[0] != '\0') {
                EXPECT_GT(faults.noiseBytes + faults.late, 0u) << where;
            }
            EXPECT_EQ(t.wrong, 0u) << where;
            EXPECT_GE(static_cast<double>(t.samples),
                      line.minSurvive * static_cast<double>(t.reads))
                << where << ": " << t.samples << " of " << t.reads;
        }
    }
}

// Streaming: each value comes with the x-variable's value as its second byte; a value paired
// with any other byte would land in another slot.
TEST(ReplyTiming, StreamingNeverPairsAValueWithAnotherByte) {
    EngineBench bench(DemoScenario() + "latency_us 1500 1000\nfault noise fraction 0.06\n");
    ASSERT_TRUE(bench.Engine().XCapable());
    bench.Use(1, "SETPOINT");
    bench.Use(2, "LIMIT");
    bench.Use(0, "GAIN");
    // A doubtful pair ends a burst that has read something; the next one streams anew.
    std::uint64_t samples = 0;
    for (int burst = 0; burst < 60 && samples < 300; ++burst) {
        const Batch b = bench.Step();
        EXPECT_FALSE(b.offline) << burst; // a doubtful pair is tried again, not shown
        for (const Sample& s : b.samples) {
            ++samples;
            EXPECT_EQ(s.slot, kGain + 1) << burst;
            EXPECT_EQ(s.value, kExpected.at(s.channel)) << burst;
        }
    }
    EXPECT_GT(bench.Sim().Sim().Counters().noiseBytes, 5u);
    EXPECT_GE(samples, 300u);
}

// The reply times learned while the MC (or the PC) was slow must not hold streaming back once
// it answers faster: every pair then comes sooner than learned, and a pair is always followed
// by its second byte, so the timing has to be learned from the pair itself.
TEST(ReplyTiming, StreamingGoesOnWhenTheMcAnswersFasterThanLearned) {
    for (const bool paced : {true, false}) {
        EngineBench bench(DemoScenario() + "latency_us 20000\n");
        bench.Sim().Sim().SetPacing(paced);
        bench.Use(1, "SETPOINT");
        bench.Use(2, "LIMIT");
        bench.RunFor(300); // time mode: the slow replies are learned
        bench.Sim().Sim().SetLatencyUs(200);
        bench.Use(0, "GAIN");
        std::uint64_t samples = 0;
        for (int burst = 0; burst < 60 && samples < 200; ++burst) {
            for (const Sample& s : bench.Step().samples) {
                ++samples;
                EXPECT_EQ(s.value, kExpected.at(s.channel));
            }
        }
        EXPECT_GE(samples, 200u) << (paced ? "paced" : "unpaced");
    }
}

// A full queue drops a batch's samples only: the setters' answers, what the commands did and
// the link's state join the newest batch the front end has yet to take.
TEST(ReplyTiming, AFullBatchQueueLosesOnlySamples) {
    BatchQueue queue(2);
    auto make = [](std::uint64_t sequence) {
        Batch b;
        b.sequence = sequence;
        b.appliedUpTo = sequence;
        b.samples.push_back(Sample{1, 7, 7, 0, 0, 0, sequence});
        return b;
    };
    EXPECT_TRUE(queue.Push(make(1)));
    EXPECT_TRUE(queue.Push(make(2)));
    Batch answered = make(3);
    answered.setters.push_back(SetterAnswer{1, 3, false, true, 42});
    answered.selected = 0b0100;
    answered.status.link = LinkState::Down;
    answered.status.reason = LinkReason::McSilent;
    Batch written = make(4);
    written.setters.push_back(SetterAnswer{2, 4, true, true, 9});
    written.status = answered.status;
    EXPECT_FALSE(queue.Push(answered));
    EXPECT_FALSE(queue.Push(written));
    EXPECT_EQ(queue.Dropped(), 2u);

    const std::deque<Batch> taken = queue.TakeAll();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_TRUE(taken[0].setters.empty());
    const Batch& last = taken[1];
    EXPECT_EQ(last.sequence, 2u);
    ASSERT_EQ(last.samples.size(), 1u); // its own; the dropped ones are gone
    ASSERT_EQ(last.setters.size(), 2u);
    EXPECT_EQ(last.setters[0].value, 42);
    EXPECT_TRUE(last.setters[1].write);
    EXPECT_EQ(last.appliedUpTo, 4u);
    EXPECT_EQ(last.selected, 0b0100);
    EXPECT_EQ(last.status.link, LinkState::Down);
    EXPECT_EQ(last.status.reason, LinkReason::McSilent);
}

} // namespace
