#include "sim/device.h"
#include "sim_helpers.h"

#include <algorithm>
#include <gtest/gtest.h>

using sim_test::Bytes;
using sim_test::TestPc;

namespace {

const char* kBus = R"(
device LOCAL
  appl_id 0x85
  mem 0x10 0x01
end
device S3
  appl_id 0x31
  mem 0x10 0x33
end
device S6
  appl_id 0x66
end
device PLAIN
  appl_id 0x12
  mem 0xFD 0x44
end
channel 1 LOCAL
bus 1 3 S3
bus 1 6 S6
channel 2 PLAIN
)";

TEST(Bus, ProbeAnswersForTheLocalDeviceAndTheSlots) {
    TestPc pc(kBus);
    EXPECT_EQ(pc.Exchange({0xFD, 0x01}), (Bytes{0x5A, 0x00})); // slot 0 addressed
    EXPECT_EQ(pc.Exchange({0xFD, 0x00}), (Bytes{0x5A, 0x85}));
    EXPECT_EQ(pc.Exchange({0xFD, 0x60}), (Bytes{0x5A, 0x31}));
    EXPECT_EQ(pc.Exchange({0xFD, 0xC0}), (Bytes{0x5A, 0x66}));
    // Absent slots and requests the bus does not know stay silent.
    EXPECT_EQ(pc.Exchange({0xFD, 0x20}), (Bytes{0x5A}));
    EXPECT_EQ(pc.Exchange({0xFD, 0xE0}), (Bytes{0x5A}));
    EXPECT_EQ(pc.Exchange({0xFD, 0x05}), (Bytes{0x5A}));
    // After an attention the probe is still a probe.
    EXPECT_EQ(pc.Exchange({0x07, 0xFD, 0x00}), (Bytes{0x85, 0x5A, 0x85}));
    // A channel without a bus does not answer the probe.
    pc.Lines(false, true);
    EXPECT_EQ(pc.Exchange({0xFD}), Bytes{});
}

TEST(Bus, SwitchingMovesTheLinkToAnotherDevice) {
    TestPc pc(kBus);
    EXPECT_EQ(pc.Exchange({0xFD, 0xC2}), (Bytes{0x5A, 0x66}));
    EXPECT_EQ(pc.sim->CurrentSlot(1), 6);
    EXPECT_EQ(pc.Exchange({0xFD, 0x01}), (Bytes{0x5A, 0xC0}));
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x66}); // the slot's device answers now
    EXPECT_EQ(pc.Exchange({0xFD, 0x62}), (Bytes{0x5A, 0x31}));
    EXPECT_EQ(pc.Exchange({0x10}), Bytes{0x33});
    // Switching to an absent slot gets no answer and changes nothing.
    EXPECT_EQ(pc.Exchange({0xFD, 0x82}), (Bytes{0x5A}));
    EXPECT_EQ(pc.sim->CurrentSlot(1), 3);
    EXPECT_EQ(pc.Exchange({0xFD, 0x12}), (Bytes{0x5A, 0x85})); // back to the local device
    EXPECT_EQ(pc.Exchange({0x10}), Bytes{0x01});
    // A reset puts the bus back on the local device.
    EXPECT_EQ(pc.Exchange({0xFD, 0x62}), (Bytes{0x5A, 0x31}));
    pc.Lines(false, false);
    pc.Lines(true, false);
    EXPECT_EQ(pc.sim->CurrentSlot(1), 0);
}

TEST(Bus, AProbeWithoutItsRequestIsForgotten) {
    TestPc pc(kBus);
    EXPECT_EQ(pc.Exchange({0xFD}), Bytes{0x5A});
    pc.Wait(1000000);
    EXPECT_EQ(pc.Exchange({0x10}), Bytes{0x01}); // a read again
}

const char* kEeprom = R"(
device BLOCK
  appl_id 0x12
  eeprom 0 0x10 0x11 0x12 0x13 0x14 0x15 0x16 0x17 0x18 0x19 0x1A 0x1B 0x1C 0x1D 0x1E 0x1F
  eeprom 255 0x22
end
device FAST
  appl_id 0x13
  eeprom_mode block19200
  eeprom 16 0xAB
