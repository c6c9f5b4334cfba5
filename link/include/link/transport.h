// One transport behind the link port: a serial device (through the installed serial-port
// library) or an FTDI adapter (through the USB port over the installed FTDI library), chosen
// once when the link's port is known. The link port drives either through the same few
// operations and keeps the rules above them (reopening a lost port, channel lines, the log)
// in one place; a transport knows nothing of port numbers, channels or the log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace comlink {

// A time limit on the millisecond tick, counted from when it was made.
class Deadline {
public:
    explicit Deadline(std::uint32_t limitMs);
    std::uint32_t RemainingMs() const;
    bool Passed() const { return RemainingMs() == 0; }

private:
    std::uint32_t start_;
    std::uint32_t limitMs_;
};

enum class ModemLine { Rts, Dtr };

enum class OpenResult {
    Open,
    Failed, // the device is there but could not be opened; Failure() says why
    Absent, // there is no such device at all (no FTDI adapter attached)
};

enum class SendResult {
    Sent,
    Refused, // the byte was not taken (the device may have gone: see IsOpen)
    Stuck,   // the transmitter did not drain within a second
};

class Transport {
public:
    virtual ~Transport() = default;

    // Opens the port at baud, closing it first if it was open.
    virtual OpenResult Open(std::uint32_t baud) = 0;
    virtual void Close() = 0;
    // False before Open, after Close, and from the moment the device is found gone.
    virtual bool IsOpen() const = 0;
    // Why the last Open failed or why the device was lost, fit to show a user.
    virtual std::string Failure() const = 0;
    // Sends b once the transmitter has drained, where the transmitter can tell.
    virtual SendResult Send(std::uint8_t b) = 0;
    // The oldest received byte, waiting for one until the deadline has passed (a deadline of
    // 0 ms looks once); -1 when none came or the device went away meanwhile. Under a fake
    // clock nothing blocks: each empty look moves the clock on by 1 ms.
    int Receive(const Deadline& deadline);
    // Drops what has already been received, handing each byte to dropped, without asking the
    // device for anything more: no wire or USB traffic.
    virtual void Discard(const std::function<void(std::uint8_t)>& dropped) = 0;
    // Changes the line speed of the open port. A serial device is closed and opened again,
    // which leaves its modem lines as the driver sets them.
    virtual bool SetRate(std::uint32_t baud) = 0;
    virtual void SetModemLine(ModemLine line, bool on) = 0;
    // The modem line behind a line id: on a serial port line 2 is RTS and line 1 DTR, on the
    // FTDI adapter line 2 is DTR and line 1 RTS.
    virtual ModemLine LineOfId(int id) const = 0;

protected:
    // A look that never waits: is a received byte there?
    virtual bool InputWaiting() = 0;
    // Real clock only: blocks until a byte may be there, the device fails, or timeoutMs have
    // passed; true when a byte is there. With 0 it only looks.
    virtual bool BlockUntilInput(std::uint32_t timeoutMs) = 0;
    // Takes the oldest received byte without waiting; -1 when there is none.
    virtual int TakeByte() = 0;
};

// A serial device file opened through the installed serial-port library (Serial()), so that
// a library installed later (a test's stand-in, the in-memory link) is used from then on.
std::unique_ptr<Transport> MakeSerialTransport(const std::string& device);
// The FTDI adapter at adapterIndex in the list the FTDI library gives (0 = the first).
std::unique_ptr<Transport> MakeUsbTransport(unsigned adapterIndex);

} // namespace comlink
