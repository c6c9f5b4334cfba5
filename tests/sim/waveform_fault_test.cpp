#include "sim/device.h"
#include "sim_helpers.h"

#include <gtest/gtest.h>

using sim_test::Bytes;
using sim_test::TestPc;

namespace {

constexpr std::uint64_t kMs = 1000000; // ns

sim::Device MakeDevice(const std::string& body, std::uint64_t seed = 1) {
    sim::Scenario s = sim_test::ParseOrFail("device W\nappl_id 0x85\n" + body + "end\n");
    return sim::Device(s.devices.at(0), seed, 0);
}

std::uint8_t At(sim::Device& d, std::uint16_t address, std::uint64_t ms) {
    d.Refresh(ms * kMs);
    return d.Memory(address);
}

TEST(Waveforms, PeriodicShapes) {
    sim::Device d = MakeDevice(R"(
var C 0x10 counter 10 3
var SAW 0x11 saw 1000 0 99
var SIN 0x12 sine 1000 0 200
var SQ 0x13 square 100 5 250
)");
    EXPECT_EQ(At(d, 0x10, 0), 0);
    EXPECT_EQ(At(d, 0x10, 25), 6);
    EXPECT_EQ(At(d, 0x10, 860), (86 * 3) % 256); // wraps like a byte
    EXPECT_EQ(At(d, 0x11, 0), 0);
    EXPECT_EQ(At(d, 0x11, 500), 50);
    EXPECT_EQ(At(d, 0x11, 999), 99);
    EXPECT_EQ(At(d, 0x11, 1000), 0);
    EXPECT_EQ(At(d, 0x12, 0), 100);
    EXPECT_EQ(At(d, 0x12, 250), 200);
    EXPECT_EQ(At(d, 0x12, 750), 0);
    EXPECT_EQ(At(d, 0x13, 0), 5);
    EXPECT_EQ(At(d, 0x13, 49), 5);
    EXPECT_EQ(At(d, 0x13, 50), 250);
    EXPECT_EQ(At(d, 0x13, 100), 5);
}

// A 16-bit counter changes both its bytes at once, in the order the scenario gives.
TEST(Waveforms, Counter16KeepsItsTwoBytesTogether) {
    sim::Device d = MakeDevice(R"(
var L 0x20 counter16 1 100
var B 0x30 counter16 1 150 big
)");
    EXPECT_EQ(At(d, 0x20, 3), 44); // 300 = 0x012C
    EXPECT_EQ(d.Memory(0x21), 1);
    EXPECT_EQ(d.Memory(0x30), 0x01); // 450 = 0x01C2, high byte first
    EXPECT_EQ(d.Memory(0x31), 0xC2);
    EXPECT_EQ(At(d, 0x20, 656), (65600 % 65536) & 0xFF); // wraps at 65536
    EXPECT_EQ(d.Memory(0x21), 0);
    std::string error;
    sim::Scenario s;
    EXPECT_FALSE(sim::ParseScenario("device W\nvar X 0x7FF counter16 1\nend\n", s, error));
    EXPECT_EQ(error, "line 2: variable X: counter16 needs two whole bytes");
    EXPECT_FALSE(sim::ParseScenario("device W\nvar X 0x10 counter16 1 2 middle\nend\n", s, error));
    EXPECT_EQ(error, "line 2: byte order must be big or little, not \"middle\"");
}

TEST(Waveforms, BitsToggleWithoutTouchingTheirNeighbours) {
    sim::Device d = MakeDevice(R"(
var B0 0x17 0 square 100
var B3 0x17 3 const 1
var B5 0x17 5 const 0
)");
    d.SetMemory(0x17, static_cast<std::uint8_t>(d.Memory(0x17) | 0x40));
    EXPECT_EQ(At(d, 0x17, 10), 0x48);
    EXPECT_EQ(At(d, 0x17, 60), 0x49);
    EXPECT_EQ(At(d, 0x17, 110), 0x48);
}

TEST(Waveforms, RandomWalkStaysInItsRangeAndDependsOnlyOnTime) {
    const char* body = "var WK 0x14 walk 10 2 100 110\n";
    sim::Device often = MakeDevice(body, 7);
    sim::Device once = MakeDevice(body, 7);
    int previous = At(often, 0x14, 0);
    EXPECT_EQ(previous, 105);
    bool moved = false;
    for (std::uint64_t ms = 10; ms <= 5000; ms += 10) {
        int value = At(often, 0x14, ms);
        EXPECT_GE(value, 100);
        EXPECT_LE(value, 110);
        EXPECT_LE(std::abs(value - previous), 2);
        moved = moved || value != previous;
        previous = value;
    }
    EXPECT_TRUE(moved);
    // The value at a time is the same whether or not it was looked at in between.
    EXPECT_EQ(At(once, 0x14, 5000), previous);
    // Another seed walks another way.
    sim::Device other = MakeDevice(body, 8);
    bool differs = false;
    for (std::uint64_t ms = 100; ms <= 5000 && !differs; ms += 100) {
        differs = At(other, 0x14, ms) != At(once, 0x14, ms);
    }
    EXPECT_TRUE(differs);
}

TEST(Waveforms, FollowerMovesOneStepAtATimeTowardsItsSource) {
    sim::Device d = MakeDevice("var SET 0x15 const 50\nvar FOL 0x16 follow SET 10\n");
    EXPECT_EQ(At(d, 0x16, 0), 0);
    EXPECT_EQ(At(d, 0x16, 100), 10);
    EXPECT_EQ(At(d, 0x16, 1000), 50);
    EXPECT_EQ(At(d, 0x16, 2000), 50);
    d.SetMemory(0x15, 20);
    EXPECT_EQ(At(d, 0x16, 2100), 40);
    EXPECT_EQ(At(d, 0x16, 3000), 20);
}

TEST(Waveforms, AValueFollowsASetterWrittenOverTheLine) {
    TestPc pc(R"(
device W
  appl_id 0x85
  var COMSET_VAR_BEG 0x40
  var SET 0x40 const 10
  var FOL 0x30 follow SET 1
end
channel 1 W
)",
              0);
    pc.Wait(100000);
    EXPECT_EQ(pc.Exchange({0x30}), Bytes{10});
    EXPECT_EQ(pc.Exchange({0x07, 0xE0, 200}), (Bytes{0x85, 0x40, 200}));
    pc.Wait(50000);
    Bytes got = pc.Exchange({0x30});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_GT(got[0], 50);
    EXPECT_LT(got[0], 200);
    pc.Wait(500000);
    EXPECT_EQ(pc.Exchange({0x30}), Bytes{200});
}