end
device BYTES
  appl_id 0x14
  eeprom_mode byte
  eeprom 5 0x55
  mem 0x85 0x99
end
channel 1 BLOCK
channel 2 FAST
channel 3 BYTES
)";

// Reads a block the way the host does: request, then 0x00 after every data byte; returns the
// data bytes followed by the sum byte.
Bytes ReadBlock(TestPc& pc, std::uint8_t n, std::uint16_t address) {
    auto hi = static_cast<std::uint8_t>(address >> 8);
    auto lo = static_cast<std::uint8_t>(address & 0xFF);
    auto check = static_cast<std::uint8_t>(0 - (n + hi + lo));
    Bytes got = pc.Send({static_cast<std::uint8_t>(0x80 + n), hi, lo, check});
    for (int i = 0; i < n && !got.empty(); ++i) {
        Bytes more = pc.Send(0x00);
        got.insert(got.end(), more.begin(), more.end());
    }
    return got;
}

TEST(Eeprom, BlockReadWithTheSumOfRequestAndData) {
    TestPc pc(kEeprom);
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    // The byte at 255: request 0x81 0x00 0xFF 0x00; sum 1 + 0 + 0xFF + 0x22.
    EXPECT_EQ(ReadBlock(pc, 1, 255), (Bytes{0x22, 0x22}));

    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    Bytes expected;
    std::uint8_t sum = 11 + 0 + 5;
    for (std::uint8_t a = 5; a < 16; ++a) {
        expected.push_back(static_cast<std::uint8_t>(0x10 + a));
        sum = static_cast<std::uint8_t>(sum + 0x10 + a);
    }
    expected.push_back(sum);
    EXPECT_EQ(ReadBlock(pc, 11, 5), expected);

    // A request with a wrong check byte, or one past the end, gets no answer; the firmware
    // then serves requests as before.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x81, 0x00, 0xFF, 0x01}), Bytes{});
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x82, 0x00, 0xFF, 0x7F}), Bytes{});
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12});
}

TEST(Eeprom, BlockWriteAnswersWithItsStatus) {
    TestPc pc(kEeprom);
    // 0x44 to 255: 0x01 0x00 0xFF 0x44 0xBC, status 0.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x01, 0x00, 0xFF, 0x44, 0xBC}), Bytes{0x00});
    EXPECT_EQ(pc.Mc(1).Eeprom()[255], 0x44);
    // A wrong check byte: status 1, nothing stored.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x01, 0x00, 0xFF, 0x45, 0xBC}), Bytes{0x01});
    EXPECT_EQ(pc.Mc(1).Eeprom()[255], 0x44);
    // Past the end: status 2.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x02, 0x00, 0xFF, 0x01, 0x02, 0xFC}), Bytes{0x02});
    // Sixteen bytes at 0x20.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    Bytes block{16, 0x00, 0x20};
    std::uint8_t sum = 16 + 0x20;
    for (std::uint8_t i = 0; i < 16; ++i) {
        block.push_back(static_cast<std::uint8_t>(0xC0 + i));
        sum = static_cast<std::uint8_t>(sum + 0xC0 + i);
    }
    block.push_back(static_cast<std::uint8_t>(0 - sum));
    for (auto b : block) {
        pc.sim->Write(b, pc.now);
    }
    EXPECT_EQ(pc.Wait(50000), Bytes{0x00});
    EXPECT_EQ(pc.Mc(1).Eeprom()[0x2F], 0xCF);
}

TEST(Eeprom, HandshakeF8RunsTheBlockAt19200Baud) {
    TestPc pc(kEeprom);
    pc.Lines(false, true);
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0xF8});
    // A host that stays at 9600 is not understood: what it gets back is not the block.
    Bytes garbled = ReadBlock(pc, 1, 16);
    EXPECT_EQ(std::find(garbled.begin(), garbled.end(), 0xAB), garbled.end());
    // Once the block is abandoned the firmware is back at 9600.
    pc.Wait(1000000);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x13});

    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0xF8});
    pc.Baud(19200);
    EXPECT_EQ(ReadBlock(pc, 1, 16), (Bytes{0xAB, static_cast<std::uint8_t>(1 + 16 + 0xAB)}));
    // After the block it listens at 9600 again.
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{});
    pc.Baud(9600);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x13});
    // A write block likewise.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0xF8});
    pc.Baud(19200);
    EXPECT_EQ(pc.Send({0x01, 0x00, 0xFF, 0x44, 0xBC}), Bytes{0x00});
    pc.Baud(9600);
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x13});
    EXPECT_EQ(pc.Mc(2).Eeprom()[255], 0x44);
}

