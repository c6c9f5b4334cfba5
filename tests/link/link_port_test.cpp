#include "foundation/numbers.h"
#include "link_fixture.h"

#include <algorithm>
#include <thread>

using namespace comlink;
using testing_support::LinkFixture;
using Calls = std::vector<std::string>;

namespace {

class LinkStartUp : public LinkFixture {};

TEST_F(LinkStartUp, PortNumberFromComRoundedHalfToEven) {
    struct Case {
        const char* com;
        std::uint16_t port;
    };
    for (auto c :
         {Case{"3", 3}, Case{"2.5", 2}, Case{"3.5", 4}, Case{"0.4", 0}, Case{"300", 300},
          Case{"abc", 1}, Case{"", 1}, Case{"-3", 1}, Case{"70000", 1}, Case{"1e300", 1}}) {
        Configure(c.com);
        EXPECT_EQ(PortNumber(), c.port) << "COM = " << c.com;
        EXPECT_TRUE(LinkDown());
        EXPECT_EQ(BaudRate(), 9600);
        EXPECT_EQ(ChannelCount(), 1);
    }
}

TEST_F(LinkStartUp, SelectsChannelOneAndWaitsOnlyWhenAPortIsSet) {
    auto t0 = clock.NowUs();
    Configure("3");
    EXPECT_EQ(serial.LineCalls(), (Calls{"RTS 1", "DTR 0"}));
    EXPECT_EQ(ElapsedUs(t0), 202000u); // 2 ms after the lines, then 200 ms
    EXPECT_EQ(Link().lineState, 2);

    serial.calls.clear();
    t0 = clock.NowUs();
    Configure("0");
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(ElapsedUs(t0), 0u);
    EXPECT_EQ(Link().lineState, kUnknownLineState);
}

TEST_F(LinkStartUp, DevicePathBehavesAsComOne) {
    Configure(" /dev/ttyUSB0 ", LogPath());
    EXPECT_EQ(PortNumber(), 1);
    EXPECT_EQ(Link().devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(PortName(), "/dev/ttyUSB0");
    EXPECT_EQ(Link().logName, LogPath());

    EXPECT_TRUE(StartLink());
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 0", "CLOSECOM", "OPENCOM /dev/ttyUSB0 9600",
                                   "LOWLATENCY", "RTS 1", "DTR 0"}));
    EXPECT_EQ(ChannelCount(), 3);
    EXPECT_EQ(LogText(), "COM1\n");
}

TEST_F(LinkStartUp, PortNamesForComAndUsb) {
    Configure("12");
    EXPECT_EQ(PortName(), "COM12");
    Configure("258");
    EXPECT_EQ(PortName(), "USB2");
}

class LinkNoPort : public LinkFixture {};

TEST_F(LinkNoPort, OpensWithoutTouchingAnyPortAndTransfersNothing) {
    Configure("0");
    EXPECT_TRUE(StartLink());
    EXPECT_FALSE(LinkDown());
    EXPECT_TRUE(serial.calls.empty());

    std::uint8_t b = 0;
    serial.calls.clear();
    EXPECT_FALSE(SendByte(0x07));
    EXPECT_FALSE(ReceiveByte(b, 0));
    EXPECT_FALSE(ReceiveByte(b, 25));
    EXPECT_FALSE(PurgeInput());
    EXPECT_FALSE(SelectChannel(2));
    LineOn(2);
    LineOff(1);
    SetBaud(19200);
    EXPECT_EQ(BaudRate(), 9600);
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_TRUE(ft.calls.empty());
}

class LinkCom : public LinkFixture {};

TEST_F(LinkCom, ChannelPortOpensWithLinesAndTheSettlingWait) {
    Configure("2");
    serial.calls.clear();
    auto t0 = clock.NowUs();
    EXPECT_TRUE(OpenLink(false));
    EXPECT_EQ(serial.calls,
              (Calls{"CLOSECOM", "OPENCOM /dev/ttyS1 9600", "LOWLATENCY", "RTS 1", "DTR 0"}));
    EXPECT_EQ(ElapsedUs(t0), 400000u);
    EXPECT_EQ(ChannelCount(), 3);
    EXPECT_FALSE(LinkDown());
    EXPECT_TRUE(LinkError().empty());
}

