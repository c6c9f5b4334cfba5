#include "fake_ftdi.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

using namespace comlink;

void FakeFtLibrary::Fail(const std::string& call, FT_STATUS status, int times) {
    failures_[call] = Failure{status, times};
}

void FakeFtLibrary::Unplug() {
    plugged_ = false;
    openGeneration_ = 0;
    rx.clear();
    readAhead.clear();
    later_.clear();
}

void FakeFtLibrary::ArriveLater(foundation::FakeClock& clock, std::uint8_t b,
                                std::uint32_t delayMs) {
    clock_ = &clock;
    later_.emplace_back(clock.NowUs() + std::uint64_t{delayMs} * 1000, b);
}

void FakeFtLibrary::Due() {
    while (clock_ != nullptr && !later_.empty() && later_.front().first <= clock_->NowUs()) {
        if (plugged_) {
            rx.push_back(later_.front().second);
        }
        later_.pop_front();
    }
}

void FakeFtLibrary::Fetch() {
    ++usbTransfers;
    readAhead.insert(readAhead.end(), rx.begin(), rx.end());
    rx.clear();
}

std::uint32_t FakeFtLibrary::Take(std::deque<std::uint8_t>& from, void* buffer,
                                  std::uint32_t count) {
    auto n = std::min<std::size_t>(count, from.size());
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = from.front();
        from.pop_front();
    }
    return static_cast<std::uint32_t>(n);
}

FT_STATUS FakeFtLibrary::Injected(const std::string& call) {
    auto it = failures_.find(call);
    if (it == failures_.end()) {
        return FT_OK;
    }
    FT_STATUS status = it->second.status;
    if (it->second.times > 0 && --it->second.times == 0) {
        failures_.erase(it);
    }
    return status;
}

FT_STATUS FakeFtLibrary::OnHandle(const std::string& call, FT_HANDLE handle,
                                  const std::string& record) {
    Due();
    if (!record.empty()) {
        calls.push_back(record);
    }
    if (FT_STATUS s = Injected(call); s != FT_OK) {
        return s;
    }
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    auto generation = reinterpret_cast<std::uintptr_t>(handle);
    if (!plugged_ || generation != openGeneration_) {
        return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_ListDevices(std::uint32_t* numDevices, void* /*unused*/,
                                        std::uint32_t flags) {
    ++listCalls;
    if (FT_STATUS s = Injected("FT_ListDevices"); s != FT_OK) {
        return s;
    }
    if (numDevices == nullptr || flags != FT_LIST_NUMBER_ONLY) {
        return FT_INVALID_PARAMETER;
    }
    *numDevices = plugged_ ? adapters : 0;
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_Open(int deviceIndex, FT_HANDLE* handle) {
    calls.push_back("FT_Open " + std::to_string(deviceIndex));
    if (FT_STATUS s = Injected("FT_Open"); s != FT_OK) {
        return s;
    }
    if (!plugged_ || deviceIndex < 0 || static_cast<std::uint32_t>(deviceIndex) >= adapters) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (openGeneration_ != 0) {
        return FT_DEVICE_NOT_OPENED; // already open: D2XX refuses a second handle
    }
    openGeneration_ = nextGeneration_++;
    *handle = reinterpret_cast<FT_HANDLE>(openGeneration_);
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_Close(FT_HANDLE handle) {
    FT_STATUS s = OnHandle("FT_Close", handle, "FT_Close");
    if (reinterpret_cast<std::uintptr_t>(handle) == openGeneration_) {
        openGeneration_ = 0;
    }
    return s;
}

FT_STATUS FakeFtLibrary::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                                 std::uint32_t* countRead) {
    if (FT_STATUS s = OnHandle("FT_Read", handle, ""); s != FT_OK) {
        return s;
    }
    if (!libftdi_) {
        *countRead = Take(rx, buffer, count);
        return FT_OK;
    }
    if (readAhead.size() < count) {
        Fetch();
    }
    *countRead = Take(readAhead, buffer, count);
    return FT_OK;
}

FT_STATUS FakeFtLibrary::ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                                  std::uint32_t* countRead) {
    if (!libftdi_) {
        return FtLibrary::ReadHeld(handle, buffer, count, countRead);
    }
    *countRead = 0;
    if (FT_STATUS s = OnHandle("FT_Read", handle, ""); s != FT_OK) {
        return s;
    }
    *countRead = Take(readAhead, buffer, count);
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t* countWritten) {
    if (FT_STATUS s = OnHandle("FT_Write", handle, "FT_Write " + std::to_string(count));
        s != FT_OK) {
        return s;
    }
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    written.insert(written.end(), in, in + count);
    *countWritten = count;
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t rate) {
    FT_STATUS s = OnHandle("FT_SetBaudRate", handle, "FT_SetBaudRate " + std::to_string(rate));
    if (s == FT_OK) {
        baud = rate;
    }
    return s;
}

FT_STATUS FakeFtLibrary::FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                                   std::uint8_t stopBits, std::uint8_t parity) {
    return OnHandle("FT_SetDataCharacteristics", handle,
                    "FT_SetDataCharacteristics " + std::to_string(wordLength) + " " +
                        std::to_string(stopBits) + " " + std::to_string(parity));
}

FT_STATUS FakeFtLibrary::FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl,
                                           std::uint8_t xon, std::uint8_t xoff) {
    return OnHandle("FT_SetFlowControl", handle,
                    "FT_SetFlowControl " + std::to_string(flowControl) + " " + std::to_string(xon) +
                        " " + std::to_string(xoff));
}

