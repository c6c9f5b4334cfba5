// The serial-port library the link port drives COM ports through. The eight upper-case calls
// are the ones the link has always used; the POSIX device layer implements them over termios,
// and anything else that can carry bytes (an in-memory pipe to a simulated MC, a scripted
// fake in tests) can be installed in its place while the program runs.
#pragma once

#include <cstdint>
#include <string>

namespace comlink {

// What the link asks of a serial device: which one and how fast. The framing is always 8 data
// bits, no parity, 1 stop bit, no flow control.
struct SerialSettings {
    std::string device;
    std::uint32_t baud = 9600;
};

class SerialLibrary {
public:
    virtual ~SerialLibrary() = default;

    // Opens the device at the rate, closing any port that was open. 0 on success, negative on
    // failure with the reason in LastError().
    virtual int OPENCOM(const SerialSettings& settings) = 0;
    // Closing when no port is open is harmless.
    virtual void CLOSECOM() = 0;
    // Queues b for transmission: 0 when the byte was taken, negative when it was not.
    virtual int SENDBYTE(std::uint8_t b) = 0;
    // The oldest received byte 0..255, or a negative value when none is waiting.
    virtual int READBYTE() = 0;
    // Received bytes waiting (only zero / non-zero matters to the link).
    virtual int INBUFFER() = 0;
    // Bytes still waiting to be sent (only zero / non-zero matters to the link).
    virtual int OUTBUFFER() = 0;
    // 1 = line on, 0 = line off. Devices without modem lines ignore them.
    virtual void RTS(int on) = 0;
    virtual void DTR(int on) = 0;

    // False before a successful OPENCOM, after CLOSECOM, and as soon as the device has
    // vanished (hang-up, I/O error); the link then reopens it on its next operation.
    virtual bool IsOpen() const = 0;
    // Why the last OPENCOM failed or why the device was dropped, fit to show a user.
    virtual std::string LastError() const = 0;
    // Waits until a received byte is waiting, the device fails, or timeoutMs of real time
    // have passed; true when INBUFFER would now report a byte. The link calls it only while
    // the real clock runs. The default polls INBUFFER at a short interval, which is enough
    // for an implementation that has nothing to block on.
    virtual bool WaitReadable(std::uint32_t timeoutMs);
    // Asks the driver of the open device to hand received bytes over at once instead of
    // holding them for up to a latency period (USB serial adapters hold them 16 ms by
    // default, which caps a one-byte request/reply protocol at about 60 exchanges a second).
    // True when the request was taken; a device without such a setting refuses, harmlessly.
    virtual bool RequestLowLatency() { return false; }
};

// COM n lives at /dev/ttyS{n-1}.
std::string ComDevicePath(unsigned portNumber);

// The library in use: the POSIX device layer unless another one was installed.
SerialLibrary& Serial();
// Installs library (not owned); nullptr puts the POSIX device layer back.
void SetSerialLibrary(SerialLibrary* library);

class ScopedSerialLibrary {
public:
    explicit ScopedSerialLibrary(SerialLibrary& library) { SetSerialLibrary(&library); }
    ~ScopedSerialLibrary() { SetSerialLibrary(nullptr); }
    ScopedSerialLibrary(const ScopedSerialLibrary&) = delete;
    ScopedSerialLibrary& operator=(const ScopedSerialLibrary&) = delete;
};

} // namespace comlink
