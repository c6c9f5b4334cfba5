#include "sim/scenario.h"
#include "sim/uart.h"
#include "sim_helpers.h"

#include <gtest/gtest.h>

using sim_test::Bytes;

namespace {

TEST(Uart, FrameTakesTenBitTimes) {
    EXPECT_EQ(sim::FrameNs(9600), 1041667u);
    EXPECT_EQ(sim::FrameNs(19200), 520833u);
    EXPECT_EQ(sim::FrameNs(115200), 86806u);
    EXPECT_EQ(sim::FrameNs(0), 0u);
}

TEST(Uart, SameRateDeliversTheByte) {
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(sim::ReceiveAtRate(static_cast<std::uint8_t>(b), 9600, 9600),
                  Bytes{static_cast<std::uint8_t>(b)});
    }
}

TEST(Uart, OtherRateSamplesTheWaveform) {
    // 0x07 sent at 19200 to a 9600 receiver: the start bit is too short, the falling edge
    // between data bits 2 and 3 starts a frame that reads every other sender bit.
    EXPECT_EQ(sim::ReceiveAtRate(0x07, 19200, 9600), Bytes{0xFE});
    // 0x07 sent at 9600 to a 19200 receiver: each bit is read twice; the stop bit falls into
    // data bit 3 (low): a framing error, delivered as 0x00.
    EXPECT_EQ(sim::ReceiveAtRate(0x07, 9600, 19200), Bytes{0x00});
    // A frame whose start bit ends before a slower receiver's mid-bit sample is lost.
    EXPECT_EQ(sim::ReceiveAtRate(0xFF, 19200, 9600), Bytes{});
}

TEST(Uart, NoByteSurvivesARateMismatch) {
    const std::uint32_t pairs[][2] = {{9600, 19200}, {19200, 9600},  {9600, 28800},
                                      {28800, 9600}, {9600, 115200}, {115200, 9600}};
    for (const auto& pair : pairs) {
        for (int b = 1; b < 256; ++b) {
            auto byte = static_cast<std::uint8_t>(b);
            EXPECT_NE(sim::ReceiveAtRate(byte, pair[0], pair[1]), Bytes{byte})
                << "byte " << b << " from " << pair[0] << " to " << pair[1];
        }
    }
}

const char* kFullScenario = R"(
# every setting once
wiring com1
pty_channel 2
seed 77
latency_us 150 40
device A
  appl_id 0x85          # ADR application
  baud 19200
  var COMSET_VAR_BEG $40
  var COMSET_VAR_END 0x44
  var COM_VARX 0x43
  var SPEED 0x30 2 square 500 0 255
  var TABLE 0x123
  var F 0x31 follow SPEED 20
  mem 0x120 1 2 3
  eeprom_mode byte
  eeprom 10 0xAB 0xCD
  eeprom_write_ms 4
  loader 0x50
  boot_ms 5
  loader_window_ms 300
  program_ms 2
  flash_size 0x8000
  exchange_timeout_ms 200
end
device B
  appl_id 12
  start_in_loader
  loader 0x31
end
channel 1 A
channel 2 none
bus 1 3 B
fault drop every 5
fault echo fraction 0.25
fault noise every 3 2
fault checksum every 2
fault late fraction 0.5 40
fault vanish at 1000 for 200 every 5000
)";