FT_STATUS FakeFtLibrary::FT_SetRts(FT_HANDLE handle) {
    return OnHandle("FT_SetRts", handle, "FT_SetRts");
}

FT_STATUS FakeFtLibrary::FT_ClrRts(FT_HANDLE handle) {
    return OnHandle("FT_ClrRts", handle, "FT_ClrRts");
}

FT_STATUS FakeFtLibrary::FT_SetDtr(FT_HANDLE handle) {
    return OnHandle("FT_SetDtr", handle, "FT_SetDtr");
}

FT_STATUS FakeFtLibrary::FT_ClrDtr(FT_HANDLE handle) {
    return OnHandle("FT_ClrDtr", handle, "FT_ClrDtr");
}

FT_STATUS FakeFtLibrary::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
    return OnHandle("FT_Purge", handle, "FT_Purge " + std::to_string(mask));
}

FT_STATUS FakeFtLibrary::FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                                        std::uint32_t writeMs) {
    return OnHandle("FT_SetTimeouts", handle,
                    "FT_SetTimeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
}

FT_STATUS FakeFtLibrary::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rxBytes) {
    ++queuePolls;
    if (FT_STATUS s = OnHandle("FT_GetQueueStatus", handle, ""); s != FT_OK) {
        return s;
    }
    if (libftdi_ && readAhead.empty()) {
        Fetch();
    }
    *rxBytes = static_cast<std::uint32_t>(libftdi_ ? readAhead.size() : rx.size());
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_SetBreakOff(FT_HANDLE handle) {
    return OnHandle("FT_SetBreakOff", handle, "FT_SetBreakOff");
}

FT_STATUS FakeFtLibrary::FT_GetStatus(FT_HANDLE handle, std::uint32_t* rxBytes,
                                      std::uint32_t* txBytes, std::uint32_t* eventStatus) {
    ++queuePolls;
    if (FT_STATUS s = OnHandle("FT_GetStatus", handle, ""); s != FT_OK) {
        return s;
    }
    if (libftdi_ && readAhead.empty()) {
        Fetch();
    }
    *rxBytes = static_cast<std::uint32_t>(libftdi_ ? readAhead.size() : rx.size());
    *txBytes = 0;
    if (!libftdi_ && !txQueue.empty()) {
        *txBytes = txQueue.front();
        txQueue.pop_front();
    }
    *eventStatus = 0;
    return FT_OK;
}

FT_STATUS FakeFtLibrary::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
    return OnHandle("FT_SetLatencyTimer", handle, "FT_SetLatencyTimer " + std::to_string(ms));
}

} // namespace testing_support
