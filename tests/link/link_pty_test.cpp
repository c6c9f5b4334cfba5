// The link port over the POSIX device layer and real pseudo-terminals. Time is real, so the
// receive loop blocks on the device as it does in the programs; only the fixed pauses
// (400 ms settling, 2 ms line switching) are skipped so that no test sleeps.
#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/d2xx.h"
#include "link/link_port.h"
#include "link/posix_serial.h"
#include "pty_pair.h"
#include "temp_dir.h"

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <termios.h>
#include <thread>

using namespace comlink;
using testing_support::PtyPair;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Real ticks, but a pause moves the tick on instead of sleeping.
class SkippedPauseClock final : public foundation::TickSource {
public:
    std::uint32_t TickMs() override { return steady_.TickMs() + skippedMs_; }
    std::int64_t CounterNow() override {
        return steady_.CounterNow() + std::int64_t{skippedMs_} * 1000000;
    }
    std::int64_t CounterFrequency() override { return steady_.CounterFrequency(); }
    void SleepMs(std::uint32_t ms) override { skippedMs_ += ms; }

private:
    foundation::SteadyTickSource steady_;
    std::uint32_t skippedMs_ = 0;
};

class LinkOverPty : public ::testing::Test {
protected:
    LinkOverPty() {
        ResetLink();
        ResetUsb();
        pty = std::make_unique<PtyPair>();
        testing_support::PointLink(linkPath, pty->slavePath());
        EXPECT_TRUE(foundation::ReadParamFile(dir.Write("param.ini", "[COM]\n" + linkPath + "\n")));
        InitLink();
    }
    ~LinkOverPty() override {
        CloseLink();
        ResetLink();
    }

    testing_support::ParamGuard params;
    testing_support::TempDir dir;
    std::string linkPath = dir.path() + "/mc-link";
    SkippedPauseClock clock;
    foundation::ScopedTickSource useClock{clock};
    std::unique_ptr<PtyPair> pty;
};

TEST_F(LinkOverPty, BytesBothWaysAndTheRateOnTheFarSide) {
    ASSERT_TRUE(StartLink()) << LinkError();
    EXPECT_EQ(ChannelCount(), 3);
    EXPECT_TRUE(SelectChannel(2)); // no modem lines on a pseudo-terminal: ignored

    ASSERT_TRUE(SendByte(0x07));
    EXPECT_EQ(pty->Read(1), Bytes{0x07});
    pty->Write({0xA1});
    std::uint8_t b = 0;
    ASSERT_TRUE(ReceiveByte(b, 100));
    EXPECT_EQ(b, 0xA1);
    EXPECT_FALSE(ReceiveByte(b, 0));

    termios t{};
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    SetBaud(19200);
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    ASSERT_TRUE(SendByte(0x08));
    EXPECT_EQ(pty->Read(1), Bytes{0x08});
}

TEST_F(LinkOverPty, AReceiveTimeOutWaitsOnTheDevice) {
    ASSERT_TRUE(StartLink()) << LinkError();
    std::uint8_t b = 0;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReceiveByte(b, 2));
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(19));
    EXPECT_LT(waited, std::chrono::milliseconds(500));
}

TEST_F(LinkOverPty, AStopFromAnotherThreadEndsAReceiveWaitAtOnce) {
    ASSERT_TRUE(StartLink()) << LinkError();
    // The far end sees the request, then another thread asks the link to stop while the
    // receive waits (or is about to) for a reply that never comes, for up to 655 s.
    std::thread stopper([this] {
        pty->Read(1, 60000);
        RequestLinkStop();
    });
    ASSERT_TRUE(SendByte(0x07));
    std::uint8_t b = 0;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReceiveByte(b, 65535));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_FALSE(SendByte(0x07));
    ClearLinkStop();
    ASSERT_TRUE(SendByte(0x08));
    EXPECT_EQ(pty->Read(1), Bytes{0x08});
}

// The POSIX layer with a count of the calls the link makes into it.
class CountingSerial final : public SerialLibrary {
public:
    int OPENCOM(const SerialSettings& settings) override { return posix.OPENCOM(settings); }
    void CLOSECOM() override { posix.CLOSECOM(); }
    int SENDBYTE(std::uint8_t b) override { return posix.SENDBYTE(b); }
    int READBYTE() override {
        ++reads;
        return posix.READBYTE();
    }
    int INBUFFER() override {
        ++looks;
        return posix.INBUFFER();
    }
    int OUTBUFFER() override { return posix.OUTBUFFER(); }
    void RTS(int on) override { posix.RTS(on); }
    void DTR(int on) override { posix.DTR(on); }
    bool IsOpen() const override { return posix.IsOpen(); }
    std::string LastError() const override { return posix.LastError(); }
    bool WaitReadable(std::uint32_t timeoutMs) override {
        ++waits;
        if (beforeWait) {
            beforeWait();
        }
        return posix.WaitReadable(timeoutMs);
    }
    bool RequestLowLatency() override { return posix.RequestLowLatency(); }

