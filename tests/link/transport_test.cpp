// The two transports behind the link port, driven through the same interface with their
// scripted libraries under a fake clock: what holds for one must hold for the other.
#include "fake_ftdi.h"
#include "fake_serial.h"
#include "link/d2xx.h"
#include "link/serial_library.h"
#include "link/transport.h"

#include <gtest/gtest.h>
#include <memory>

using namespace comlink;
using testing_support::FakeFtLibrary;
using testing_support::FakeSerialLibrary;
using Bytes = std::vector<std::uint8_t>;

namespace {

// One transport with its scripted device, seen the same way for both.
class Rig {
public:
    virtual ~Rig() = default;
    virtual const char* Name() const = 0;
    virtual void Arrive(std::uint8_t b, std::uint32_t delayMs) = 0;
    virtual Bytes Sent() const = 0;
    // The modem line calls since the last Forget, as "RTS 1" / "DTR 0".
    virtual std::vector<std::string> Lines() const = 0;
    virtual std::uint32_t DeviceRate() const = 0;
    virtual void Vanish() = 0;
    virtual void Reappear() = 0;
    virtual void Forget() = 0;

    foundation::FakeClock clock{1000};
    foundation::ScopedTickSource useClock{clock};
    std::unique_ptr<Transport> transport;
};

class SerialRig final : public Rig {
public:
    SerialRig() { transport = MakeSerialTransport("/dev/ttyUSB3"); }
    const char* Name() const override { return "serial"; }
    void Arrive(std::uint8_t b, std::uint32_t delayMs) override { serial.Arrive(b, delayMs); }
    Bytes Sent() const override {
        Bytes bytes;
        for (const auto& c : serial.calls) {
            if (c.rfind("SENDBYTE ", 0) == 0) {
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(c.substr(9), nullptr, 16)));
            }
        }
        return bytes;
    }
    std::vector<std::string> Lines() const override { return serial.LineCalls(); }
    std::uint32_t DeviceRate() const override {
        for (auto it = serial.calls.rbegin(); it != serial.calls.rend(); ++it) {
            if (it->rfind("OPENCOM /dev/ttyUSB3 ", 0) == 0) {
                return static_cast<std::uint32_t>(std::stoul(it->substr(21)));
            }
        }
        return 0;
    }
    void Vanish() override { serial.Vanish(); }
    void Reappear() override { serial.Reappear(); }
    void Forget() override { serial.calls.clear(); }

    FakeSerialLibrary serial{clock};
    ScopedSerialLibrary use{serial};
};

class UsbRig final : public Rig {
public:
    UsbRig() {
        ResetUsb();
        ft.BehaveAsLibFtdi();
        transport = MakeUsbTransport(0);
    }
    ~UsbRig() override { ResetUsb(); }
    const char* Name() const override { return "usb"; }
    void Arrive(std::uint8_t b, std::uint32_t delayMs) override {
        ft.ArriveLater(clock, b, delayMs);
    }
    Bytes Sent() const override { return ft.written; }
    std::vector<std::string> Lines() const override {
        std::vector<std::string> lines;
        for (const auto& c : ft.calls) {
            if (c == "FT_SetRts" || c == "FT_ClrRts" || c == "FT_SetDtr" || c == "FT_ClrDtr") {
                lines.push_back(c.substr(6, 3) == "Rts" ? "RTS " : "DTR ");
                lines.back() += c[3] == 'S' ? "1" : "0";
            }
        }
        return lines;
    }
    std::uint32_t DeviceRate() const override { return ft.baud; }
    void Vanish() override { ft.Unplug(); }
    void Reappear() override { ft.Replug(); }
    void Forget() override { ft.calls.clear(); }

    FakeFtLibrary ft;
    ScopedFtLibrary use{ft};
};

class TransportTest : public ::testing::TestWithParam<const char*> {
protected:
    TransportTest() {
        if (std::string(GetParam()) == "serial") {
            rig = std::make_unique<SerialRig>();
        } else {
            rig = std::make_unique<UsbRig>();
        }
    }
    Transport& T() { return *rig->transport; }
    std::uint64_t Elapsed(std::uint64_t sinceUs) const { return rig->clock.NowUs() - sinceUs; }

    std::unique_ptr<Rig> rig;
};

