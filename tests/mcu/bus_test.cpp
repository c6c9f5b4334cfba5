// The bus device list against the simulated bus, and the reset pulses on the control lines.
#include "link_fixture.h"
#include "mcu/access.h"
#include "mcu/bus.h"
#include "sim_link.h"

#include <gtest/gtest.h>

using namespace mcu;
using Bytes = std::vector<std::uint8_t>;

namespace {

const char* kBus = R"(
device MASTER
  appl_id 0x40
end
device PUMP
  appl_id 0x41
end
device MIXER
  appl_id 0x42
end
channel 1 MASTER
bus 1 3 PUMP
bus 1 6 MIXER
)";

class BusTest : public ::testing::Test {
protected:
    BusTest() {
        ResetMcuModule();
        ApplIdTable().fill("");
        ApplIdTable()[0x40] = "MASTER";
        ApplIdTable()[0x41] = "PUMP";
    }
    ~BusTest() override {
        ResetMcuModule();
        ApplIdTable().fill("");
    }
};

TEST_F(BusTest, SelectorListHoldsLocalDeviceAndAnsweringSlots) {
    testing_support::SimBench bench(kBus);
    MCAppl appl;
    BuildDeviceList(appl);
    ASSERT_EQ(appl.lastDeviceIndex, 2);
    EXPECT_TRUE(appl.busPresent);
    EXPECT_EQ(appl.currentDevice, 0);
    EXPECT_EQ(appl.deviceList[0].busAddress, 0x10);
    EXPECT_EQ(appl.deviceList[0].applId, 0x40);
    EXPECT_EQ(appl.deviceList[0].name, "MASTER");
    EXPECT_EQ(appl.deviceList[1].busAddress, 0x60);
    EXPECT_EQ(appl.deviceList[1].name, "PUMP");
    EXPECT_EQ(appl.deviceList[2].busAddress, 0xC0);
    EXPECT_EQ(appl.deviceList[2].applId, 0x42);
    EXPECT_EQ(appl.deviceList[2].name, ""); // an id the table does not know

    bench.ClearWire();
    ASSERT_TRUE(SelectDevice(appl, 2));
    EXPECT_EQ(bench.Sent(), (Bytes{0xFD, 0xC2}));
    EXPECT_EQ(bench.Received(), (Bytes{0x5A, 0x42}));
    EXPECT_EQ(appl.currentDevice, 2);
    EXPECT_EQ(bench.Sim().CurrentSlot(1), 6);

    ASSERT_TRUE(QueryCurrentDevice(appl));
    EXPECT_EQ(appl.currentDevice, 6); // a slot number, not a list index

    // An entry whose device now answers with another id is not selected.
    appl.deviceList[1].applId = 0x77;
    appl.currentDevice = 2;
    EXPECT_FALSE(SelectDevice(appl, 1));
    EXPECT_EQ(appl.currentDevice, 2);
    EXPECT_FALSE(SelectDevice(appl, 3)); // beyond the list
}

TEST_F(BusTest, LocalDeviceOnlyAndScopeListBuiltOnce) {
    testing_support::SimBench bench("device M\n appl_id 0x40\nend\nchannel 1 M\nbus 1\n");
    BuildDeviceList();
    ASSERT_EQ(ScopeLastDeviceIndex(), 0);
    EXPECT_EQ(ScopeDeviceList()[0].busAddress, 0x10);
    EXPECT_EQ(ScopeDeviceList()[0].name, "MASTER");
    bench.ClearWire();
    BuildDeviceList();
    EXPECT_TRUE(bench.Sent().empty()); // never rebuilt in a run
}

TEST_F(BusTest, NoBusMeansAnEmptyListWithinTheProbeTimeouts) {
    testing_support::SimBench bench("device M\n appl_id 0x40\nend\nchannel 1 M\n");
    const auto start = bench.Clock().NowUs();
    MCAppl appl;
    BuildDeviceList(appl);
    EXPECT_EQ(appl.lastDeviceIndex, -1);
    EXPECT_FALSE(appl.busPresent);
    EXPECT_EQ(appl.currentDevice, -1);
    // One probe, 0xFD unanswered: one 20 ms wait.
    EXPECT_LT(bench.Clock().NowUs() - start, 40000u);
    BuildDeviceList();
    EXPECT_EQ(ScopeLastDeviceIndex(), -1);
}

class ResetTest : public testing_support::LinkFixture {};

TEST_F(ResetTest, ThreeChannelComPortPulsesBothLinesOff) {
    Configure("3");
    ASSERT_TRUE(comlink::OpenLink(false));
    serial.calls.clear();
    const auto start = clock.NowUs();
    ResetMCAndWait();
    EXPECT_EQ(serial.LineCalls(), (std::vector<std::string>{"DTR 0", "RTS 0", "RTS 1"}));
    EXPECT_GE(ElapsedUs(start), 280000u); // 130 ms, then 150 ms
    EXPECT_LT(ElapsedUs(start), 300000u);
}

TEST_F(ResetTest, SingleChannelComPortPulsesBothLinesOn) {
    Configure("9");
    ASSERT_TRUE(comlink::OpenLink(false));
    serial.calls.clear();
    const auto start = clock.NowUs();
    ResetMC();
    EXPECT_EQ(serial.LineCalls(), (std::vector<std::string>{"DTR 1", "RTS 1", "DTR 0"}));
    EXPECT_GE(ElapsedUs(start), 130000u);
    EXPECT_LT(ElapsedUs(start), 140000u);
}

TEST_F(ResetTest, UsbAdapterMapsLineOneToRts) {
    Configure("256");
    ASSERT_TRUE(comlink::OpenLink(false));
    ft.calls.clear();
    ResetMCAndWait();
    std::vector<std::string> lines;
    for (const auto& c : ft.calls) {
        if (c.find("Rts") != std::string::npos || c.find("Dtr") != std::string::npos) {
            lines.push_back(c);
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"FT_SetRts", "FT_SetDtr", "FT_ClrRts"}));
}

} // namespace