TEST(Eeprom, ByteModeServesTheFirst48AddressesWithEchoes) {
    TestPc pc(kEeprom);
    pc.Lines(true, true);
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x43});
    EXPECT_EQ(pc.Exchange({0x85}), Bytes{0x55});            // read address 5
    EXPECT_EQ(pc.Exchange({0xB7, 0x99}), (Bytes{7, 0x99})); // write address 7
    EXPECT_EQ(pc.Mc(3).Eeprom()[7], 0x99);
    EXPECT_EQ(pc.Exchange({0xAF}), Bytes{0xFF}); // address 47, the last one
    EXPECT_EQ(pc.Exchange({0xDF, 0x01}), (Bytes{47, 0x01}));
    // A handshake inside byte mode is answered again.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x43});
    // Address 48 has no byte-mode request (0xB0 + 48 = 0xE0): byte mode ends and the
    // application takes the byte, so 0x85 is a memory read again.
    EXPECT_EQ(pc.Exchange({0xE0}), Bytes{});
    EXPECT_EQ(pc.Exchange({0x85}), Bytes{0x99});
}

TEST(Eeprom, NoHandshakeWithoutEeprom) {
    TestPc pc("device N\nappl_id 1\neeprom_mode none\nend\nchannel 1 N\n");
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{});
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{1});
}

const char* kLoader = R"(
device L
  appl_id 0x12
  mem 0xA5 0x3C
  loader 0x50
  boot_ms 10
  loader_window_ms 500
  flash_size 0x8000
end
device N
  appl_id 0x13
end
channel 1 L
channel 2 N
)";

// The reset pulse of a three-channel COM link: both lines off for 130 ms, then RTS on.
void ResetPulse(TestPc& pc) {
    pc.Lines(false, false);
    pc.now += 130000;
    pc.Lines(true, false);
}

TEST(Loader, GreetsAfterAResetAndAnswersTheQuery) {
    TestPc pc(kLoader, 0);
    pc.Wait(600000); // past the power-on greeting and window
    pc.Lines(false, false);
    EXPECT_TRUE(pc.sim->InReset());
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{}); // held in reset
    pc.now += 100000;
    pc.Lines(true, false);
    EXPECT_EQ(pc.Wait(9000), Bytes{});
    EXPECT_EQ(pc.Wait(3000), Bytes{0xAA}); // 10 ms after the end of the pulse + one frame
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x50});
    // Code 0x50 moves the loader to 19200 baud.
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{});
    pc.Baud(19200);
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x50});
    // A program block: 03 12 34 01 02 03 and the check byte 0xB1; status 0.
    EXPECT_EQ(pc.Send({0x03, 0x12, 0x34, 0x01, 0x02, 0x03, 0xB1}), Bytes{0x00});
    const auto& flash = pc.Mc().Flash();
    EXPECT_EQ((Bytes{flash[0x1234], flash[0x1235], flash[0x1236], flash[0x1237]}),
              (Bytes{1, 2, 3, 0xFF}));
    EXPECT_TRUE(pc.Mc().FlashWritten()[0x1234]);
    EXPECT_FALSE(pc.Mc().FlashWritten()[0x1237]);
    // A wrong check byte, and a block past the end of the flash.
    EXPECT_EQ(pc.Send({0x01, 0x00, 0x00, 0x01, 0x00}), Bytes{0x01});
    EXPECT_EQ(pc.Send({0x02, 0x7F, 0xFF, 0x01, 0x02, 0x7D}), Bytes{0x02});
    // The loader knows nothing of the variable protocol (0x07 would be a block count).
    EXPECT_EQ(pc.Exchange({0x40}), Bytes{});
    // The handshake and a block write after it also go to the flash.
    EXPECT_EQ(pc.Exchange({0xF8}), Bytes{0x07});
    EXPECT_EQ(pc.Send({0x01, 0x00, 0x10, 0x77, 0x78}), Bytes{0x00});
    EXPECT_EQ(pc.Mc().Flash()[0x10], 0x77);
    EXPECT_EQ(pc.Mc().Eeprom()[0x10], 0xFF);

    // The next reset brings it back to 9600 and into the greeting again.
    ResetPulse(pc);
    pc.Baud(9600);
    EXPECT_EQ(pc.Wait(20000), Bytes{0xAA});
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x50});
}

