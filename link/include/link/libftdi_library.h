// The D2XX calls over libftdi1: the attached FTDI adapters (vendor id 0x0403 with one of
// FTDI's own product ids) in the order libftdi lists them, the kernel's serial driver detached
// while one is open. libftdi has no receive queue count, so a read-ahead buffer collects what
// the adapter delivered and FT_GetQueueStatus reports its size; the adapter is asked (one USB
// transfer, which returns within the latency timer) only when the read-ahead is empty.
#pragma once

#include "link/ftdi_library.h"

#include <memory>
#include <string>
#include <vector>

namespace comlink {

class LibFtdiLibrary final : public FtLibrary {
public:
    LibFtdiLibrary();
    ~LibFtdiLibrary() override;
    LibFtdiLibrary(const LibFtdiLibrary&) = delete;
    LibFtdiLibrary& operator=(const LibFtdiLibrary&) = delete;

    FT_STATUS FT_ListDevices(std::uint32_t* numDevices, void* unused, std::uint32_t flags) override;
    FT_STATUS FT_Open(int deviceIndex, FT_HANDLE* handle) override;
    FT_STATUS FT_Close(FT_HANDLE handle) override;
    FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                      std::uint32_t* countRead) override;
    FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                       std::uint32_t* countWritten) override;
    FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baud) override;
    FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                        std::uint8_t stopBits, std::uint8_t parity) override;
    FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl, std::uint8_t xon,
                                std::uint8_t xoff) override;
    FT_STATUS FT_SetRts(FT_HANDLE handle) override;
    FT_STATUS FT_ClrRts(FT_HANDLE handle) override;
    FT_STATUS FT_SetDtr(FT_HANDLE handle) override;
    FT_STATUS FT_ClrDtr(FT_HANDLE handle) override;
    FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
    FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                             std::uint32_t writeMs) override;
    FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rxBytes) override;
    FT_STATUS FT_SetBreakOff(FT_HANDLE handle) override;
    FT_STATUS FT_GetStatus(FT_HANDLE handle, std::uint32_t* rxBytes, std::uint32_t* txBytes,
                           std::uint32_t* eventStatus) override;
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;

    bool ReportsTransmitQueue() const override { return false; }
    FT_STATUS ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                       std::uint32_t* countRead) override;
    std::string LastDetail() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One attached adapter as a user would recognise it.
struct FtdiAdapterInfo {
    std::string manufacturer;
    std::string description;
    std::string serial;
    // Why the strings could not be read (typically no access to the USB device), else empty.
    std::string problem;
};

// The adapters FT_Open can reach, in the order of its device index. False with error set when
// USB cannot be listed at all.
bool ListFtdiAdapters(std::vector<FtdiAdapterInfo>& adapters, std::string& error);

} // namespace comlink
