// The FTDI USB port: the program's one adapter handle, one operation per D2XX call, and a
// readable error text for every failing call. After a failure the attached adapters are
// counted again; when none is left (or the handle is plainly dead) the port is marked closed
// and the link port reopens it on its next use.
#pragma once

#include "link/ftdi_library.h"

#include <array>
#include <cstdint>
#include <string>

namespace comlink {

inline constexpr std::size_t kUsbBufferSize = 65536;

struct D2xxState {
    FT_HANDLE handle = nullptr;
    // The adapter UsbOpen opens: its index in the FTDI library's list.
    int deviceIndex = 0;
    bool usbClosed = true;
    std::string lastError;
    std::uint32_t deviceCount = 0;
    std::array<std::uint8_t, kUsbBufferSize> receiveBuffer{};
    std::array<std::uint8_t, kUsbBufferSize> transmitBuffer{};
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = FT_BITS_8;
    std::uint8_t stopBits = FT_STOP_BITS_1;
    std::uint8_t parity = FT_PARITY_NONE;
    std::uint16_t flowControl = FT_FLOW_NONE;
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
    std::uint16_t latency = 2;
    std::uint16_t readTimeout = 500;
    std::uint16_t writeTimeout = 500;
    std::uint32_t receiveQueueCount = 0;
    std::uint32_t transmitQueueCount = 0;
    std::uint32_t eventStatus = 0;
};

// The unit's state; the link port reads the flags and counts and moves bytes through the
// two buffers.
D2xxState& Usb();
// Unit start-up: closed flag set, error text empty. Forgets the handle without closing it.
void ResetUsb();

// The status code's text as it follows the call's name; empty above 17.
std::string FtStatusText(FT_STATUS status);
// Stores name + status text as the last error and, unless the count itself failed, counts
// the adapters again to decide whether the port is gone.
void ReportFtError(const std::string& name, FT_STATUS status);

FT_STATUS GetFTDeviceCount();
FT_STATUS UsbOpen();
FT_STATUS UsbClose();
FT_STATUS UsbRead(std::uint32_t count, std::uint32_t& countRead);
FT_STATUS UsbWrite(std::uint32_t count, std::uint32_t& countWritten);
// Into the receive buffer: what the library already holds, without a USB transfer.
FT_STATUS UsbReadHeld(std::uint32_t count, std::uint32_t& countRead);
FT_STATUS UsbSetBaudRate();
FT_STATUS UsbSetDataCharacteristics();
FT_STATUS UsbSetFlowControl();
FT_STATUS UsbSetRts();
FT_STATUS UsbClearRts();
FT_STATUS UsbSetDtr();
FT_STATUS UsbClearDtr();
FT_STATUS UsbPurgeTx();
FT_STATUS UsbSetTimeouts(std::uint16_t readMs, std::uint16_t writeMs);
FT_STATUS UsbGetQueueStatus();
FT_STATUS UsbSetBreakOff();
FT_STATUS UsbGetStatus();
FT_STATUS UsbSetLatencyTimer(std::uint16_t ms);

} // namespace comlink
