#include "sim/uart.h"
#include "sim_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

using sim_test::Bytes;
using sim_test::TestPc;

namespace {

// Channel 1: an object-file application (write base 0x80); channel 2: an address-file
// application with COMSET_VAR_BEG (base 0xE0 - 0x40); channel 3: a monitor without application.
const char* kThreeMcs = R"(
device OBJ
  appl_id 0x12
  var A 0x30
  mem 0x00 0x11 0x22
  mem 0xA5 0x5A
  mem 0xB0 0xB0
  mem 0xDF 0xDD
  mem 0xE0 0xE0
  mem 0xFD 0xFD
  mem 0x123 0x77
  mem 0x7FF 0x99
end
device ADR
  appl_id 0x85
  var COMSET_VAR_BEG 0x40
  var COMSET_VAR_END 0x48
  var COM_VARX 0x47
  var X 0x30
  mem 0x30 0x5C
  mem 0x10 0xA1 0xA2
end
device NOBODY
  appl_id 0xFF
end
channel 1 OBJ
channel 2 ADR
channel 3 NOBODY
)";

constexpr std::uint64_t kFrameNs = 1041667; // 9600 baud

TEST(Reads, PageZeroAndPageCommands) {
    TestPc pc(kThreeMcs);
    EXPECT_EQ(pc.Exchange({0x00}), Bytes{0x11});
    EXPECT_EQ(pc.Exchange({0xDF}), Bytes{0xDD});
    // Page commands answer p x 16, then the byte at p x 256 + L.
    EXPECT_EQ(pc.Exchange({0xF0, 0xE0}), (Bytes{0x00, 0xE0}));
    EXPECT_EQ(pc.Exchange({0xF1, 0x23}), (Bytes{0x10, 0x77}));
    EXPECT_EQ(pc.Exchange({0xF7, 0xFF}), (Bytes{0x70, 0x99}));
    // After a page command any byte is the low address, also one that is a command elsewhere.
    EXPECT_EQ(pc.Exchange({0xF0, 0xFD}), (Bytes{0x00, 0xFD}));
    EXPECT_EQ(pc.Exchange({0xF0, 0x07}), (Bytes{0x00, 0x00}));
    // Bytes from 0xE0 up that are no command get no answer.
    EXPECT_EQ(pc.Exchange({0xE0}), Bytes{});
    EXPECT_EQ(pc.Exchange({0xFE}), Bytes{});
}

TEST(Reads, ReplyArrivesAfterTwoFramesOnTheWire) {
    TestPc pc(kThreeMcs);
    const std::uint64_t t0 = pc.now;
    // The request leaves the PC after one frame (rounded up to a microsecond).
    EXPECT_EQ(pc.sim->Write(0x00, t0), t0 + 1042);
    EXPECT_EQ(pc.sim->PcTxIdleUs(), t0 + 1042);
    EXPECT_EQ(pc.sim->NextEventUs(), t0 + 1042);
    EXPECT_EQ(pc.sim->Available(t0 + 2083), 0u);
    EXPECT_EQ(pc.sim->NextEventUs(), t0 + 2084);
    EXPECT_EQ(pc.sim->ReadByte(t0 + 2084), std::optional<std::uint8_t>(0x11));
    EXPECT_EQ(pc.sim->NextEventUs(), std::nullopt);

    // Back-to-back requests queue on the PC's transmitter; the MC answers each as it lands.
    const std::uint64_t t1 = t0 + 10000;
    pc.sim->Write(0xF1, t1);
    EXPECT_EQ(pc.sim->Write(0x23, t1), t1 + 2084);
    EXPECT_EQ(pc.sim->ReadAll(t1 + 2083), Bytes{});
    EXPECT_EQ(pc.sim->ReadAll(t1 + 2084), Bytes{0x10});
    EXPECT_EQ(pc.sim->ReadAll(t1 + 3125), Bytes{});
    EXPECT_EQ(pc.sim->ReadAll(t1 + 3126), Bytes{0x77}); // three frames: 3125.001 us
}

TEST(Reads, LatencyAndRateSetTheTiming) {
    std::string text = std::string("latency_us 250\n") + kThreeMcs;
    TestPc pc(text);
    pc.sim->Write(0x00, pc.now);
    EXPECT_EQ(pc.sim->Available(pc.now + 2333), 0u);
    EXPECT_EQ(pc.sim->Available(pc.now + 2334), 1u);

    TestPc fast("device F\nappl_id 1\nbaud 115200\nend\nchannel 1 F\n");
    fast.Baud(115200);
    fast.sim->Write(0x07, fast.now);
    EXPECT_EQ(fast.sim->Available(fast.now + 173), 0u); // 2 x 86.806 us
    EXPECT_EQ(fast.sim->ReadAll(fast.now + 174), Bytes{1});

    TestPc unpaced(kThreeMcs);
    unpaced.sim->SetPacing(false);
    unpaced.sim->Write(0x00, unpaced.now);
    EXPECT_EQ(unpaced.sim->ReadAll(unpaced.now), Bytes{0x11});
}

