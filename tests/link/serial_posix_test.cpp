#include "link/posix_serial.h"
#include "pty_pair.h"
#include "temp_dir.h"

#include <cerrno>
#include <grp.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

using namespace comlink;
using testing_support::PtyPair;
using testing_support::TempDir;
using Bytes = std::vector<std::uint8_t>;

namespace {

class PosixSerial : public ::testing::Test {
protected:
    SerialSettings Mode(std::uint32_t baud) const { return {pty.slavePath(), baud}; }

    PtyPair pty;
    PosixSerialLibrary port;
};

TEST_F(PosixSerial, RawBytesBothWays) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0) << port.LastError();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.INBUFFER(), 0);
    EXPECT_LT(port.READBYTE(), 0);

    // Every byte value passes untouched: no echo, no line editing, no CR/LF or XON/XOFF
    // handling, no signal characters.
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    pty.Write(all);
    ASSERT_TRUE(port.WaitReadable(2000));
    Bytes got;
    for (int tries = 0; got.size() < all.size() && tries < 1000; ++tries) {
        if (port.INBUFFER() == 0) {
            port.WaitReadable(100);
            continue;
        }
        int b = port.READBYTE();
        ASSERT_GE(b, 0);
        got.push_back(static_cast<std::uint8_t>(b));
    }
    EXPECT_EQ(got, all);

    for (std::uint8_t b : all) {
        ASSERT_EQ(port.SENDBYTE(b), 0);
    }
    EXPECT_EQ(pty.Read(all.size()), all);
    EXPECT_EQ(port.OUTBUFFER(), 0);
}

TEST_F(PosixSerial, InBufferCountsWaitingBytes) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    pty.Write({1, 2, 3});
    ASSERT_TRUE(port.WaitReadable(2000));
    for (int tries = 0; port.INBUFFER() < 3 && tries < 100; ++tries) {
        port.WaitReadable(10);
    }
    EXPECT_EQ(port.INBUFFER(), 3);
    EXPECT_EQ(port.READBYTE(), 1);
    EXPECT_EQ(port.INBUFFER(), 2);
}

TEST_F(PosixSerial, TheRateTheLinkSetShowsOnTheOtherSide) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

    ASSERT_EQ(port.OPENCOM(Mode(19200)), 0);
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_EQ(DeviceBaud(pty.master()), 19200u);

    // A rate outside the standard table goes through the arbitrary-rate interface.
    ASSERT_EQ(port.OPENCOM(Mode(62500)), 0) << port.LastError();
    EXPECT_EQ(DeviceBaud(pty.master()), 62500u);
}

TEST_F(PosixSerial, ModemLinesAndLowLatencyAreIgnoredWhereThereAreNone) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    port.RTS(1);
    port.DTR(0);
    port.RTS(0);
    port.DTR(1);
    EXPECT_FALSE(port.RequestLowLatency()); // a pseudo-terminal has no such setting
    EXPECT_TRUE(port.IsOpen());
    ASSERT_EQ(port.SENDBYTE(0x42), 0);
    EXPECT_EQ(pty.Read(1), Bytes{0x42});
}

TEST_F(PosixSerial, AHangUpDropsThePortWithAReason) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    pty.Close();
    EXPECT_EQ(port.INBUFFER(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.LastError().find("device lost"), std::string::npos) << port.LastError();
    EXPECT_LT(port.READBYTE(), 0);
    EXPECT_LT(port.SENDBYTE(1), 0);
    EXPECT_FALSE(port.WaitReadable(10));
    port.CLOSECOM(); // harmless when already closed
}

TEST_F(PosixSerial, AWriteToAHungUpDeviceDropsThePort) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    pty.Close();
    EXPECT_LT(port.SENDBYTE(1), 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PosixSerial, WaitReadableWakesForDataAndTimesOutWithout) {
    ASSERT_EQ(port.OPENCOM(Mode(9600)), 0);
    EXPECT_FALSE(port.WaitReadable(0));
    pty.Write({9});
    EXPECT_TRUE(port.WaitReadable(2000));
    EXPECT_EQ(port.READBYTE(), 9);
}

TEST(PosixSerialOpen, FailuresSayWhy) {
    PosixSerialLibrary port;
    TempDir dir;
    EXPECT_LT(port.OPENCOM({dir.path() + "/ttyUSB9", 9600}), 0);
    EXPECT_EQ(port.LastError(), dir.path() + "/ttyUSB9: No such file or directory");
    EXPECT_FALSE(port.IsOpen());

    std::string file = dir.Write("plain", "not a device");
    EXPECT_LT(port.OPENCOM({file, 9600}), 0);
    EXPECT_EQ(port.LastError(), file + ": not a serial device");

    EXPECT_LT(port.OPENCOM({file, 0}), 0);
    EXPECT_EQ(port.LastError(), file + ": no line speed given");

    // Closing without an open port and line calls on it change nothing.
    port.CLOSECOM();
    port.RTS(1);
    EXPECT_EQ(port.INBUFFER(), 0);
    EXPECT_EQ(port.OUTBUFFER(), 0);
    EXPECT_LT(port.SENDBYTE(1), 0);
}

TEST(PosixSerialOpen, PermissionProblemsOnDialoutDevicesGetAHint) {
    TempDir dir;
    std::string device = dir.Write("ttyUSB0", "");
    EXPECT_EQ(OpenFailureText(device, EACCES), device + ": Permission denied");
    EXPECT_EQ(OpenFailureText(device, ENOENT), device + ": No such file or directory");

    const group* dialout = getgrnam("dialout");
    if (dialout == nullptr || chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) != 0) {
        GTEST_SKIP() << "cannot give a file to the dialout group here";
    }
    std::string text = OpenFailureText(device, EACCES);
    gid_t groups[256];
    int n = getgroups(256, groups);
    bool member = getegid() == dialout->gr_gid;
    for (int i = 0; i < n; ++i) {
        member = member || groups[i] == dialout->gr_gid;
    }
    if (member) {
        EXPECT_EQ(text, device + ": Permission denied");
    } else {
        EXPECT_EQ(text.rfind(device + ": Permission denied (", 0), 0u) << text;
        EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    }
}

} // namespace