TEST_P(TransportTest, BytesBothWaysWithinTheDeadline) {
    ASSERT_EQ(T().Open(9600), OpenResult::Open) << T().Failure();
    EXPECT_TRUE(T().IsOpen());
    EXPECT_EQ(rig->DeviceRate(), 9600u);
    EXPECT_EQ(T().Send(0x41), SendResult::Sent);
    EXPECT_EQ(T().Send(0x42), SendResult::Sent);
    EXPECT_EQ(rig->Sent(), (Bytes{0x41, 0x42}));

    auto t0 = rig->clock.NowUs();
    EXPECT_EQ(T().Receive(Deadline(0)), -1); // a zero deadline looks once
    EXPECT_EQ(Elapsed(t0), 0u);
    EXPECT_EQ(T().Receive(Deadline(250)), -1);
    EXPECT_EQ(Elapsed(t0), 250000u);

    rig->Arrive(0x5A, 30);
    rig->Arrive(0xA5, 30);
    t0 = rig->clock.NowUs();
    EXPECT_EQ(T().Receive(Deadline(250)), 0x5A);
    EXPECT_EQ(Elapsed(t0), 30000u);
    EXPECT_EQ(T().Receive(Deadline(0)), 0xA5);

    T().Close();
    EXPECT_FALSE(T().IsOpen());
}

TEST_P(TransportTest, LineIdsNameEachTransportsOwnModemLines) {
    ASSERT_EQ(T().Open(9600), OpenResult::Open);
    rig->Forget();
    for (int id : {2, 1}) {
        T().SetModemLine(T().LineOfId(id), true);
        T().SetModemLine(T().LineOfId(id), false);
    }
    const bool serial = std::string(rig->Name()) == "serial";
    // On a serial port line 2 is RTS; on the FTDI adapter it is DTR.
    EXPECT_EQ(rig->Lines(), serial
                                ? (std::vector<std::string>{"RTS 1", "RTS 0", "DTR 1", "DTR 0"})
                                : (std::vector<std::string>{"DTR 1", "DTR 0", "RTS 1", "RTS 0"}));
}

TEST_P(TransportTest, ANewRateReachesTheDeviceAndTheBytesStillFlow) {
    ASSERT_EQ(T().Open(9600), OpenResult::Open);
    EXPECT_TRUE(T().SetRate(19200));
    EXPECT_EQ(rig->DeviceRate(), 19200u);
    EXPECT_TRUE(T().IsOpen());
    rig->Arrive(0x11, 0);
    EXPECT_EQ(T().Receive(Deadline(10)), 0x11);
    EXPECT_EQ(T().Send(0x12), SendResult::Sent);
}

TEST_P(TransportTest, DiscardDropsOnlyWhatHasArrived) {
    ASSERT_EQ(T().Open(9600), OpenResult::Open);
    rig->Arrive(0x01, 0);
    rig->Arrive(0x02, 0);
    ASSERT_EQ(T().Receive(Deadline(0)), 0x01); // the adapter's bytes are now in hand
    rig->Arrive(0x03, 5);                      // still on the wire
    Bytes dropped;
    T().Discard([&](std::uint8_t b) { dropped.push_back(b); });
    EXPECT_EQ(dropped, Bytes{0x02});
    auto t0 = rig->clock.NowUs();
    EXPECT_EQ(T().Receive(Deadline(10)), 0x03);
    EXPECT_EQ(Elapsed(t0), 5000u);
}

TEST_P(TransportTest, AVanishedDeviceEndsTheWaitAtOnceAndOpensAgainOnceBack) {
    ASSERT_EQ(T().Open(9600), OpenResult::Open);
    rig->Vanish();
    auto t0 = rig->clock.NowUs();
    EXPECT_EQ(T().Receive(Deadline(500)), -1);
    EXPECT_LT(Elapsed(t0), 2000u);
    EXPECT_FALSE(T().IsOpen());
    EXPECT_NE(T().Open(9600), OpenResult::Open);
    EXPECT_FALSE(T().Failure().empty());

    rig->Reappear();
    ASSERT_EQ(T().Open(9600), OpenResult::Open) << T().Failure();
    EXPECT_EQ(T().Send(0x77), SendResult::Sent);
}

INSTANTIATE_TEST_SUITE_P(BothTransports, TransportTest, ::testing::Values("serial", "usb"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