// A jitter spreads each answer's time evenly around the latency; the seed repeats it.
TEST(Reads, LatencyJitterSpreadsTheAnswersRepeatably) {
    auto delays = [](const char* seed) {
        TestPc pc(std::string("latency_us 1500 1000\nseed ") + seed + "\n" + kThreeMcs);
        std::vector<std::uint64_t> all;
        for (int i = 0; i < 300; ++i) {
            pc.sim->Write(0x00, pc.now);
            std::uint64_t at = pc.now;
            while (pc.sim->Available(at) == 0) {
                at = pc.sim->NextEventUs().value_or(at + 100000);
            }
            all.push_back(at - pc.now);
            pc.now = at;
            EXPECT_EQ(pc.sim->ReadAll(pc.now), Bytes{0x11});
        }
        return all;
    };
    const std::vector<std::uint64_t> first = delays("5");
    // Two frames at 9600 (2083 us) and 1000 .. 2000 us of the MC's own.
    const auto [lo, hi] = std::minmax_element(first.begin(), first.end());
    EXPECT_GE(*lo, 3083u);
    EXPECT_LT(*lo, 3200u);
    EXPECT_GT(*hi, 3950u);
    EXPECT_LE(*hi, 4084u);
    EXPECT_EQ(delays("5"), first);
    EXPECT_NE(delays("6"), first);
}

TEST(Writes, AttentionWriteRequestAndValueWithEchoes) {
    TestPc pc(kThreeMcs);
    // Base 0x80: 0x55 to 0x30 is 0x07, 0xB0 (echo 0x30), 0x55 (echo 0x55).
    EXPECT_EQ(pc.Exchange({0x07, 0xB0, 0x55}), (Bytes{0x12, 0x30, 0x55}));
    EXPECT_EQ(pc.Mc(1).Memory(0x30), 0x55);
    // Without an attention first the same byte is a read of 0xB0.
    EXPECT_EQ(pc.Exchange({0xB0}), Bytes{0xB0});
    // Attention, then a command byte: the command wins (page 1, not a write to 0x71).
    EXPECT_EQ(pc.Exchange({0x07, 0xF1, 0x23}), (Bytes{0x12, 0x10, 0x77}));
    EXPECT_EQ(pc.Exchange({0x07, 0x07}), (Bytes{0x12, 0x12}));

    // Channel 2, base 0xE0 - 0x40: the variable at 0x43 is written with 0xE3, echo 0x43.
    pc.Lines(false, true);
    EXPECT_EQ(pc.Exchange({0x07, 0xE3, 0x66}), (Bytes{0x85, 0x43, 0x66}));
    EXPECT_EQ(pc.Mc(2).Memory(0x43), 0x66);
    // An address outside the settable window is no write request: 0x07 then 0x30 reads 0x30.
    EXPECT_EQ(pc.Exchange({0x07, 0x30}), (Bytes{0x85, 0x5C}));
    EXPECT_EQ(pc.Mc(2).Memory(0x90), 0x00);
}

TEST(Writes, TheValueByteIsTakenAsItComes) {
    // A PC that gives up after the address echo and starts again with 0x07 has that 0x07
    // stored as the value, as real firmware would; its next attention is answered again.
    TestPc pc(kThreeMcs);
    EXPECT_EQ(pc.Exchange({0x07, 0xB0}), (Bytes{0x12, 0x30}));
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x07});
    EXPECT_EQ(pc.Mc(1).Memory(0x30), 0x07);
    EXPECT_EQ(pc.Exchange({0x07, 0xB0, 0x01}), (Bytes{0x12, 0x30, 0x01}));
}

TEST(Writes, AnUnfinishedExchangeIsAbandonedAfterItsTimeOut) {
    TestPc pc(kThreeMcs);
    EXPECT_EQ(pc.Exchange({0x07, 0xB0}), (Bytes{0x12, 0x30}));
    pc.Wait(1000000);                            // the firmware's exchange time-out
    EXPECT_EQ(pc.Exchange({0x00}), Bytes{0x11}); // a read again, not the value
    EXPECT_EQ(pc.Mc(1).Memory(0x30), 0x00);
}