TEST_F(LinkCom, ComEightAndUpHasOneChannelAndNoLineSetUp) {
    Configure("8");
    serial.calls.clear();
    auto t0 = clock.NowUs();
    EXPECT_TRUE(OpenLink(false));
    EXPECT_EQ(serial.calls, (Calls{"CLOSECOM", "OPENCOM /dev/ttyS7 9600", "LOWLATENCY"}));
    EXPECT_EQ(ElapsedUs(t0), 0u);
    EXPECT_EQ(ChannelCount(), 1);

    // Every level clamps to the one channel, which start-up already selected.
    EXPECT_TRUE(SelectChannel(2));
    EXPECT_TRUE(SelectChannel(3));
    EXPECT_EQ(Link().lineState, 2);
    EXPECT_EQ(serial.calls.size(), 3u);
}

TEST_F(LinkCom, SelectChannelDrivesLinesOnFirstThenOffAndOnlyOnChange) {
    Configure("1");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();

    auto t0 = clock.NowUs();
    EXPECT_TRUE(SelectChannel(2));
    EXPECT_EQ(serial.calls, (Calls{"DTR 1", "RTS 0"}));
    EXPECT_EQ(ElapsedUs(t0), 2000u);

    serial.calls.clear();
    t0 = clock.NowUs();
    EXPECT_TRUE(SelectChannel(2)); // same level: nothing driven, no wait
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(ElapsedUs(t0), 0u);

    EXPECT_TRUE(SelectChannel(3));
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 1"}));
    serial.calls.clear();
    EXPECT_TRUE(SelectChannel(0)); // level 0 acts as level 1
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 0"}));
    serial.calls.clear();
    EXPECT_TRUE(SelectChannel(1));
    EXPECT_TRUE(SelectChannel(7)); // clamps to 3
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 1"}));
    EXPECT_EQ(Link().lineState, 3);
}

TEST_F(LinkCom, LinesByIdAndARemadeSelectionAfterwards) {
    Configure("3");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    LineOn(2);
    LineOff(2);
    LineOn(1);
    LineOff(1);
    LineOn(3);
    LineOff(0);
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "RTS 0", "DTR 1", "DTR 0"}));

    // The lines were moved by hand, so selecting channel 1 must drive them again.
    serial.calls.clear();
    EXPECT_TRUE(SelectChannel(1));
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 0"}));
}

TEST_F(LinkCom, CloseReleasesTheLinesByChannelCount) {
    Configure("3");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    CloseLink();
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 0", "CLOSECOM"}));
    EXPECT_TRUE(LinkDown());

    Configure("9");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    CloseLink();
    EXPECT_EQ(serial.calls, (Calls{"RTS 0", "DTR 0", "CLOSECOM"}));

    // A closed link touches no device.
    serial.calls.clear();
    std::uint8_t b = 0;
    EXPECT_FALSE(SendByte(1));
    EXPECT_FALSE(ReceiveByte(b, 10));
    EXPECT_FALSE(PurgeInput());
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(serial.inBufferCalls, 0);
}

TEST_F(LinkCom, SelectionIsDrivenAgainAfterAReopen) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    ASSERT_TRUE(SelectChannel(2));
    CloseLink();
    ASSERT_TRUE(OpenLink(true));
    serial.calls.clear();
    EXPECT_TRUE(SelectChannel(2));
    EXPECT_EQ(serial.calls, (Calls{"DTR 1", "RTS 0"}));
}

TEST_F(LinkCom, AnUnopenableDeviceIsAFailureWithItsReason) {
    Configure("/dev/ttyUSB0");
    serial.RefuseOpen("/dev/ttyUSB0: Permission denied");
    EXPECT_FALSE(StartLink());
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(LinkError(), "/dev/ttyUSB0: Permission denied");

    serial.calls.clear();
    std::uint8_t b = 0;
    EXPECT_FALSE(SendByte(0x41));
    EXPECT_FALSE(ReceiveByte(b, 0));
    EXPECT_FALSE(ReceiveByte(b, 25));
    EXPECT_FALSE(PurgeInput());
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(serial.inBufferCalls, 0);

    // Once the device can be opened, the window's retry brings the link up.
    serial.Reappear();
    EXPECT_TRUE(OpenLink(true));
    EXPECT_FALSE(LinkDown());
    EXPECT_TRUE(LinkError().empty());
}