const char* kFaulty = R"(
seed 99
device F
  appl_id 0x12
  mem 0x00 0x11
  mem 0x123 0x77
  eeprom 255 0x22
end
channel 1 F
)";

TestPc WithFaults(const std::string& faults) {
    return TestPc(faults + kFaulty);
}

int CountReplies(TestPc& pc, int reads) {
    int replies = 0;
    for (int i = 0; i < reads; ++i) {
        replies += static_cast<int>(pc.Exchange({0x00}).size());
    }
    return replies;
}

TEST(Faults, DropEveryNthReply) {
    TestPc pc = WithFaults("fault drop every 3\n");
    Bytes replies;
    for (int i = 0; i < 9; ++i) {
        Bytes got = pc.Exchange({0x00});
        replies.push_back(static_cast<std::uint8_t>(got.size()));
    }
    EXPECT_EQ(replies, (Bytes{1, 1, 0, 1, 1, 0, 1, 1, 0}));
    EXPECT_EQ(pc.sim->Counters().dropped, 3u);
    EXPECT_EQ(pc.sim->Counters().replies, 9u);
}

TEST(Faults, DropAFractionOfReplies) {
    TestPc pc = WithFaults("fault drop fraction 0.25\n");
    int replies = CountReplies(pc, 400);
    EXPECT_GT(replies, 260);
    EXPECT_LT(replies, 340);
    // The same seed drops the same replies.
    TestPc again = WithFaults("fault drop fraction 0.25\n");
    EXPECT_EQ(CountReplies(again, 400), replies);
}

TEST(Faults, WrongEchoesFlipABit) {
    TestPc pc = WithFaults("fault echo every 2\n");
    EXPECT_EQ(pc.Exchange({0xF1, 0x23}), (Bytes{0x10, 0x77}));
    EXPECT_EQ(pc.Exchange({0xF1, 0x23}), (Bytes{0x11, 0x77})); // the second echo
    // Write echoes count too; replies that are no echo are never touched.
    EXPECT_EQ(pc.Exchange({0x07, 0xB0, 0x55}), (Bytes{0x12, 0x30, 0x54}));
    EXPECT_EQ(pc.Mc().Memory(0x30), 0x55); // the MC stored the value all the same
    EXPECT_EQ(pc.sim->Counters().wrongEchoes, 2u);
}