TEST(Loader, TheApplicationRunsWhenNoQueryComes) {
    TestPc pc(kLoader, 0);
    EXPECT_EQ(pc.Wait(20000), Bytes{0xAA}); // power-on
    pc.Wait(600000);
    EXPECT_EQ(pc.sim->DeviceAt(1)->CurrentMode(), sim::Device::Mode::Application);
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x3C}); // a memory read now
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12});

    // Any other byte inside the window starts the application at once, which serves it.
    ResetPulse(pc);
    EXPECT_EQ(pc.Wait(20000), Bytes{0xAA});
    // (0xA5 right after an attention would be a write request to 0x25.)
    EXPECT_EQ(pc.Exchange({0x07, 0x00, 0xA5}), (Bytes{0x12, 0x00, 0x3C}));
}

TEST(Loader, AnMcWithoutLoaderRestartsSilently) {
    TestPc pc(kLoader);
    pc.Lines(false, true);
    EXPECT_EQ(pc.Wait(20000), Bytes{}); // channel 2 has no greeting, not even at power-on
    pc.Lines(false, false);
    pc.now += 130000;
    pc.Lines(false, true);
    EXPECT_EQ(pc.Wait(50000), Bytes{});
    EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x13});
}

TEST(Loader, OneChannelLinksResetWithTheirResetLine) {
    // A COM port from COM8 up: DTR on is the reset; USB adapter: RTS on.
    for (const char* wiring : {"com1", "usb"}) {
        std::string text = std::string("wiring ") + wiring + "\n" + kLoader;
        TestPc pc(text, 0);
        pc.Wait(600000);
        bool usb = std::string(wiring) == "usb";
        EXPECT_FALSE(pc.sim->InReset()) << wiring;
        EXPECT_EQ(pc.Exchange({0x07}), Bytes{0x12}) << wiring;
        // ResetMC on such links: line 1 and line 2 on, 130 ms, line 1 off.
        pc.Lines(true, true);
        EXPECT_TRUE(pc.sim->InReset()) << wiring;
        pc.now += 130000;
        if (usb) {
            pc.Lines(false, true);
        } else {
            pc.Lines(true, false);
        }
        EXPECT_EQ(pc.Wait(20000), Bytes{0xAA}) << wiring;
        EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x50}) << wiring;
    }
}

TEST(Loader, ABoardWithoutApplicationStaysInItsLoader) {
    TestPc pc("device B\nappl_id 1\nloader 0x31\nstart_in_loader\nend\nchannel 1 B\n", 0);
    EXPECT_EQ(pc.Wait(20000), Bytes{0xAA});
    pc.Wait(5000000);
    EXPECT_EQ(pc.Exchange({0x40}), Bytes{});
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x31}); // a PIC16 loader keeps 9600 baud
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x31});
}

TEST(Loader, DeviceCodesThatChangeTheRate) {
    EXPECT_EQ(sim::LoaderBaudForCode(0x36), 19200u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x40), 19200u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x42), 28800u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x50), 19200u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x55), 19200u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x57), 19200u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x32), 0u);
    EXPECT_EQ(sim::LoaderBaudForCode(0x11), 0u);

    TestPc pc("device Q\nappl_id 1\nloader 0x42\nstart_in_loader\nend\nchannel 1 Q\n", 0);
    EXPECT_EQ(pc.Wait(20000), Bytes{0xAA});
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x42});
    pc.Baud(28800);
    EXPECT_EQ(pc.Exchange({0xA5}), Bytes{0x42});
}

} // namespace
