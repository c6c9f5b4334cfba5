// The link port: the one byte pipe between the program and the microcontroller, over a serial
// device (the installed serial-port library) or the FTDI USB adapter, with channel selection
// by the modem control lines and the optional traffic log. Everything above it reaches the MC
// only through these operations.
#pragma once

#include "foundation/params.h"

#include <cstdint>
#include <string>

namespace comlink {

// Port numbers 1..255 are COM ports; from here on it is the FTDI adapter.
using foundation::kFirstUsbPort;
// Line state that matches no real pattern, so the next selection always drives the lines.
inline constexpr std::uint8_t kUnknownLineState = 99;

// The link's state as the windows and the protocol read it; the texts refer into the link and
// stay valid until the next InitLink or ResetLink.
struct LinkView {
    std::uint16_t portNumber;
    // Set when the COM parameter names a device file; the port number is then 1.
    const std::string& devicePath;
    std::uint16_t baudRate;
    std::uint8_t channelCount;
    std::uint8_t lineState;
    bool linkDown;
    const std::string& logName;
};

// What the link makes of the COM parameter (found: whether it is set; text: its value): a
// number rounded half to even within 0..65535, or a device path beginning with "/" (port 1);
// anything else is port 1, and reason says why.
struct PortChoice {
    std::uint16_t portNumber = 1;
    std::string devicePath;
    std::string reason;
};
PortChoice ChoosePort(bool found, const std::string& text);

// Unit start-up: baud 9600, port number and device path from COM, channel 1 selected and a
// 200 ms wait when a port is set, log name from COM_DEBUG. Puts every other field back first.
void InitLink();
// Back to the state before InitLink (no port, link down, log closed); devices are not touched.
void ResetLink();

// OpenLink(false), then starts the traffic log. Returns what OpenLink returned.
bool StartLink();
// Opens the configured port; a port number of 0 opens without touching any device.
bool OpenLink(bool keepPortNumber);
// Releases the lines, closes the port and the log, raises the link-down flag.
void CloseLink();
// Sends b once the transmitter has drained.
bool SendByte(std::uint8_t b);
// ticks = 0 polls once; otherwise waits up to ticks x 10 ms for a byte.
bool ReceiveByte(std::uint8_t& b, std::uint16_t ticks);
// Discards every received byte that is waiting (they appear in the log as received).
// False on a link that is down or has no port.
bool PurgeInput();
// Drops the bytes already received, as far as that costs nothing on the wire: what the kernel
// holds for a serial device, what the adapter's read-ahead holds for the FTDI port. Unlike
// PurgeInput it never asks the adapter for more, so it may run before every exchange. The
// dropped bytes appear in the log as received.
void DiscardReceived();
// Changes the line speed of the open port; the same rate does nothing.
void SetBaud(std::uint16_t rate);
// Drives the control lines for channel level 1..3 (COM ports only).
bool SelectChannel(int level);
// Line id 2 or 1: RTS or DTR on a COM port, DTR or RTS on the USB adapter.
void LineOn(int id);
void LineOff(int id);

std::uint16_t PortNumber();
std::uint16_t BaudRate();
std::uint8_t ChannelCount();
bool LinkDown();
LinkView Link();
// What the user calls the port: "COM3", "USB0", or the configured device path.
std::string PortName();
// Why the link last failed to open or lost its device ("/dev/ttyUSB0: Permission denied",
// "USB not connected", "FT_Open - Device not found..."); empty after a successful open.
const std::string& LinkError();

// Ends every wait of the link at once and makes every later operation fail at once, whatever
// thread asks (the program is ending: Escape must not wait for a silent MC). Safe to call
// from any thread at any time; CloseLink still closes the port afterwards.
void RequestLinkStop();
// Lets the link wait and transfer again after a stop.
void ClearLinkStop();
bool LinkStopRequested();

// One thread owns the link while it is claimed: debug builds stop the program when another
// thread calls any operation above, so a stray call from a window shows at once. Unclaimed,
// any thread may call (start-up, the tests, the command-line tools).
void ClaimLink();
void ReleaseLink();

} // namespace comlink
