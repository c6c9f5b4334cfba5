// The serial-port library the link port drives COM ports through. The eight upper-case calls
// are the ones the link has always used; the POSIX device layer implements them over termios,
// and anything else that can carry bytes (an in-memory pipe to a simulated MC, a scripted
// fake in tests) can be installed in its place while the program runs.
#pragma once

#include <cstdint>
#include <string>

namespace comlink {

class SerialLibrary {
public:
    virtual ~SerialLibrary() = default;

    // Opens the port the mode text names (see BuildModeText), closing any port that was open.
    // 0 on success, negative on failure with the reason in LastError().
    virtual int OPENCOM(const std::string& mode) = 0;
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
};

// What a mode text says: the device file to open and the line speed.
struct ModeSettings {
    std::string device;
    std::uint32_t baud = 0;
};

// "COM" + port + ":" + baud + ",N,8,1", or devicePath + ":" + baud + ",N,8,1" for a link
// configured with a device path.
std::string BuildModeText(std::uint16_t portNumber, std::uint32_t baud,
                          const std::string& devicePath = {});
// Accepts what BuildModeText makes (and lower-case "com", "n"); any other framing than
// 8 data bits, no parity, 1 stop bit is refused with a reason in error.
bool ParseModeText(const std::string& mode, ModeSettings& settings, std::string& error);
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
