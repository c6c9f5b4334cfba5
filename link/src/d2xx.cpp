#include "link/d2xx.h"

#include "link/libftdi_library.h"

#include <algorithm>
#include <memory>

namespace comlink {

namespace {

FtLibrary* installed = nullptr;

FtLibrary& DefaultLibrary() {
    static LibFtdiLibrary library;
    return library;
}

D2xxState& State() {
    static auto state = std::make_unique<D2xxState>();
    return *state;
}

// Statuses after which the handle cannot be used again even though an adapter is still
// attached: after a quick unplug and replug the old handle only ever answers with these,
// so waiting for a device count of 0 would leave the port dead for good.
bool HandleIsDead(FT_STATUS status) {
    return status == FT_INVALID_HANDLE || status == FT_DEVICE_NOT_FOUND ||
           status == FT_DEVICE_NOT_OPENED || status == FT_IO_ERROR;
}

FT_STATUS Checked(const char* name, FT_STATUS status) {
    if (status != FT_OK) {
        ReportFtError(name, status);
    }
    return status;
}

// Into the receive buffer, never beyond it; heldOnly takes only what the library already has.
FT_STATUS ReadIntoBuffer(bool heldOnly, std::uint32_t count, std::uint32_t& countRead) {
    auto& u = Usb();
    countRead = 0;
    count = std::min<std::uint32_t>(count, kUsbBufferSize);
    auto* buffer = u.receiveBuffer.data();
    return Checked("FT_Read", heldOnly ? Ftdi().ReadHeld(u.handle, buffer, count, &countRead)
                                       : Ftdi().FT_Read(u.handle, buffer, count, &countRead));
}

} // namespace

FT_STATUS FtLibrary::ReadHeld(FT_HANDLE handle, void* buffer, std::uint32_t count,
                              std::uint32_t* countRead) {
    *countRead = 0;
    std::uint32_t queued = 0;
    if (FT_STATUS s = FT_GetQueueStatus(handle, &queued); s != FT_OK) {
        return s;
    }
    return queued == 0 ? FT_OK : FT_Read(handle, buffer, std::min(count, queued), countRead);
}

FtLibrary& Ftdi() {
    return installed != nullptr ? *installed : DefaultLibrary();
}

void SetFtLibrary(FtLibrary* library) {
    installed = library;
}

D2xxState& Usb() {
    return State();
}

void ResetUsb() {
    State() = D2xxState{};
}

std::string FtStatusText(FT_STATUS status) {
    static const char* const kTexts[] = {
        "",
        " - Invalid handle...",
        " - Device not found...",
        " - Device not opened...",
        " - General IO error...",
        " - Insufficient resources...",
        " - Invalid parameter...",
        " - Invalid baud rate...",
        " Device not opened for erase...",
        " Device not opened for write...",
        " - Failed to write...",
        " - EEPROM read failed...",
        " - EEPROM write failed...",
        " - EEPROM erase failed...",
        " - EEPROM not present...",
        " - EEPROM not programmed...",
        " - Invalid arguments...",
        " - Other error ...",
    };
    return status < std::size(kTexts) ? kTexts[status] : "";
}

void ReportFtError(const std::string& name, FT_STATUS status) {
    auto& u = Usb();
    u.lastError = status <= FT_OTHER_ERROR ? name + FtStatusText(status) : std::string();
    if (name == "GetFTDeviceCount") {
        return;
    }
    GetFTDeviceCount();
    if (u.deviceCount == 0 || HandleIsDead(status)) {
        u.usbClosed = true;
    }
}

FT_STATUS GetFTDeviceCount() {
    auto& u = Usb();
    std::uint32_t count = 0;
    FT_STATUS s = Ftdi().FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    // A listing that failed found nothing usable.
    u.deviceCount = s == FT_OK ? count : 0;
    return Checked("GetFTDeviceCount", s);
}

FT_STATUS UsbOpen() {
    auto& u = Usb();
    FT_HANDLE handle = nullptr;
    FT_STATUS s = Ftdi().FT_Open(u.deviceIndex, &handle);
    if (s == FT_OK) {
        u.handle = handle;
        u.usbClosed = false;
    }
    return Checked("FT_Open", s);
}

FT_STATUS UsbClose() {
    auto& u = Usb();
    FT_STATUS s = Ftdi().FT_Close(u.handle);
    // The library releases the handle whatever it answered; using it again would reach freed
    // memory.
    u.handle = nullptr;
    u.usbClosed = true;
    return Checked("FT_Close", s);
}

FT_STATUS UsbRead(std::uint32_t count, std::uint32_t& countRead) {
    return ReadIntoBuffer(false, count, countRead);
}

FT_STATUS UsbWrite(std::uint32_t count, std::uint32_t& countWritten) {
    auto& u = Usb();
    countWritten = 0;
    if (count > kUsbBufferSize) {
        count = kUsbBufferSize;
    }
    return Checked("FT_Write",
                   Ftdi().FT_Write(u.handle, u.transmitBuffer.data(), count, &countWritten));
}

FT_STATUS UsbReadHeld(std::uint32_t count, std::uint32_t& countRead) {
    return ReadIntoBuffer(true, count, countRead);
}

FT_STATUS UsbSetBaudRate() {
    auto& u = Usb();
    return Checked("FT_SetBaudRate", Ftdi().FT_SetBaudRate(u.handle, u.baudRate));
}

FT_STATUS UsbSetDataCharacteristics() {
    auto& u = Usb();
    return Checked("FT_SetDataCharacteristics",
                   Ftdi().FT_SetDataCharacteristics(u.handle, u.dataBits, u.stopBits, u.parity));
}

FT_STATUS UsbSetFlowControl() {
    auto& u = Usb();
    return Checked("FT_SetFlowControl",
                   Ftdi().FT_SetFlowControl(u.handle, u.flowControl, u.xonChar, u.xoffChar));
}

FT_STATUS UsbSetRts() {
    return Checked("FT_SetRTS", Ftdi().FT_SetRts(Usb().handle));
}

FT_STATUS UsbClearRts() {
    return Checked("FT_ClrRTS", Ftdi().FT_ClrRts(Usb().handle));
}

FT_STATUS UsbSetDtr() {
    return Checked("FT_SetDTR", Ftdi().FT_SetDtr(Usb().handle));
}

FT_STATUS UsbClearDtr() {
    return Checked("FT_ClrDTR", Ftdi().FT_ClrDtr(Usb().handle));
}

FT_STATUS UsbPurgeTx() {
    return Checked("FT_Purge TX", Ftdi().FT_Purge(Usb().handle, FT_PURGE_TX));
}

FT_STATUS UsbSetTimeouts(std::uint16_t readMs, std::uint16_t writeMs) {
    auto& u = Usb();
    u.readTimeout = readMs;
    u.writeTimeout = writeMs;
    return Checked("FT_SetTimeouts", Ftdi().FT_SetTimeouts(u.handle, readMs, writeMs));
}

FT_STATUS UsbGetQueueStatus() {
    auto& u = Usb();
    FT_STATUS s = Ftdi().FT_GetQueueStatus(u.handle, &u.receiveQueueCount);
    if (s != FT_OK) {
        u.receiveQueueCount = 0;
    }
    return Checked("FT_GetQueueStatus", s);
}

FT_STATUS UsbSetBreakOff() {
    return Checked("FT_SetBreakOff", Ftdi().FT_SetBreakOff(Usb().handle));
}

FT_STATUS UsbGetStatus() {
    auto& u = Usb();
    FT_STATUS s =
        Ftdi().FT_GetStatus(u.handle, &u.receiveQueueCount, &u.transmitQueueCount, &u.eventStatus);
    if (s != FT_OK) {
        u.receiveQueueCount = 0;
        u.transmitQueueCount = 0;
    }
    return Checked("FT_GetStatus", s);
}

FT_STATUS UsbSetLatencyTimer(std::uint16_t ms) {
    auto& u = Usb();
    u.latency = ms;
    // The adapter's timer is one byte wide.
    auto timer = static_cast<std::uint8_t>(ms > 255 ? 255 : ms);
    return Checked("FT_SetLatencyTimer ", Ftdi().FT_SetLatencyTimer(u.handle, timer));
}

} // namespace comlink
