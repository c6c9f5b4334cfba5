// The FTDI D2XX calls the USB port uses, with D2XX status codes. libftdi1 implements them on
// Linux; tests install a scripted stand-in that can fail any call and unplug the adapter.
#pragma once

#include <cstdint>
#include <string>

namespace comlink {

using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED_FOR_ERASE = 8;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED_FOR_WRITE = 9;
inline constexpr FT_STATUS FT_FAILED_TO_WRITE_DEVICE = 10;
inline constexpr FT_STATUS FT_EEPROM_READ_FAILED = 11;
inline constexpr FT_STATUS FT_EEPROM_WRITE_FAILED = 12;
inline constexpr FT_STATUS FT_EEPROM_ERASE_FAILED = 13;
inline constexpr FT_STATUS FT_EEPROM_NOT_PRESENT = 14;
inline constexpr FT_STATUS FT_EEPROM_NOT_PROGRAMMED = 15;
inline constexpr FT_STATUS FT_INVALID_ARGS = 16;
inline constexpr FT_STATUS FT_OTHER_ERROR = 17;

inline constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000;
inline constexpr std::uint32_t FT_PURGE_RX = 1;
inline constexpr std::uint32_t FT_PURGE_TX = 2;
inline constexpr std::uint8_t FT_BITS_7 = 7;
inline constexpr std::uint8_t FT_BITS_8 = 8;
inline constexpr std::uint8_t FT_STOP_BITS_1 = 0;
inline constexpr std::uint8_t FT_STOP_BITS_2 = 2;
inline constexpr std::uint8_t FT_PARITY_NONE = 0;
inline constexpr std::uint8_t FT_PARITY_ODD = 1;
inline constexpr std::uint8_t FT_PARITY_EVEN = 2;
inline constexpr std::uint8_t FT_PARITY_MARK = 3;
inline constexpr std::uint8_t FT_PARITY_SPACE = 4;
inline constexpr std::uint16_t FT_FLOW_NONE = 0x0000;
inline constexpr std::uint16_t FT_FLOW_RTS_CTS = 0x0100;
inline constexpr std::uint16_t FT_FLOW_DTR_DSR = 0x0200;
inline constexpr std::uint16_t FT_FLOW_XON_XOFF = 0x0400;

class FtLibrary {
public:
    virtual ~FtLibrary() = default;

    // Only the FT_LIST_NUMBER_ONLY form: stores the number of attached devices.
    virtual FT_STATUS FT_ListDevices(std::uint32_t* numDevices, void* unused,
                                     std::uint32_t flags) = 0;
    virtual FT_STATUS FT_Open(int deviceIndex, FT_HANDLE* handle) = 0;
    // The handle is released whatever the result.
    virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;
    // Waits up to the read time-out for count bytes.
    virtual FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                              std::uint32_t* countRead) = 0;
    virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                               std::uint32_t* countWritten) = 0;
    virtual FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baud) = 0;
    virtual FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                                std::uint8_t stopBits, std::uint8_t parity) = 0;
    virtual FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl,
                                        std::uint8_t xon, std::uint8_t xoff) = 0;
    virtual FT_STATUS FT_SetRts(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_ClrRts(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_SetDtr(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_ClrDtr(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) = 0;
    virtual FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                                     std::uint32_t writeMs) = 0;
    virtual FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rxBytes) = 0;
    virtual FT_STATUS FT_SetBreakOff(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_GetStatus(FT_HANDLE handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                                   std::uint32_t* eventStatus) = 0;
    virtual FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) = 0;

    // Whether FT_GetStatus knows how many bytes still wait to be sent. D2XX does; libftdi's
    // write returns once the adapter holds the bytes and keeps no such count, so a drain wait
    // there would only cost a status query, and a USB transfer, per look.
    virtual bool ReportsTransmitQueue() const { return true; }
    // Takes up to count bytes the library already holds (received from the adapter before),
    // without any USB transfer; *countRead may be 0. D2XX keeps its receive queue in the
    // driver, where a look costs nothing, so the default reads what FT_GetQueueStatus counts.
    virtual FT_STATUS ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                               std::uint32_t* countRead);

    // What the platform said about the last failure (for example a USB permission problem),
    // beyond the status code; empty when there is nothing to add.
    virtual std::string LastDetail() const { return {}; }
};

// The library in use: libftdi1 unless another one was installed.
FtLibrary& Ftdi();
// Installs library (not owned); nullptr puts libftdi1 back.
void SetFtLibrary(FtLibrary* library);

class ScopedFtLibrary {
public:
    explicit ScopedFtLibrary(FtLibrary& library) { SetFtLibrary(&library); }
    ~ScopedFtLibrary() { SetFtLibrary(nullptr); }
    ScopedFtLibrary(const ScopedFtLibrary&) = delete;
    ScopedFtLibrary& operator=(const ScopedFtLibrary&) = delete;
};

} // namespace comlink