TEST_F(LinkCom, SendWaitsForTheTransmitterWithoutSpinning) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    serial.ScriptOutBuffer({2, 1});
    auto t0 = clock.NowUs();
    EXPECT_TRUE(SendByte(0x5A));
    EXPECT_EQ(serial.outBufferCalls, 3);
    EXPECT_EQ(serial.calls, (Calls{"SENDBYTE 5A"}));
    EXPECT_EQ(ElapsedUs(t0), 2000u);
}

TEST_F(LinkCom, ATransmitterThatNeverDrainsFailsInsteadOfHanging) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    serial.ScriptOutBuffer(std::vector<int>(5000, 1));
    auto t0 = clock.NowUs();
    EXPECT_FALSE(SendByte(0x5A));
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_GE(ElapsedUs(t0), 1000000u);
    EXPECT_LT(ElapsedUs(t0), 1100000u);
    EXPECT_NE(LinkError().find("does not drain"), std::string::npos);
}

TEST_F(LinkCom, ReceivePollsOnceOrWaitsInTenMillisecondTicks) {
    Configure("2", LogPath());
    ASSERT_TRUE(StartLink());
    std::uint8_t b = 0;

    auto t0 = clock.NowUs();
    EXPECT_FALSE(ReceiveByte(b, 0));
    EXPECT_EQ(ElapsedUs(t0), 0u);
    EXPECT_EQ(LogText(), "COM2\n"); // a poll that finds nothing logs nothing

    t0 = clock.NowUs();
    EXPECT_FALSE(ReceiveByte(b, 25));
    EXPECT_EQ(ElapsedUs(t0), 250000u);
    EXPECT_EQ(LogText(), "COM2\n  0 rcv9600: timeout");

    serial.Arrive(0x3C, 30);
    t0 = clock.NowUs();
    EXPECT_TRUE(ReceiveByte(b, 25));
    EXPECT_EQ(b, 0x3C);
    EXPECT_EQ(ElapsedUs(t0), 30000u);

    serial.Arrive(0x99);
    EXPECT_TRUE(ReceiveByte(b, 0));
    EXPECT_EQ(b, 0x99);
}

TEST_F(LinkCom, PurgeDiscardsWaitingBytesAndLogsThem) {
    Configure("2", LogPath());
    ASSERT_TRUE(StartLink());
    for (std::uint8_t v : {0x01, 0x02, 0x03}) {
        serial.Arrive(v);
    }
    serial.Arrive(0x04, 5); // arrives after the purge
    EXPECT_TRUE(PurgeInput());
    EXPECT_EQ(LogText(), "COM2\n  0 rcv9600: 010203");
    std::uint8_t b = 0;
    EXPECT_TRUE(ReceiveByte(b, 1));
    EXPECT_EQ(b, 0x04);
}

TEST_F(LinkCom, DiscardTakesOnlyWhatHasArrivedAndNeverFailsTheLink) {
    Configure("2", LogPath());
    DiscardReceived(); // before the open: nothing to touch
    ASSERT_TRUE(StartLink());
    serial.Arrive(0x11);
    serial.Arrive(0x12);
    serial.Arrive(0x13, 5); // still on the wire
    DiscardReceived();
    EXPECT_EQ(LogText(), "COM2\n  0 rcv9600: 1112");
    std::uint8_t b = 0;
    EXPECT_TRUE(ReceiveByte(b, 1));
    EXPECT_EQ(b, 0x13);
    serial.Vanish();
    DiscardReceived(); // a vanished device is left to the next exchange to take up
    serial.Reappear();
    EXPECT_TRUE(SendByte(0x01));
}

