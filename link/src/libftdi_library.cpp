#include "link/libftdi_library.h"

#include <chrono>
#include <cstring>
#include <ftdi.h>
#include <set>
#include <vector>

namespace comlink {

namespace {

// The read-ahead stops growing here, as the adapter's driver buffer would.
constexpr std::size_t kReadAheadLimit = 65536;
constexpr int kReadChunk = 4096;
// libftdi's code for a context without an open USB device.
constexpr int kUsbDeviceUnavailable = -666;

struct Device {
    ftdi_context* ctx = nullptr;
    std::vector<std::uint8_t> readAhead;
    std::uint32_t readTimeoutMs = 500;
    ftdi_bits_type bits = BITS_8;
    ftdi_stopbits_type stopBits = STOP_BIT_1;
    ftdi_parity_type parity = NONE;
};

std::uint32_t TakeReadAhead(Device& d, void* buffer, std::uint32_t count) {
    std::size_t n = std::min<std::size_t>(count, d.readAhead.size());
    std::memcpy(buffer, d.readAhead.data(), n);
    d.readAhead.erase(d.readAhead.begin(), d.readAhead.begin() + static_cast<long>(n));
    return static_cast<std::uint32_t>(n);
}

} // namespace

struct LibFtdiLibrary::Impl {
    ftdi_context* lister = nullptr;
    std::set<Device*> devices;
    std::string detail;

    ~Impl() {
        for (Device* d : devices) {
            ftdi_usb_close(d->ctx);
            ftdi_free(d->ctx);
            delete d;
        }
        if (lister != nullptr) {
            ftdi_free(lister);
        }
    }

    Device* Find(FT_HANDLE handle) {
        auto* d = static_cast<Device*>(handle);
        return devices.count(d) != 0 ? d : nullptr;
    }

    // A failed libftdi call: keep libftdi's own words, give the caller a D2XX status.
    FT_STATUS Fail(ftdi_context* ctx, int result) {
        detail = ctx != nullptr ? ftdi_get_error_string(ctx) : "";
        return result == kUsbDeviceUnavailable ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
    }

    // One libftdi call on an open handle.
    template <typename F> FT_STATUS Call(FT_HANDLE handle, F call) {
        Device* d = Find(handle);
        if (d == nullptr) {
            return FT_INVALID_HANDLE;
        }
        int r = call(d->ctx);
        return r < 0 ? Fail(d->ctx, r) : FT_OK;
    }

    // Fills the read-ahead with whatever the adapter has delivered; a call returns within
    // the latency timer when nothing came. Every call is a USB transfer.
    FT_STATUS Fill(Device& d) {
        if (d.readAhead.size() >= kReadAheadLimit) {
            return FT_OK;
        }
        std::uint8_t chunk[kReadChunk];
        int n = ftdi_read_data(d.ctx, chunk, kReadChunk);
        if (n < 0) {
            return Fail(d.ctx, n);
        }
        d.readAhead.insert(d.readAhead.end(), chunk, chunk + n);
        return FT_OK;
    }