TEST(Faults, NoiseBytesFollowReplies) {
    TestPc pc = WithFaults("fault noise every 2 3\n");
    EXPECT_EQ(pc.Exchange({0x00}).size(), 1u);
    Bytes noisy = pc.Exchange({0x00});
    ASSERT_EQ(noisy.size(), 4u);
    EXPECT_EQ(noisy[0], 0x11);
    EXPECT_EQ(pc.sim->Counters().noiseBytes, 3u);
    // The noise takes its time on the wire like any byte.
    const auto& traffic = pc.sim->Traffic();
    const auto& last = traffic.back();
    const auto& reply = traffic[traffic.size() - 4];
    EXPECT_EQ(last.startNs - reply.endNs, 2 * 1041667u);
}

TEST(Faults, WrongChecksumsInSumsAndStatus) {
    TestPc pc = WithFaults("fault checksum every 1\n");
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x81, 0x00, 0xFF, 0x00}), Bytes{0x22});
    EXPECT_EQ(pc.Send(0x00), Bytes{0x23}); // the right sum would be 0x22
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x01, 0x00, 0xFF, 0x44, 0xBC}), Bytes{0x01});
    EXPECT_EQ(pc.sim->Counters().wrongChecksums, 2u);
}

TEST(Faults, LateReplies) {
    TestPc pc = WithFaults("fault late every 2 40\n");
    pc.sim->Write(0x00, pc.now);
    EXPECT_EQ(pc.sim->Available(pc.now + 2084), 1u);
    pc.now += 10000;
    pc.sim->ReadAll(pc.now);
    pc.sim->Write(0x00, pc.now);
    EXPECT_EQ(pc.sim->Available(pc.now + 42083), 0u);
    EXPECT_EQ(pc.sim->Available(pc.now + 42084), 1u);
    EXPECT_EQ(pc.sim->Counters().late, 1u);
}

TEST(Faults, TheMcVanishesAndComesBack) {
    TestPc pc(std::string("fault vanish at 100 for 50 every 1000\n") + kFaulty, 0);
    pc.now = 90000;
    EXPECT_EQ(pc.Exchange({0x00}, 5000), Bytes{0x11});
    pc.now = 120000;
    EXPECT_EQ(pc.Exchange({0x00}, 5000), Bytes{});
    pc.now = 160000;
    EXPECT_EQ(pc.Exchange({0x00}, 5000), Bytes{0x11});
    pc.now = 1110000;
    EXPECT_EQ(pc.Exchange({0x00}, 5000), Bytes{});
    pc.now = 1150000;
    EXPECT_EQ(pc.Exchange({0x00}, 5000), Bytes{0x11});
    // A reply on the wire when the MC goes is lost as well.
    pc.now = 2098500; // lands at 2099.54 ms, its reply would arrive at 2100.58 ms
    pc.sim->Write(0x00, pc.now);
    EXPECT_EQ(pc.Wait(5000), Bytes{});
    EXPECT_EQ(pc.sim->Traffic().back().byte, 0x11);
    EXPECT_FALSE(pc.sim->Traffic().back().heard);
    EXPECT_EQ(pc.sim->Counters().vanished, 3u);

    // By hand, from a given moment on.
    TestPc manual(kFaulty);
    manual.sim->SetVanished(true, manual.now);
    EXPECT_EQ(manual.Exchange({0x00}), Bytes{});
    manual.sim->SetVanished(false, manual.now);
    EXPECT_EQ(manual.Exchange({0x00}), Bytes{0x11});
}

TEST(Faults, CanBeChangedWhileRunning) {
    TestPc pc(kFaulty);
    EXPECT_EQ(CountReplies(pc, 4), 4);
    sim::FaultConfig faults;
    faults.drop.every = 1;
    pc.sim->SetFaults(faults);
    EXPECT_EQ(CountReplies(pc, 4), 0);
    pc.sim->SetFaults(sim::FaultConfig{});
    EXPECT_EQ(CountReplies(pc, 4), 4);
}

} // namespace