TEST_F(LinkCom, TrafficLogLinesByteForByte) {
    Configure("2", LogPath());
    ASSERT_TRUE(StartLink());
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(SendByte(static_cast<std::uint8_t>(i)));
    }
    clock.AdvanceMs(7);
    serial.Arrive(0xA5);
    std::uint8_t b = 0;
    ASSERT_TRUE(ReceiveByte(b, 3));

    std::string sent;
    for (int i = 0; i < 39; ++i) {
        sent += foundation::ByteToHex(static_cast<std::uint8_t>(i));
    }
    std::string expected = "COM2\n  0 snd9600: " + sent + "\n27\n  7 rcv9600: A5";
    EXPECT_EQ(LogText(), expected);

    // A time-out runs into the received line; the next direction change reports the time
    // spent receiving, modulo 10000.
    EXPECT_FALSE(ReceiveByte(b, 3));
    clock.AdvanceMs(12000);
    ASSERT_TRUE(SendByte(0xFE));
    expected += "timeout\n2030 snd9600: FE";
    EXPECT_EQ(LogText(), expected);

    // 34 received entries: 33 on the header line, one on a continuation line.
    for (int i = 0; i < 34; ++i) {
        serial.Arrive(0xEE);
    }
    EXPECT_TRUE(PurgeInput());
    std::string received;
    for (int i = 0; i < 33; ++i) {
        received += "EE";
    }
    expected += "\n  0 rcv9600: " + received + "\nEE";
    EXPECT_EQ(LogText(), expected);

    // The header carries the current rate, run into the direction word.
    SetBaud(19200);
    ASSERT_TRUE(SendByte(0x10));
    expected += "\n  0 snd19200: 10";
    EXPECT_EQ(LogText(), expected);

    CloseLink();
    EXPECT_EQ(LogText(), expected);
}

TEST_F(LinkCom, AnUnwritableLogIsReportedAndTheLinkWorksWithoutIt) {
    Configure("2", dir.path() + "/missing/folder/traffic.log");
    EXPECT_TRUE(StartLink());
    EXPECT_NE(LinkError().find("traffic log"), std::string::npos);
    EXPECT_TRUE(SendByte(0x01));
}

TEST_F(LinkCom, SetBaudReopensOnlyForANewRateAndKeepsTheChannel) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    ASSERT_TRUE(SelectChannel(2));
    serial.calls.clear();
    SetBaud(9600);
    EXPECT_TRUE(serial.calls.empty());

    SetBaud(19200);
    EXPECT_EQ(BaudRate(), 19200);
    EXPECT_EQ(serial.calls,
              (Calls{"CLOSECOM", "OPENCOM /dev/ttyS1 19200", "LOWLATENCY", "DTR 1", "RTS 0"}));
}

TEST_F(LinkCom, SetBaudTakesUpADeviceThatWasLost) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    serial.Vanish();
    EXPECT_FALSE(SendByte(0x01));
    EXPECT_TRUE(LinkDown());
    serial.Reappear();
    SetBaud(19200);
    EXPECT_FALSE(LinkDown());
    EXPECT_TRUE(LinkError().empty());
    serial.calls.clear();
    EXPECT_TRUE(SendByte(0x02));
    EXPECT_EQ(serial.calls, (Calls{"SENDBYTE 02"}));
}

TEST_F(LinkCom, SetBaudOnALinkNotYetOpenOnlyStoresTheRate) {
    Configure("2");
    serial.calls.clear();
    SetBaud(4800);
    EXPECT_TRUE(serial.calls.empty());
    ASSERT_TRUE(OpenLink(false));
    EXPECT_EQ(serial.calls[1], "OPENCOM /dev/ttyS1 4800");
}