TEST(Scenario, ReadsEverySetting) {
    sim::Scenario s = sim_test::ParseOrFail(kFullScenario);
    EXPECT_EQ(s.wiring, sim::Wiring::ComOneChannel);
    EXPECT_EQ(s.ptyChannel, 2);
    EXPECT_EQ(s.seed, 77u);
    EXPECT_EQ(s.latencyUs, 150u);
    EXPECT_EQ(s.latencyJitterUs, 40u);
    ASSERT_EQ(s.devices.size(), 2u);

    const sim::DeviceConfig& a = *s.FindDevice("A");
    EXPECT_EQ(a.applId, 0x85);
    EXPECT_EQ(a.baud, 19200u);
    EXPECT_EQ(a.writeBase, 0xA0); // 0xE0 - 0x40
    EXPECT_EQ(a.writeLo, 0x40);
    EXPECT_EQ(a.writeHi, 0x43); // COMSET_VAR_END itself is not settable
    ASSERT_TRUE(a.comVarx.has_value());
    EXPECT_EQ(*a.comVarx, 0x43);
    ASSERT_EQ(a.variables.size(), 6u);
    EXPECT_EQ(a.variables[3].bit, 2);
    EXPECT_EQ(a.variables[3].wave.kind, sim::WaveKind::Square);
    EXPECT_EQ(a.variables[3].wave.periodMs, 500);
    EXPECT_EQ(a.variables[4].address, 0x123);
    EXPECT_EQ(a.variables[5].wave.kind, sim::WaveKind::Follow);
    EXPECT_EQ(a.variables[5].wave.source, 0x30); // resolved from the name SPEED
    EXPECT_EQ(a.variables[5].wave.periodMs, 20);
    ASSERT_EQ(a.memory.size(), 1u);
    EXPECT_EQ(a.memory[0].address, 0x120u);
    EXPECT_EQ(a.eepromMode, sim::EepromMode::ByteMode);
    EXPECT_EQ(a.eeprom[0].bytes, (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(a.eepromWriteMs, 4u);
    EXPECT_TRUE(a.hasLoader);
    EXPECT_EQ(a.deviceCode, 0x50);
    EXPECT_EQ(a.bootMs, 5u);
    EXPECT_EQ(a.loaderWindowMs, 300u);
    EXPECT_EQ(a.programMs, 2u);
    EXPECT_EQ(a.flashSize, 0x8000u);
    EXPECT_EQ(a.exchangeTimeoutMs, 200u);
    EXPECT_TRUE(s.FindDevice("B")->startInLoader);

    EXPECT_EQ(s.channels[1].device, "A");
    EXPECT_TRUE(s.channels[1].bus);
    EXPECT_EQ(s.channels[1].slots[3], "B");
    EXPECT_TRUE(s.channels[2].device.empty());
    EXPECT_TRUE(s.channels[3].device.empty());

    EXPECT_EQ(s.faults.drop.every, 5u);
    EXPECT_DOUBLE_EQ(s.faults.echo.fraction, 0.25);
    EXPECT_EQ(s.faults.noise.every, 3u);
    EXPECT_EQ(s.faults.noiseCount, 2u);
    EXPECT_EQ(s.faults.checksum.every, 2u);
    EXPECT_DOUBLE_EQ(s.faults.late.fraction, 0.5);
    EXPECT_EQ(s.faults.lateMs, 40u);
    EXPECT_TRUE(s.faults.vanish);
    EXPECT_EQ(s.faults.vanishAtMs, 1000u);
    EXPECT_EQ(s.faults.vanishForMs, 200u);
    EXPECT_EQ(s.faults.vanishEveryMs, 5000u);
}

TEST(Scenario, WriteBaseFollowsHowTheApplicationIsBuilt) {
    auto base = [](const std::string& body) {
        sim::Scenario s = sim_test::ParseOrFail("device D\n" + body + "end\n");
        const sim::DeviceConfig& d = s.devices.at(0);
        return std::vector<int>{d.writeBase, d.writeLo, d.writeHi};
    };
    // An object-file application: base 0x80 over the lower 128 bytes.
    EXPECT_EQ(base("appl_id 0x12\n"), (std::vector<int>{0x80, 0x00, 0x7F}));
    // An address-file application (id 0x80 and up, or 7) without COMSET_VAR_BEG: 0xC0.
    EXPECT_EQ(base("appl_id 0x90\n"), (std::vector<int>{0xC0, 0x00, 0x3F}));
    EXPECT_EQ(base("appl_id 7\n"), (std::vector<int>{0xC0, 0x00, 0x3F}));
    // COMSET_VAR_BEG without COMSET_VAR_END: sixteen settable bytes.
    EXPECT_EQ(base("appl_id 0x90\nvar COMSET_VAR_BEG 0x58\n"),
              (std::vector<int>{0x88, 0x58, 0x67}));
    // Given by hand.
    EXPECT_EQ(base("appl_id 1\nwrite_base 0x90\nwrite_window 2 9\n"),
              (std::vector<int>{0x90, 2, 9}));
}

TEST(Scenario, ReportsTheLineOfEveryMistake) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"bogus 1\n", "line 1: unknown keyword \"bogus\""},
        {"\n\ndevice D\n appl_id 300\nend\n", "line 4: application id 300 out of range 0..255"},
        {"device D\nappl_id 1\nvar X 0x800\nend\n", "line 3: address 0x800 out of range 0..2047"},
        {"device D\nappl_id 1\nvar X 1 8\nend\n", "line 3: bit 8 out of range 0..7"},
        {"device D\nappl_id 1\nvar X 1 wobble 3\nend\n", "line 3: unknown waveform \"wobble\""},
        {"device D\nappl_id 1\nvar X 1 sine 0\nend\n",
         "line 3: period 0 out of range 1..31536000000"},
        {"device D\nappl_id 1\nvar X 1 saw 10 9 3\nend\n", "line 3: low value above high value"},
        {"device D\nappl_id 1\nvar X 1\nvar X 2\nend\n", "line 4: variable X defined twice"},
        {"device D\nappl_id 1\nmem 0x7FF 1 2\nend\n", "line 3: memory bytes run past the end"},
        {"device D\nappl_id 1\neeprom 255 1 2\nend\n", "line 3: EEPROM bytes run past the end"},
        {"device D\nappl_id 1\nvar F 1 follow NOPE\nend\n",
         "line 4: device D: follow source NOPE is not a variable"},
        {"device D\nend\n", "line 2: device D has no appl_id"},
        {"device D\nappl_id 1\n", "line 2: device D is not closed with \"end\""},
        {"device D\nappl_id 1\nend\ndevice D\nappl_id 2\nend\n", "line 4: device D defined twice"},
        {"channel 1 X\n", "line 1: device X is not defined"},
        {"channel 4 X\n", "line 1: channel 4 out of range 1..3"},
        {"device D\nappl_id 1\nend\nchannel 1 D\nchannel 1 D\n", "line 5: channel 1 given twice"},
        {"device D\nappl_id 1\nend\nbus 2 1 D\n", "channel 2 has a bus but no device of its own"},
        {"fault drop sometimes\n",
         "line 1: expected \"every N\" or \"fraction F\" after fault drop"},
        {"fault echo fraction 1.5\n", "line 1: invalid fraction \"1.5\" (0 to 1)"},
        {"fault vanish at 10 for 20 every 5\n",
         "line 1: repetition time 5 out of range 21..31536000000"},
        {"wiring rs485\n", "line 1: invalid wiring \"rs485\" (com3, com1, usb)"},
        {"seed 12 13\n", "line 1: unexpected \"13\""},
    };
    for (const auto& c : cases) {
        sim::Scenario s;
        std::string error;
        EXPECT_FALSE(sim::ParseScenario(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(Scenario, AMissingFileIsReported) {
    sim::Scenario s;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioFile("/nonexistent/x.scenario", s, error));
    EXPECT_EQ(error, "/nonexistent/x.scenario: cannot be opened");
    EXPECT_FALSE(sim::LoadScenarioFile("/tmp", s, error));
    EXPECT_EQ(error, "/tmp: is a folder, not a scenario file");
}

TEST(Scenario, SurvivesArbitraryBytes) {
    // Whatever the file holds, parsing ends with a result and never crashes.
    std::uint64_t state = 12345;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        int length = static_cast<int>(state % 200);
        for (int i = 0; i < length; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const char alphabet[] = "device end var appl_id 0x1 $F 255 sine\n #fault bus 7 ";
            text += (state >> 60) < 12 ? alphabet[(state >> 33) % (sizeof alphabet - 1)]
                                       : static_cast<char>(state >> 56);
        }
        sim::Scenario s;
        std::string error;
        if (!sim::ParseScenario(text, s, error)) {
            EXPECT_FALSE(error.empty());
        }
    }
}

} // namespace
