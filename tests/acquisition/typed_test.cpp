// Typed channels, trigger and setters of the engine against the simulated MC running the SDCC
// application KILN, under the fake clock: values read whole, their bytes on the wire, and the
// byte channels' traffic left as it was.
#include "engine_bench.h"

#include "acquisition/channel_name.h"
#include "mcu/typed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace acq;
using acquisition_testing::KilnBench;
using Bytes = std::vector<std::uint8_t>;

namespace {

ResolvedChannel Resolve(KilnBench& bench, const std::string& text) {
    ResolvedChannel r;
    std::string error;
    EXPECT_TRUE(ResolveChannelName(bench.Opened().variables, text, r, error)) << error;
    return r;
}

void Use(KilnBench& bench, int channel, const std::string& text) {
    const ResolvedChannel r = Resolve(bench, text);
    bench.Engine().Post(UseVariable{channel, r.address, r.mask, r.type});
}

class TypedCounter : public ::testing::TestWithParam<bool> {};

// TICKS crosses a byte boundary every 16 ms, about every third sample: read as two byte
// channels it would step back or leap ahead by 256 there. Read whole, every sample lies
// between its neighbours by what the time between them allows.
TEST_P(TypedCounter, SamplesAreNeverTornAcrossByteBoundaries) {
    KilnBench bench(GetParam());
    Use(bench, 1, "TICKS");
    EXPECT_EQ(Resolve(bench, "TICKS").type, mcu::VarType::U16);
    bench.Step();
    bench.Sim().ClearWire();
    const Batch run = bench.RunFor(40000);
    ASSERT_GT(run.samples.size(), 3000u);
    int bad = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < run.samples.size(); ++i) {
        const Sample& s = run.samples[i];
        const auto whole = static_cast<std::uint32_t>(s.typed);
        ASSERT_EQ(s.typed, whole) << i;
        EXPECT_EQ(s.value, whole & 0xFF) << i;
        if (i == 0) {
            continue;
        }
        const Sample& before = run.samples[i - 1];
        const std::uint32_t step = (whole - static_cast<std::uint32_t>(before.typed)) & 0xFFFF;
        const std::uint64_t allowed =
            16 * (static_cast<std::uint64_t>(s.arrivalUs - before.arrivalUs) / 1000 + 2);
        bad += step >= 0x8000 || step > allowed ? 1 : 0;
        crossings += (whole >> 8) != (static_cast<std::uint32_t>(before.typed) >> 8) ? 1 : 0;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_GT(crossings, 300);
    // The held view gets the same values: the last minute of them, beside their bytes.
    const Traces held = bench.Engine().SampleHistory().Snapshot();
    ASSERT_EQ(held[1].typed.size(), held[1].values.size());
    ASSERT_GE(held[1].typed.size(), run.samples.size());
    EXPECT_TRUE(std::equal(run.samples.begin(), run.samples.end(),
                           held[1].typed.end() - std::ssize(run.samples),
                           [](const Sample& s, double typed) { return s.typed == typed; }));
    // Three reads a sample, and two more for each try where the high byte moved in between
    // (a read takes 3 ms of the 16 between moves).
    const std::size_t sent = bench.Sim().Sent().size();
    EXPECT_GE(sent, 3 * run.samples.size() + 200);
    EXPECT_LT(sent, 5 * run.samples.size());
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TypedCounter, ::testing::Values(false, true));

TEST(TypedChannels, EachChannelReadsItsTypeAndAByteChannelOneByteAsBefore) {
    struct Case {
        const char* text;
        double typed;
        std::uint8_t value;
        std::size_t readsPerSample;
    };
    const Case cases[] = {
        {"LEVEL", 90, 90, 1},          {"LEVEL.1", 1, 255, 1},      {"LEVEL.0", 0, 0, 1},
        {"TREND", -3, 0xFD, 1},        {"TREND:U8", 253, 0xFD, 1},  {"SPEED", -5, 0xFB, 3},
        {"SPEED:U16", 65531, 0xFB, 3}, {"TOTAL", -100000, 0x60, 7}, {"GAIN", 1.5, 0x00, 7},
        {"$2F:F32", 1.5, 0x00, 7},
    };
    for (const bool big : {false, true}) {
        for (const Case& c : cases) {
            KilnBench bench(big);
            Use(bench, 2, c.text);
            bench.Engine().Post(SwitchChannel{1, true});
            bench.Step();
            bench.Sim().ClearWire();
            const Batch b = bench.Step();
            ASSERT_FALSE(b.samples.empty()) << c.text;
            for (const Sample& s : b.samples) {
                EXPECT_EQ(s.channel, 2);
                EXPECT_EQ(s.typed, c.typed) << c.text << (big ? " big" : "");
                // The lowest byte is the lowest in significance whatever the order in memory.
                EXPECT_EQ(s.value, c.value) << c.text << (big ? " big" : "");
            }
            EXPECT_EQ(bench.Sim().Sent().size(), c.readsPerSample * b.samples.size()) << c.text;
        }
    }
}

// An MC that streams pairs one byte with each x value, so a wider channel gives its lowest
// byte there (an x-y burst that reads the x-variable itself reads it as the time burst does).
TEST(TypedChannels, StreamingXyGivesTheLowestByte) {
    acquisition_testing::EngineBench demo;
    ASSERT_TRUE(demo.Engine().XCapable());
    demo.Use(0, "SAW");
    ResolvedChannel r;
    ASSERT_TRUE(ResolveChannelName(demo.Opened().variables, "$40:U16", r));
    demo.Engine().Post(UseVariable{1, r.address, r.mask, r.type});
    demo.Step();
    const Batch streamed = demo.Step();
    ASSERT_GT(streamed.samples.size(), 10u);
    for (const Sample& s : streamed.samples) {
        // SETPOINT (100) is the low byte of the u16 at $40; GAIN above it is not read.
        EXPECT_EQ(s.value, 100);
        EXPECT_EQ(s.typed, 100);
    }
}

// A typed trigger compares its whole value; a byte trigger its byte, as before.
TEST(TypedChannels, TriggerComparesTheValueInTheNamesType) {
    struct Case {
        const char* name;
        const char* level;
        bool fires;
    };
    const Case cases[] = {
        {"SPEED", "0", false},     {"SPEED", "-5", true},        {"SPEED:I16", "-6", true},
        {"SPEED:U8", "250", true}, {"SPEED:U16", "65531", true}, {"SPEED:U16", "65532", false},
        {"GAIN", "1.5", true},     {"GAIN", "1.6", false},       {"TREND", "-3", true},
        {"TREND", "0", false},
    };
    for (const Case& c : cases) {
        KilnBench bench;
        Use(bench, 1, "LEVEL");
        bench.Engine().Post(TriggerName{c.name});
        bench.Engine().Post(TriggerLevel{c.level});
        bench.Engine().Post(ArmTrigger{true});
        for (int i = 0; i < 5; ++i) {
            bench.Step();
        }
        EXPECT_EQ(!bench.Engine().TriggerArmed(), c.fires) << c.name << " " << c.level;
    }
}

// A wider setter writes its bytes lowest address first, each with its echoes; the answer
// carries what was written, held within the type.
TEST(TypedChannels, SetterReadsWholeAndWritesByteByByteLowestAddressFirst) {
    struct Case {
        bool big;
        double asked;
        double written;
        Bytes memory; // SPEED's two bytes afterwards
    };
    for (const Case& c :
         {Case{false, 300, 300, {0x2C, 0x01}}, Case{true, 300, 300, {0x01, 0x2C}},
          Case{false, -2.6, -3, {0xFD, 0xFF}}, Case{false, 1e6, 32767, {0xFF, 0x7F}}}) {
        KilnBench bench(c.big);
        Engine& engine = bench.Engine();
        bench.Sim().ClearWire();
        engine.Post(SelectSetter{1, 0x25, mcu::VarType::I16});
        const Batch read = bench.Step();
        ASSERT_EQ(read.setters.size(), 1u);
        EXPECT_TRUE(read.setters[0].ok);
        EXPECT_EQ(read.setters[0].typed, -5);
        EXPECT_EQ(read.setters[0].value, 0xFB);
        EXPECT_EQ(bench.Sim().Sent().size(), 3u);

        bench.Sim().ClearWire();
        engine.Post(SetterValue{1, "SPEED", 0, mcu::VarType::I16, c.asked});
        const Batch wrote = bench.Step();
        ASSERT_EQ(wrote.setters.size(), 1u);
        EXPECT_TRUE(wrote.setters[0].ok) << c.asked;
        EXPECT_EQ(wrote.setters[0].typed, c.written);
        // Attention, write request (base 0x80 + address), the byte; then the next address.
        EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x07, 0xA5, c.memory[0], 0x07, 0xA6, c.memory[1]}))
            << c.asked;
        // Every byte came back as its echo: the address, then the value.
        const Bytes echoes = bench.Sim().Received();
        ASSERT_EQ(echoes.size(), 6u);
        EXPECT_EQ((Bytes{echoes[1], echoes[2], echoes[4], echoes[5]}),
                  (Bytes{0x25, c.memory[0], 0x26, c.memory[1]}));
        auto* mc = bench.Sim().Sim().DeviceAt(1);
        EXPECT_EQ((Bytes{mc->Memory(0x25), mc->Memory(0x26)}), c.memory) << c.asked;
    }
    // A float beyond the float's range (a bar centred near its limit) is the largest float.
    KilnBench bench(false);
    bench.Engine().Post(SetterValue{1, "GAIN", 0, mcu::VarType::F32, -1e39});
    const Batch wrote = bench.Step();
    ASSERT_EQ(wrote.setters.size(), 1u);
    EXPECT_EQ(wrote.setters[0].typed, -std::numeric_limits<float>::max());
    auto* mc = bench.Sim().Sim().DeviceAt(1);
    EXPECT_EQ((Bytes{mc->Memory(0x2F), mc->Memory(0x30), mc->Memory(0x31), mc->Memory(0x32)}),
              (Bytes{0xFF, 0xFF, 0x7F, 0xFF}));
}

// A float at and beyond its limits, as a script writes it and as mcrec records it: refused
// beyond the largest float, a NaN or huge float recorded whole without a byte made of it.
TEST(TypedChannels, FloatsBeyondTheirLimitsAreRefusedAndRecordedWhole) {
    // The largest float as its shortest text gives it, a little above it as a double.
    EXPECT_TRUE(FitsType(mcu::VarType::F32, -3.4028235e38));
    EXPECT_EQ(mcu::EncodeValue(mcu::VarType::F32, -3.4028235e38, mcu::ByteOrder::Little),
              (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0x7F, 0xFF}));
    EXPECT_FALSE(FitsType(mcu::VarType::F32, 1e39));

    std::vector<Sample> samples;
    AppendWatchedSamples({{7, 1, 5, {std::nan(""), 3e38, 258}}}, 7, samples);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_TRUE(std::isnan(samples[0].typed));
    EXPECT_EQ(samples[1].typed, 3e38);
    EXPECT_EQ((Bytes{samples[0].value, samples[1].value, samples[2].value}), (Bytes{0, 0, 2}));
}

} // namespace