TEST_F(LinkCom, AVanishedDeviceIsTakenUpAgainOnceItIsBack) {
    Configure("/dev/ttyUSB0", LogPath());
    ASSERT_TRUE(StartLink());
    ASSERT_TRUE(SelectChannel(3));
    serial.Vanish();

    std::uint8_t b = 0;
    auto t0 = clock.NowUs();
    EXPECT_FALSE(ReceiveByte(b, 50)); // gives up at once, no time-out entry
    EXPECT_LT(ElapsedUs(t0), 1000u);
    EXPECT_FALSE(SendByte(0x11));
    EXPECT_FALSE(PurgeInput());
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(LinkError(), "/dev/ttyUSB0: No such file or directory");
    EXPECT_EQ(LogText(), "COM1\n");

    serial.Reappear();
    serial.calls.clear();
    EXPECT_TRUE(SendByte(0x11));
    EXPECT_EQ(serial.calls, (Calls{"CLOSECOM", "OPENCOM /dev/ttyUSB0 9600", "LOWLATENCY", "RTS 1",
                                   "DTR 0", "SENDBYTE 11"}));
    EXPECT_FALSE(LinkDown());
    EXPECT_TRUE(LinkError().empty());
    // The reopen selected channel 1, and the link knows it.
    serial.calls.clear();
    EXPECT_TRUE(SelectChannel(3));
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 1"}));
}

class LinkUsb : public LinkFixture {};

const Calls kUsbOpenCalls = {
    "FT_Open 0",
    "FT_SetDataCharacteristics 8 0 0",
    "FT_SetFlowControl 0 17 19",
    "FT_SetBaudRate 9600",
    "FT_SetLatencyTimer 2",
    "FT_SetBreakOff",
    "FT_Purge 2",
    "FT_SetTimeouts 500 500",
    "FT_SetDtr",
    "FT_ClrRts",
};

TEST_F(LinkUsb, OpenAppliesTheSettingsInOrder) {
    auto t0 = clock.NowUs();
    Configure("256", LogPath());
    EXPECT_EQ(ElapsedUs(t0), 200000u); // no channel lines, but the start-up wait stays
    EXPECT_TRUE(serial.calls.empty());

    EXPECT_TRUE(StartLink());
    EXPECT_EQ(ft.calls, kUsbOpenCalls);
    EXPECT_EQ(ChannelCount(), 1);
    EXPECT_FALSE(LinkDown());
    EXPECT_FALSE(Usb().usbClosed);
    EXPECT_EQ(PortName(), "USB0");
    EXPECT_EQ(LogText(), "COM256\n");
    EXPECT_FALSE(SelectChannel(1));
    EXPECT_TRUE(serial.calls.empty());
}

TEST_F(LinkUsb, NoAdapterAtTheFirstOpenFallsBackToNoPort) {
    Configure("256", LogPath());
    ft.Unplug();
    EXPECT_FALSE(StartLink());
    EXPECT_EQ(foundation::ToolsError(), "USB not connected");
    EXPECT_EQ(LinkError(), "USB not connected");
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(PortNumber(), 0);
    EXPECT_EQ(LogText(), "COM0\n");
    // The window's retry then succeeds without a port.
    EXPECT_TRUE(OpenLink(true));
    EXPECT_FALSE(LinkDown());
}

TEST_F(LinkUsb, NoAdapterOnARetryKeepsThePortNumber) {
    Configure("256");
    ft.Unplug();
    EXPECT_FALSE(OpenLink(true));
    EXPECT_EQ(PortNumber(), 256);
    EXPECT_TRUE(LinkDown());
    ft.Replug();
    EXPECT_TRUE(OpenLink(true));
    EXPECT_FALSE(LinkDown());
}

