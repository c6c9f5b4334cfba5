// The serial-port library over POSIX termios: real serial devices (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*) and pseudo-terminals, raw 8N1 without flow control. A device is held with an
// exclusive flock while open, so that a second program on the same port is refused at once
// instead of both taking each other's reply bytes.
#pragma once

#include "link/serial_library.h"

#include <cstdint>
#include <string>

namespace comlink {

class PosixSerialLibrary final : public SerialLibrary {
public:
    PosixSerialLibrary() = default;
    ~PosixSerialLibrary() override;
    PosixSerialLibrary(const PosixSerialLibrary&) = delete;
    PosixSerialLibrary& operator=(const PosixSerialLibrary&) = delete;

    int OPENCOM(const SerialSettings& settings) override;
    void CLOSECOM() override;
    int SENDBYTE(std::uint8_t b) override;
    int READBYTE() override;
    int INBUFFER() override;
    int OUTBUFFER() override;
    void RTS(int on) override;
    void DTR(int on) override;

    bool IsOpen() const override { return fd_ >= 0; }
    std::string LastError() const override { return lastError_; }
    bool WaitReadable(std::uint32_t timeoutMs) override;
    // ASYNC_LOW_LATENCY through TIOCSSERIAL, where the driver offers it.
    bool RequestLowLatency() override;

    // The open device's file descriptor, -1 when closed.
    int Descriptor() const { return fd_; }

private:
    void Drop(const char* what, int error);
    bool HungUp() const;
    void SetModemLine(int line, int on);

    int fd_ = -1;
    std::string device_;
    std::string lastError_;
};

// The text shown when opening device failed with errno error; a permission problem on a
// device of the dialout group that this process is not in gets a hint how to fix it.
std::string OpenFailureText(const std::string& device, int error);

// The text shown when device is held by another program.
std::string InUseText(const std::string& device);

// Line speeds outside the standard table go through the kernel's arbitrary-rate interface;
// both return false (errno set) when the device refuses.
bool SetCustomBaud(int fd, std::uint32_t baud);
// The output speed the device (or, on a pseudo-terminal master, its slave) is set to, in
// baud, whether standard or custom; 0 when it cannot be read.
std::uint32_t DeviceBaud(int fd);

} // namespace comlink
