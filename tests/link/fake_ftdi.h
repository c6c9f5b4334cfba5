// A scripted FTDI library: one adapter that can be unplugged and plugged in again, any call
// made to fail with any status, the calls recorded with their arguments.
#pragma once

#include "link/ftdi_library.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

class FakeFtLibrary final : public comlink::FtLibrary {
public:
    using FT_STATUS = comlink::FT_STATUS;
    using FT_HANDLE = comlink::FT_HANDLE;

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

    // The next `times` calls named call (e.g. "FT_SetLatencyTimer") answer status; times < 0
    // makes it permanent until Heal().
    void Fail(const std::string& call, FT_STATUS status, int times = 1);
    void Heal() { failures_.clear(); }
    // The adapter is pulled out: no device is listed and the open handle answers
    // FT_IO_ERROR. After Replug() the old handle stays dead; only a new FT_Open works.
    void Unplug();
    void Replug() { plugged_ = true; }
    bool HandleIsLive() const { return openGeneration_ != 0; }

    // Bytes the adapter received from the MC, waiting to be read.
    std::deque<std::uint8_t> rx;
    // Bytes written to the adapter.
    std::vector<std::uint8_t> written;
    // FT_GetStatus reports these transmit queue counts one by one, then 0.
    std::deque<std::uint32_t> txQueue;
    // Every call except the queue and status polls and the reads, with its arguments, e.g.
    // "FT_SetBaudRate 9600"; failed calls are recorded too.
    std::vector<std::string> calls;
    int queuePolls = 0;
    int listCalls = 0;
    std::uint32_t baud = 0;

private:
    FT_STATUS Injected(const std::string& call);
    FT_STATUS OnHandle(const std::string& call, FT_HANDLE handle, const std::string& record);

    struct Failure {
        FT_STATUS status;
        int times;
    };
    std::map<std::string, Failure> failures_;
    bool plugged_ = true;
    std::uintptr_t nextGeneration_ = 1;
    std::uintptr_t openGeneration_ = 0;
};

} // namespace testing_support