TEST_F(LinkUsb, AFailedOpenLeavesTheDriverText) {
    Configure("256");
    ft.Fail("FT_Open", FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(StartLink());
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(LinkError(), "FT_Open - Device not opened...");
    std::uint8_t b = 0;
    ft.calls.clear();
    EXPECT_FALSE(SendByte(1));
    EXPECT_FALSE(ReceiveByte(b, 5));
    EXPECT_TRUE(ft.calls.empty());
}

TEST_F(LinkUsb, AnAdapterLostDuringTheOpenFailsIt) {
    Configure("256");
    ft.Fail("FT_SetLatencyTimer", FT_IO_ERROR);
    EXPECT_FALSE(StartLink());
    EXPECT_TRUE(LinkDown());
    EXPECT_EQ(LinkError(), "FT_SetLatencyTimer  - General IO error...");
}

TEST_F(LinkUsb, ASettingTheAdapterRefusesIsReportedButTheOpenStands) {
    Configure("256");
    ft.Fail("FT_SetBaudRate", FT_INVALID_BAUD_RATE);
    EXPECT_TRUE(StartLink());
    EXPECT_EQ(Usb().lastError, "FT_SetBaudRate - Invalid baud rate...");
}

TEST_F(LinkUsb, SendDrainsThenWritesOneByte) {
    Configure("256", LogPath());
    ASSERT_TRUE(StartLink());
    ft.calls.clear();
    ft.txQueue = {3, 1};
    auto polls = ft.queuePolls;
    EXPECT_TRUE(SendByte(0xC3));
    EXPECT_EQ(ft.queuePolls - polls, 3);
    EXPECT_EQ(ft.calls, (Calls{"FT_Write 1"}));
    EXPECT_EQ(ft.written, (std::vector<std::uint8_t>{0xC3}));
    EXPECT_EQ(LogText(), "COM256\n  0 snd9600: C3");
}

TEST_F(LinkUsb, AWriteTheAdapterRefusesIsNotReportedAsSent) {
    Configure("256", LogPath());
    ASSERT_TRUE(StartLink());
    ft.Fail("FT_Write", FT_FAILED_TO_WRITE_DEVICE);
    EXPECT_FALSE(SendByte(0xC3));
    EXPECT_EQ(LogText(), "COM256\n");
    EXPECT_EQ(Usb().lastError, "FT_Write - Failed to write...");
}

TEST_F(LinkUsb, ReceiveFromTheQueue) {
    Configure("256", LogPath());
    ASSERT_TRUE(StartLink());
    std::uint8_t b = 0;
    EXPECT_FALSE(ReceiveByte(b, 0));
    ft.rx = {0x55, 0x66};
    EXPECT_TRUE(ReceiveByte(b, 0));
    EXPECT_EQ(b, 0x55);
    EXPECT_TRUE(ReceiveByte(b, 25));
    EXPECT_EQ(b, 0x66);
    auto t0 = clock.NowUs();
    EXPECT_FALSE(ReceiveByte(b, 25));
    EXPECT_EQ(ElapsedUs(t0), 250000u);
    EXPECT_EQ(LogText(), "COM256\n  0 rcv9600: 5566timeout");
}

TEST_F(LinkUsb, LineIdsMapToDtrAndRts) {
    Configure("256");
    ASSERT_TRUE(StartLink());
    ft.calls.clear();
    LineOn(2);
    LineOn(1);
    LineOff(2);
    LineOff(1);
    LineOn(5);
    EXPECT_EQ(ft.calls, (Calls{"FT_SetDtr", "FT_SetRts", "FT_ClrDtr", "FT_ClrRts"}));
}

TEST_F(LinkUsb, SetBaudChangesTheRateWithoutReopening) {
    Configure("256");
    ASSERT_TRUE(StartLink());
    ft.calls.clear();
    SetBaud(9600);
    EXPECT_TRUE(ft.calls.empty());
    SetBaud(19200);
    EXPECT_EQ(ft.calls, (Calls{"FT_SetBaudRate 19200"}));
    EXPECT_EQ(ft.baud, 19200u);
}

TEST_F(LinkUsb, UnplugFailReplugReopensWithTheSameSettings) {
    Configure("256");
    ASSERT_TRUE(StartLink());
    SetBaud(19200);
    ft.Unplug();
    EXPECT_FALSE(SendByte(0x01));
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_EQ(PortNumber(), 256); // the number is kept for the reopen
    std::uint8_t b = 0;
    EXPECT_FALSE(ReceiveByte(b, 10));

    ft.Replug();
    ft.calls.clear();
    EXPECT_TRUE(SendByte(0x02));
    Calls expected = {"FT_Close"};
    for (auto c : kUsbOpenCalls) {
        expected.push_back(c == "FT_SetBaudRate 9600" ? "FT_SetBaudRate 19200" : c);
    }
    expected.push_back("FT_Write 1");
    EXPECT_EQ(ft.calls, expected);
    EXPECT_FALSE(LinkDown());
    EXPECT_EQ(ft.written, (std::vector<std::uint8_t>{0x02}));
}

TEST_F(LinkUsb, UnplugAndReplugBetweenTwoOperations) {
    Configure("256");
    ASSERT_TRUE(StartLink());
    ASSERT_TRUE(SendByte(0x01));
    ft.Unplug();
    ft.Replug();
    // The old handle is dead although an adapter is attached again; the first operation
    // still gets through.
    EXPECT_TRUE(SendByte(0x02));
    EXPECT_EQ(ft.written, (std::vector<std::uint8_t>{0x01, 0x02}));

    ft.Unplug();
    ft.Replug();
    ft.rx = {0x7E};
    std::uint8_t b = 0;
    EXPECT_TRUE(ReceiveByte(b, 0));
    EXPECT_EQ(b, 0x7E);
    EXPECT_FALSE(LinkDown());
}

TEST_F(LinkUsb, CloseClearsTheLinesAndTheHandle) {
    Configure("256");
    ASSERT_TRUE(StartLink());
    ft.calls.clear();
    CloseLink();
    EXPECT_EQ(ft.calls, (Calls{"FT_ClrRts", "FT_ClrDtr", "FT_Close"}));
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_TRUE(LinkDown());
    EXPECT_FALSE(ft.HandleIsLive());

    ft.calls.clear();
    EXPECT_FALSE(SendByte(1));
    LineOn(2);
    SetBaud(1200);
    EXPECT_TRUE(ft.calls.empty());
}

} // namespace