    // Takes up to count bytes from the read-ahead; with fetch, asks the adapter for more until
    // count are there or the read time-out has passed.
    FT_STATUS Read(FT_HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* countRead,
                   bool fetch) {
        Device* d = Find(handle);
        if (d == nullptr) {
            return FT_INVALID_HANDLE;
        }
        if (buffer == nullptr || countRead == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        *countRead = 0;
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(d->readTimeoutMs);
        // Each fill waits at most the adapter's latency timer, so the loop does not spin.
        while (fetch && d->readAhead.size() < count &&
               std::chrono::steady_clock::now() < deadline) {
            if (FT_STATUS s = Fill(*d); s != FT_OK) {
                return s;
            }
        }
        *countRead = TakeReadAhead(*d, buffer, count);
        return FT_OK;
    }

    // Lists the attached adapters with FTDI's vendor id and its standard product ids.
    int List(ftdi_device_list** list) {
        if (lister == nullptr) {
            lister = ftdi_new();
            if (lister == nullptr) {
                detail = "USB access is not available";
                *list = nullptr;
                return 0;
            }
        }
        int n = ftdi_usb_find_all(lister, list, 0, 0);
        if (n < 0) {
            detail = ftdi_get_error_string(lister);
        }
        return n;
    }
};

LibFtdiLibrary::LibFtdiLibrary() : impl_(std::make_unique<Impl>()) {}

LibFtdiLibrary::~LibFtdiLibrary() = default;

std::string LibFtdiLibrary::LastDetail() const {
    return impl_->detail;
}

FT_STATUS LibFtdiLibrary::FT_ListDevices(std::uint32_t* numDevices, void* /*unused*/,
                                         std::uint32_t flags) {
    if (numDevices == nullptr || flags != FT_LIST_NUMBER_ONLY) {
        return FT_INVALID_PARAMETER;
    }
    ftdi_device_list* list = nullptr;
    int n = impl_->List(&list);
    if (list != nullptr) {
        ftdi_list_free(&list);
    }
    if (n < 0) {
        return FT_IO_ERROR;
    }
    *numDevices = static_cast<std::uint32_t>(n);
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_Open(int deviceIndex, FT_HANDLE* handle) {
    if (handle == nullptr || deviceIndex < 0) {
        return FT_INVALID_PARAMETER;
    }
    ftdi_device_list* list = nullptr;
    int n = impl_->List(&list);
    if (n <= deviceIndex) {
        if (list != nullptr) {
            ftdi_list_free(&list);
        }
        return n < 0 ? FT_IO_ERROR : FT_DEVICE_NOT_FOUND;
    }
    ftdi_device_list* entry = list;
    for (int i = 0; i < deviceIndex; ++i) {
        entry = entry->next;
    }
    ftdi_context* ctx = ftdi_new();
    if (ctx == nullptr) {
        ftdi_list_free(&list);
        impl_->detail = "out of memory or USB access is not available";
        return FT_INSUFFICIENT_RESOURCES;
    }
    // Opening detaches the kernel's serial driver from the adapter (libftdi's default).
    int r = ftdi_usb_open_dev(ctx, entry->dev);
    ftdi_list_free(&list);
    if (r < 0) {
        impl_->detail = ftdi_get_error_string(ctx);
        ftdi_free(ctx);
        return FT_DEVICE_NOT_OPENED;
    }
    // A previous user may have left the chip in a bit-bang mode.
    ftdi_set_bitmode(ctx, 0, BITMODE_RESET);
    auto* d = new Device;
    d->ctx = ctx;
    impl_->devices.insert(d);
    *handle = d;
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_Close(FT_HANDLE handle) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int r = ftdi_usb_close(d->ctx);
    FT_STATUS status = r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
    ftdi_free(d->ctx);
    impl_->devices.erase(d);
    delete d;
    return status;
}

FT_STATUS LibFtdiLibrary::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                                  std::uint32_t* countRead) {
    return impl_->Read(handle, buffer, count, countRead, true);
}

FT_STATUS LibFtdiLibrary::ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                                   std::uint32_t* countRead) {
    return impl_->Read(handle, buffer, count, countRead, false);
}

FT_STATUS LibFtdiLibrary::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                                   std::uint32_t* countWritten) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (buffer == nullptr || countWritten == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *countWritten = 0;
    int n =
        ftdi_write_data(d->ctx, static_cast<const unsigned char*>(buffer), static_cast<int>(count));
    if (n < 0) {
        return impl_->Fail(d->ctx, n);
    }
    *countWritten = static_cast<std::uint32_t>(n);
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baud) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int r = ftdi_set_baudrate(d->ctx, static_cast<int>(baud));
    if (r == -1) {
        impl_->detail = ftdi_get_error_string(d->ctx);
        return FT_INVALID_BAUD_RATE;
    }
    return r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                                    std::uint8_t stopBits, std::uint8_t parity) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE) {
        return FT_INVALID_PARAMETER;
    }
    d->bits = wordLength == FT_BITS_7 ? BITS_7 : BITS_8;
    d->stopBits = stopBits == FT_STOP_BITS_2 ? STOP_BIT_2 : STOP_BIT_1;
    static constexpr ftdi_parity_type kParity[] = {NONE, ODD, EVEN, MARK, SPACE};
    d->parity = kParity[parity];
    int r = ftdi_set_line_property2(d->ctx, d->bits, d->stopBits, d->parity, BREAK_OFF);
    return r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl,
                                            std::uint8_t xon, std::uint8_t xoff) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int r = 0;
    switch (flowControl) {
    case FT_FLOW_NONE:
        r = ftdi_setflowctrl(d->ctx, SIO_DISABLE_FLOW_CTRL);
        break;
    case FT_FLOW_RTS_CTS:
        r = ftdi_setflowctrl(d->ctx, SIO_RTS_CTS_HS);
        break;
    case FT_FLOW_DTR_DSR:
        r = ftdi_setflowctrl(d->ctx, SIO_DTR_DSR_HS);
        break;
    case FT_FLOW_XON_XOFF:
        r = ftdi_setflowctrl_xonxoff(d->ctx, xon, xoff);
        break;
    default:
        return FT_INVALID_PARAMETER;
    }
    return r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetRts(FT_HANDLE handle) {
    return impl_->Call(handle, [](ftdi_context* ctx) { return ftdi_setrts(ctx, 1); });
}