TEST(Streaming, WritingComVarxStartsItAndAttentionEndsIt) {
    TestPc pc(kThreeMcs);
    pc.Lines(false, true);
    // Writing a settable byte that is not COM_VARX leaves the mode off.
    EXPECT_EQ(pc.Exchange({0x07, 0xE1, 0x30}), (Bytes{0x85, 0x41, 0x30}));
    EXPECT_FALSE(pc.Mc(2).Streaming());
    // COM_VARX (0x47, request 0xE7) receives the x-variable's low address 0x30.
    EXPECT_EQ(pc.Exchange({0x07, 0xE7, 0x30}), (Bytes{0x85, 0x47, 0x30}));
    EXPECT_TRUE(pc.Mc(2).Streaming());
    EXPECT_EQ(pc.Mc(2).XAddress(), 0x30);
    // Every address byte: its value, then the x-variable sampled with it.
    EXPECT_EQ(pc.Send(0x10), (Bytes{0xA1, 0x5C}));
    pc.Mc(2).SetMemory(0x30, 0x01);
    EXPECT_EQ(pc.Send(0x11), (Bytes{0xA2, 0x01}));
    // Also bytes that are commands outside the mode.
    EXPECT_EQ(pc.Send(0xF1), (Bytes{0x00, 0x01}));
    // The attention ends it and is answered as always.
    EXPECT_EQ(pc.Send(0x07), Bytes{0x85});
    EXPECT_FALSE(pc.Mc(2).Streaming());
    EXPECT_EQ(pc.Send(0x10), Bytes{0xA1});
}

TEST(Channels, ControlLinesSelectTheMc) {
    TestPc pc(kThreeMcs);
    EXPECT_EQ(pc.sim->SelectedChannel(), 1); // an opened link: RTS on, DTR off
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12});
    pc.Lines(false, true);
    EXPECT_EQ(pc.sim->SelectedChannel(), 2);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x85});
    pc.Lines(true, true);
    EXPECT_EQ(pc.sim->SelectedChannel(), 3);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0xFF}); // "nobody here"
    pc.Lines(true, false);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12});

    // A channel without an MC stays silent.
    TestPc lonely("device A\nappl_id 3\nend\nchannel 1 A\n");
    lonely.Lines(false, true);
    EXPECT_EQ(lonely.Exchange({0x07}), Bytes{});
    lonely.Lines(true, false);
    EXPECT_EQ(lonely.Exchange({0x07}), Bytes{3});
}

TEST(Channels, AReplyIsHeardOnlyWhileItsChannelIsSelected) {
    TestPc pc(kThreeMcs);
    pc.sim->Write(0x07, pc.now);
    pc.now += 1500; // the request has landed, the reply is on its way
    pc.Lines(false, true);
    EXPECT_EQ(pc.Wait(5000), Bytes{});
    const auto& last = pc.sim->Traffic().back();
    EXPECT_EQ(last.direction, sim::TrafficEntry::Direction::ToPc);
    EXPECT_EQ(last.byte, 0x12);
    EXPECT_FALSE(last.heard);
}

TEST(Record, EveryByteWithItsTimes) {
    TestPc pc(kThreeMcs);
    const std::uint64_t t0 = pc.now;
    pc.Exchange({0xF1, 0x23});
    const auto& traffic = pc.sim->Traffic();
    ASSERT_EQ(traffic.size(), 4u);
    using Direction = sim::TrafficEntry::Direction;
    const std::uint64_t base = t0 * 1000;
    EXPECT_EQ(traffic[0].direction, Direction::ToMc);
    EXPECT_EQ(traffic[0].byte, 0xF1);
    EXPECT_EQ(traffic[0].channel, 1);
    EXPECT_EQ(traffic[0].startNs, base);
    EXPECT_EQ(traffic[0].endNs, base + kFrameNs);
    EXPECT_EQ(traffic[1].direction, Direction::ToPc);
    EXPECT_EQ(traffic[1].byte, 0x10);
    EXPECT_EQ(traffic[1].startNs, base + kFrameNs);
    EXPECT_EQ(traffic[1].endNs, base + 2 * kFrameNs);
    EXPECT_TRUE(traffic[1].heard);
    EXPECT_EQ(traffic[2].byte, 0x23);
    EXPECT_EQ(traffic[2].startNs, base + 20000000); // sent after the helper's 20 ms wait
    EXPECT_EQ(traffic[3].byte, 0x77);
    pc.sim->ClearTraffic();
    EXPECT_TRUE(pc.sim->Traffic().empty());
    pc.sim->SetRecording(false);
    pc.Exchange({0x00});
    EXPECT_TRUE(pc.sim->Traffic().empty());
}

TEST(Rates, BytesAtAnotherRateTurnToGarbage) {
    TestPc pc(kThreeMcs);
    // The PC at 19200 against an MC at 9600: the MC hears 0xFE and does not answer.
    pc.Baud(19200);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{});
    EXPECT_EQ(pc.sim->Traffic().back().byte, 0xFE);
    // The MC's answer reaching a PC that switched to 19200 meanwhile is garbled too.
    pc.Baud(9600);
    pc.sim->Write(0x07, pc.now);
    pc.now += 1500;
    pc.Baud(19200);
    Bytes got = pc.Wait(5000);
    EXPECT_EQ(got, sim::ReceiveAtRate(0x12, 9600, 19200));
    EXPECT_NE(got, Bytes{0x12});
    // Back at the same rate all is well.
    pc.Baud(9600);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12});
}

} // namespace