namespace {

TEST_F(LinkCom, LowLatencyIsAskedAtEveryOpenAndARefusalIsHarmless) {
    for (bool refuse : {false, true}) {
        Configure("/dev/ttyUSB0");
        if (refuse) {
            serial.RefuseLowLatency();
        }
        ASSERT_TRUE(StartLink());
        EXPECT_EQ(serial.LowLatency(), !refuse);
        SetBaud(19200); // the reopen of a rate change asks again
        EXPECT_EQ(std::count(serial.calls.begin(), serial.calls.end(), "LOWLATENCY"), 2);
        EXPECT_EQ(serial.LowLatency(), !refuse);
        EXPECT_FALSE(LinkDown());
        EXPECT_TRUE(LinkError().empty());
        serial.Arrive(0x42);
        std::uint8_t b = 0;
        EXPECT_TRUE(ReceiveByte(b, 1));
        EXPECT_TRUE(SendByte(0x43));
        CloseLink();
        serial.calls.clear();
    }
}

// libftdi keeps what the adapter delivered in a read-ahead; only an empty one is worth a USB
// transfer, and libftdi has no transmit count to wait for.
class LinkLibFtdi : public LinkFixture {
protected:
    void SetUp() override {
        ft.BehaveAsLibFtdi();
        Configure("256", LogPath());
        ASSERT_TRUE(StartLink());
    }
};

TEST_F(LinkLibFtdi, SendWritesAtOnceWithoutAStatusQuery) {
    const int polls = ft.queuePolls;
    ASSERT_TRUE(SendByte(0xC3));
    ASSERT_TRUE(SendByte(0xC4));
    EXPECT_EQ(ft.queuePolls, polls);
    EXPECT_EQ(ft.usbTransfers, 0);
    EXPECT_EQ(ft.written, (std::vector<std::uint8_t>{0xC3, 0xC4}));
}

TEST_F(LinkLibFtdi, BytesInTheReadAheadCostNoTransfer) {
    ft.rx = {0x01, 0x02, 0x03};
    std::uint8_t b = 0;
    std::vector<std::uint8_t> got;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ReceiveByte(b, i == 0 ? 0 : 25));
        got.push_back(b);
    }
    EXPECT_EQ(got, (std::vector<std::uint8_t>{0x01, 0x02, 0x03}));
    EXPECT_EQ(ft.usbTransfers, 1);
}