FT_STATUS LibFtdiLibrary::FT_ClrRts(FT_HANDLE handle) {
    return impl_->Call(handle, [](ftdi_context* ctx) { return ftdi_setrts(ctx, 0); });
}

FT_STATUS LibFtdiLibrary::FT_SetDtr(FT_HANDLE handle) {
    return impl_->Call(handle, [](ftdi_context* ctx) { return ftdi_setdtr(ctx, 1); });
}

FT_STATUS LibFtdiLibrary::FT_ClrDtr(FT_HANDLE handle) {
    return impl_->Call(handle, [](ftdi_context* ctx) { return ftdi_setdtr(ctx, 0); });
}

FT_STATUS LibFtdiLibrary::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) {
        return FT_INVALID_PARAMETER;
    }
    if ((mask & FT_PURGE_RX) != 0) {
        d->readAhead.clear();
        int r = ftdi_tciflush(d->ctx);
        if (r < 0) {
            return impl_->Fail(d->ctx, r);
        }
    }
    if ((mask & FT_PURGE_TX) != 0) {
        int r = ftdi_tcoflush(d->ctx);
        if (r < 0) {
            return impl_->Fail(d->ctx, r);
        }
    }
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                                         std::uint32_t writeMs) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    d->readTimeoutMs = readMs;
    d->ctx->usb_read_timeout = static_cast<int>(readMs);
    d->ctx->usb_write_timeout = static_cast<int>(writeMs);
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rxBytes) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    // Bytes already here are counted without asking the adapter: a transfer would cost up to
    // a latency period, and a reply taken byte by byte would pay it for every byte.
    if (d->readAhead.empty()) {
        if (FT_STATUS s = impl_->Fill(*d); s != FT_OK) {
            return s;
        }
    }
    *rxBytes = static_cast<std::uint32_t>(d->readAhead.size());
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetBreakOff(FT_HANDLE handle) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int r = ftdi_set_line_property2(d->ctx, d->bits, d->stopBits, d->parity, BREAK_OFF);
    return r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_GetStatus(FT_HANDLE handle, std::uint32_t* rxBytes,
                                       std::uint32_t* txBytes, std::uint32_t* eventStatus) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr || txBytes == nullptr || eventStatus == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (d->readAhead.empty()) {
        if (FT_STATUS s = impl_->Fill(*d); s != FT_OK) {
            return s;
        }
    }
    *rxBytes = static_cast<std::uint32_t>(d->readAhead.size());
    // libftdi's write returns once the adapter has taken the bytes, so nothing is ever left
    // waiting on this side.
    *txBytes = 0;
    *eventStatus = 0;
    return FT_OK;
}

FT_STATUS LibFtdiLibrary::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
    Device* d = impl_->Find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (ms == 0) {
        return FT_INVALID_PARAMETER;
    }
    int r = ftdi_set_latency_timer(d->ctx, ms);
    return r < 0 ? impl_->Fail(d->ctx, r) : FT_OK;
}

bool ListFtdiAdapters(std::vector<FtdiAdapterInfo>& adapters, std::string& error) {
    adapters.clear();
    ftdi_context* ctx = ftdi_new();
    if (ctx == nullptr) {
        error = "USB access is not available";
        return false;
    }
    ftdi_device_list* list = nullptr;
    int n = ftdi_usb_find_all(ctx, &list, 0, 0);
    if (n < 0) {
        error = ftdi_get_error_string(ctx);
        ftdi_free(ctx);
        return false;
    }
    for (ftdi_device_list* entry = list; entry != nullptr; entry = entry->next) {
        char manufacturer[128] = "";
        char description[128] = "";
        char serial[128] = "";
        FtdiAdapterInfo info;
        // Reading the strings opens the USB device (without claiming it), which needs the
        // same access as using it.
        if (ftdi_usb_get_strings(ctx, entry->dev, manufacturer, sizeof manufacturer, description,
                                 sizeof description, serial, sizeof serial) < 0) {
            info.problem = ftdi_get_error_string(ctx);
        }
        info.manufacturer = manufacturer;
        info.description = description;
        info.serial = serial;
        adapters.push_back(std::move(info));
    }
    if (list != nullptr) {
        ftdi_list_free(&list);
    }
    ftdi_free(ctx);
    return true;
}

} // namespace comlink
