// A scripted FTDI library: adapters that can be unplugged and plugged in again, any call made
// to fail with any status, the calls recorded with their arguments. It answers as D2XX does
// (queue counts that cost nothing, a transmit count), or as libftdi does: no transmit count,
// and a read-ahead that only a USB transfer fills.
#pragma once

#include "foundation/clock.h"
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
    bool ReportsTransmitQueue() const override { return !libftdi_; }
    FT_STATUS ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                       std::uint32_t* countRead) override;

    // From now on answer as libftdi does: the queue count and FT_Read are served from the
    // read-ahead, which one USB transfer fills with all of rx when it is empty (or short of
    // what FT_Read wants); FT_GetStatus knows no transmit count.
    void BehaveAsLibFtdi() { libftdi_ = true; }

    // The next `times` calls named call (e.g. "FT_SetLatencyTimer") answer status; times < 0
    // makes it permanent until Heal().
    void Fail(const std::string& call, FT_STATUS status, int times = 1);
    void Heal() { failures_.clear(); }
    // The adapter is pulled out: no device is listed and the open handle answers
    // FT_IO_ERROR. After Replug() the old handle stays dead; only a new FT_Open works.
    void Unplug();
    void Replug() { plugged_ = true; }
    bool HandleIsLive() const { return openGeneration_ != 0; }

    // A byte the adapter receives delayMs after now on clock (which the test keeps alive).
    void ArriveLater(foundation::FakeClock& clock, std::uint8_t b, std::uint32_t delayMs);

    // Bytes the adapter received from the MC, waiting to be read.
    std::deque<std::uint8_t> rx;
    // libftdi only: bytes already fetched from the adapter, held by the library.
    std::deque<std::uint8_t> readAhead;
    // libftdi only: the USB transfers made to fill the read-ahead.
    int usbTransfers = 0;
    // Adapters listed while plugged in; FT_Open reaches each by its index.
    std::uint32_t adapters = 1;
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
    // libftdi: one USB transfer that moves what the adapter holds into the read-ahead.
    void Fetch();
    std::uint32_t Take(std::deque<std::uint8_t>& from, void* buffer, std::uint32_t count);
    // Moves the bytes whose time has come into rx.
    void Due();

    struct Failure {
        FT_STATUS status;
        int times;
    };
    std::map<std::string, Failure> failures_;
    bool plugged_ = true;
    bool libftdi_ = false;
    foundation::FakeClock* clock_ = nullptr;
    std::deque<std::pair<std::uint64_t, std::uint8_t>> later_;
    std::uintptr_t nextGeneration_ = 1;
    std::uintptr_t openGeneration_ = 0;
};

} // namespace testing_support