TEST_F(LinkLibFtdi, DiscardDropsTheReadAheadWithoutAnyUsbTransfer) {
    ft.rx = {0x11, 0x12, 0x13};
    std::uint8_t b = 0;
    ASSERT_TRUE(ReceiveByte(b, 0)); // one transfer: the read-ahead now holds 12 13
    ft.rx = {0x14};                 // at the adapter, not fetched yet
    const int transfers = ft.usbTransfers;
    const int polls = ft.queuePolls;
    DiscardReceived();
    EXPECT_EQ(ft.usbTransfers, transfers);
    EXPECT_EQ(ft.queuePolls, polls);
    EXPECT_TRUE(ft.readAhead.empty());
    EXPECT_EQ(ft.rx, std::deque<std::uint8_t>{0x14});
    EXPECT_EQ(LogText(), "COM256\n  0 rcv9600: 111213");
    ASSERT_TRUE(ReceiveByte(b, 1));
    EXPECT_EQ(b, 0x14);
}

TEST_F(LinkUsb, ComAbove256PicksTheAdapterByItsIndex) {
    ft.adapters = 2;
    Configure("257");
    ASSERT_TRUE(StartLink()) << LinkError();
    EXPECT_EQ(ft.calls.front(), "FT_Open 1");
    EXPECT_EQ(PortName(), "USB1");
    CloseLink();

    // With one adapter there is no second one to take: the first open goes on without a port
    // rather than talking to another board.
    ft.adapters = 1;
    Configure("257");
    EXPECT_FALSE(StartLink());
    EXPECT_EQ(LinkError(), "USB1 not connected (1 FTDI adapter attached)");
    EXPECT_EQ(foundation::ToolsError(), "USB not connected");
    EXPECT_EQ(PortNumber(), 0);
}

} // namespace

namespace {

// A stop made before the test ends is never left behind for the next one.
class LinkStop : public LinkFixture {
protected:
    ~LinkStop() override { ClearLinkStop(); }
};

TEST_F(LinkStop, EveryOperationFailsAtOnceAndNothingReachesThePortUntilCleared) {
    Configure("2", LogPath());
    ASSERT_TRUE(StartLink());
    serial.calls.clear();
    RequestLinkStop();
    EXPECT_TRUE(LinkStopRequested());
    const auto t0 = clock.NowUs();
    std::uint8_t b = 0;
    serial.Arrive(0x42);
    EXPECT_FALSE(SendByte(0x07));
    EXPECT_FALSE(ReceiveByte(b, 25));
    EXPECT_FALSE(ReceiveByte(b, 0));
    EXPECT_FALSE(PurgeInput());
    EXPECT_FALSE(SelectChannel(3));
    EXPECT_FALSE(OpenLink(true));
    // No wait, no byte, no time-out entry, and the stop is no fault of the port.
    EXPECT_EQ(ElapsedUs(t0), 0u);
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(LogText(), "COM2\n");
    EXPECT_TRUE(LinkError().empty());
    // The port still closes.
    CloseLink();
    EXPECT_EQ(serial.calls, (Calls{"RTS 1", "DTR 0", "CLOSECOM"}));

    ClearLinkStop();
    EXPECT_TRUE(OpenLink(true));
    EXPECT_TRUE(ReceiveByte(b, 25));
    EXPECT_EQ(b, 0x42);
}

TEST_F(LinkStop, AStuckTransmitterIsLeftAtOnceWithoutBlamingThePort) {
    Configure("2");
    ASSERT_TRUE(StartLink());
    serial.ScriptOutBuffer(std::vector<int>(5000, 1));
    // The stop arrives while the send waits for the transmitter to drain.
    int looks = 0;
    serial.onOutBuffer = [&] {
        if (++looks == 3) {
            RequestLinkStop();
        }
    };
    const auto t0 = clock.NowUs();
    EXPECT_FALSE(SendByte(0x5A));
    EXPECT_LT(ElapsedUs(t0), 10000u);
    EXPECT_TRUE(LinkError().empty());
}

TEST_F(LinkStop, OnlyTheThreadThatClaimedTheLinkMayCallIt) {
    Configure("2");
    std::thread([] { ClaimLink(); }).join();
    // Debug builds stop at the first call from another thread; others just go on.
    EXPECT_DEBUG_DEATH(PortNumber(), "does not own");
    ReleaseLink();
    EXPECT_EQ(PortNumber(), 2);
    ClaimLink();
    EXPECT_EQ(PortNumber(), 2);
    ReleaseLink();
}

} // namespace