    PosixSerialLibrary posix;
    // Called as a wait begins, so that a test can send a byte into it without sleeping.
    std::function<void()> beforeWait;
    int reads = 0;
    int looks = 0;
    int waits = 0;
};

TEST_F(LinkOverPty, AWaitedByteIsTakenByOneWaitAndOneRead) {
    // At 115200 baud a read exchange lasts 174 us; looking again after the wait has said a
    // byte is there would only add calls into the kernel.
    CountingSerial serial;
    ScopedSerialLibrary use(serial);
    ASSERT_TRUE(StartLink()) << LinkError();
    // The far side sends once the link has begun to wait: no byte is there before.
    std::promise<void> waiting;
    std::future<void> waitBegan = waiting.get_future();
    bool told = false;
    serial.beforeWait = [&] {
        if (!told) {
            told = true;
            waiting.set_value();
        }
    };
    std::thread farSide([&] {
        waitBegan.wait_for(std::chrono::seconds(5)); // bounded, should the link never wait
        pty->Write({0x5A});
    });
    std::uint8_t b = 0;
    EXPECT_TRUE(ReceiveByte(b, 100));
    farSide.join();
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(serial.waits, 1);
    EXPECT_EQ(serial.reads, 1);
    EXPECT_EQ(serial.looks, 0);

    // A byte already there ends the wait at once.
    pty->Write({0x5B});
    ASSERT_TRUE(serial.posix.WaitReadable(1000)); // not counted: the link's own wait follows
    serial.waits = serial.reads = 0;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReceiveByte(b, 100));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
    EXPECT_EQ(b, 0x5B);
    EXPECT_EQ(serial.waits, 1);
    EXPECT_EQ(serial.reads, 1);
}

TEST_F(LinkOverPty, PurgeEmptiesWhatTheFarSideSent) {
    ASSERT_TRUE(StartLink()) << LinkError();
    pty->Write({1, 2, 3, 4});
    std::uint8_t b = 0;
    ASSERT_TRUE(ReceiveByte(b, 100)); // the bytes have arrived
    EXPECT_EQ(b, 1);
    for (int i = 0; i < 100 && !PurgeInput(); ++i) {
    }
    EXPECT_FALSE(ReceiveByte(b, 0));
}

TEST_F(LinkOverPty, RecoversWhenTheFarSideComesBackAtTheSamePath) {
    ASSERT_TRUE(StartLink()) << LinkError();
    ASSERT_TRUE(SendByte(0x01));
    ASSERT_EQ(pty->Read(1), Bytes{0x01});

    pty->Close();
    std::uint8_t b = 0;
    EXPECT_FALSE(SendByte(0x02));
    EXPECT_FALSE(ReceiveByte(b, 50));
    EXPECT_FALSE(PurgeInput());
    EXPECT_TRUE(LinkDown());
    EXPECT_FALSE(LinkError().empty());

    // A new pseudo-terminal appears under the same link path, as a restarted simulator's would.
    auto second = std::make_unique<PtyPair>();
    testing_support::PointLink(linkPath, second->slavePath());
    ASSERT_TRUE(SendByte(0x03)) << LinkError();
    EXPECT_FALSE(LinkDown());
    EXPECT_EQ(second->Read(1), Bytes{0x03});
    second->Write({0x04});
    ASSERT_TRUE(ReceiveByte(b, 100));
    EXPECT_EQ(b, 0x04);
    pty = std::move(second);
}

TEST_F(LinkOverPty, ASecondProgramOnThePortIsRefusedAndTheFirstGoesOn) {
    ASSERT_TRUE(StartLink()) << LinkError();
    auto refused = [&] {
        // Another program, by the configured link and by the terminal's own name.
        for (const std::string& path : {linkPath, pty->slavePath()}) {
            PosixSerialLibrary other;
            EXPECT_LT(other.OPENCOM({path, 19200}), 0) << path;
            EXPECT_EQ(other.LastError(), path + " is in use by another program");
        }
    };
    refused();
    termios t{};
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600); // the refused open changed nothing

    // A rate change closes and reopens the port; it stays the link's.
    SetBaud(19200);
    EXPECT_FALSE(LinkDown()) << LinkError();
    refused();
    ASSERT_TRUE(SendByte(0x31));
    EXPECT_EQ(pty->Read(1), Bytes{0x31});
    pty->Write({0x32});
    std::uint8_t b = 0;
    ASSERT_TRUE(ReceiveByte(b, 100));
    EXPECT_EQ(b, 0x32);

    CloseLink();
    PosixSerialLibrary next;
    EXPECT_EQ(next.OPENCOM({linkPath, 9600}), 0) << next.LastError();
}

TEST_F(LinkOverPty, AMissingDeviceIsAFailureNotASuccess) {
    testing_support::PointLink(linkPath, dir.path() + "/nothing-here");
    EXPECT_FALSE(StartLink());
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(LinkError(), linkPath + ": No such file or directory");
    EXPECT_FALSE(SendByte(0x01));
}

} // namespace
