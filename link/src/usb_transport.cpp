// The FTDI adapter as a transport, over the USB port's D2XX operations: the open sequence,
// the drain wait where the library can report one, and the read-ahead that is looked at
// before the adapter is asked for more.
#include "foundation/numbers.h"
#include "link/d2xx.h"
#include "link/transport.h"
#include "transport_support.h"

namespace comlink {

namespace {

// The FTDI queue cannot be waited on; between two looks the program pauses this long, short
// enough for a reply to be taken well within a character time.
constexpr std::chrono::microseconds kUsbPollInterval{200};

std::string UsbFailureText() {
    std::string text = Usb().lastError;
    std::string detail = Ftdi().LastDetail();
    if (detail.empty()) {
        return text.empty() ? "USB adapter failed" : text;
    }
    return text.empty() ? detail : text + " (" + detail + ")";
}

class UsbTransport final : public Transport {
public:
    explicit UsbTransport(unsigned adapterIndex) : index_(adapterIndex) {}

    OpenResult Open(std::uint32_t baud) override {
        auto& u = Usb();
        GetFTDeviceCount();
        if (u.deviceCount <= index_) {
            foundation::ToolsError() = "USB not connected";
            failure_ = "USB not connected";
            if (u.deviceCount > 0) {
                failure_ = "USB" + std::to_string(index_) + " not connected (" +
                           std::to_string(u.deviceCount) + " FTDI adapter" +
                           (u.deviceCount == 1 ? "" : "s") + " attached)";
            }
            return OpenResult::Absent;
        }
        if (u.handle != nullptr) {
            UsbClose();
        }
        u.deviceIndex = static_cast<int>(index_);
        if (UsbOpen() != FT_OK) {
            failure_ = UsbFailureText();
            return OpenResult::Failed;
        }
        u.dataBits = FT_BITS_8;
        u.stopBits = FT_STOP_BITS_1;
        u.parity = FT_PARITY_NONE;
        UsbSetDataCharacteristics();
        u.flowControl = FT_FLOW_NONE;
        u.xonChar = 0x11;
        u.xoffChar = 0x13;
        UsbSetFlowControl();
        u.baudRate = baud;
        UsbSetBaudRate();
        UsbSetLatencyTimer(2);
        UsbSetBreakOff();
        UsbPurgeTx();
        UsbSetTimeouts(500, 500);
        UsbSetDtr();   // line 2 on
        UsbClearRts(); // line 1 off
        // A setting that failed is left in the error text as it always was; an adapter that
        // went away in the middle of it is a failed open.
        if (u.usbClosed) {
            failure_ = UsbFailureText();
            return OpenResult::Failed;
        }
        failure_.clear();
        return OpenResult::Open;
    }

    void Close() override {
        if (Usb().handle != nullptr) {
            UsbClose();
        }
    }

    bool IsOpen() const override { return !Usb().usbClosed; }

    std::string Failure() const override { return failure_.empty() ? UsbFailureText() : failure_; }

    SendResult Send(std::uint8_t b) override {
        auto& u = Usb();
        failure_.clear();
        // Where the library keeps no transmit count (libftdi), its write has returned once
        // the adapter holds the bytes; looking would only cost a USB transfer per byte.
        if (Ftdi().ReportsTransmitQueue()) {
            const bool drained =
                WaitDrained([&] { return UsbGetStatus() == FT_OK && u.transmitQueueCount != 0; },
                            kUsbPollInterval);
            if (!drained) {
                return SendResult::Stuck;
            }
        }
        if (u.usbClosed) {
            return SendResult::Refused;
        }
        u.transmitBuffer[0] = b;
        std::uint32_t written = 0;
        return UsbWrite(1, written) == FT_OK && written == 1 ? SendResult::Sent
                                                             : SendResult::Refused;
    }

    void Discard(const std::function<void(std::uint8_t)>& dropped) override {
        // The read-ahead never holds more than the receive buffer.
        std::uint32_t got = 0;
        if (UsbReadHeld(kUsbBufferSize, got) != FT_OK) {
            return;
        }
        for (std::uint32_t i = 0; i < got; ++i) {
            dropped(Usb().receiveBuffer[i]);
        }
    }

    bool SetRate(std::uint32_t baud) override {
        failure_.clear();
        Usb().baudRate = baud;
        return UsbSetBaudRate() == FT_OK;
    }

    void SetModemLine(ModemLine line, bool on) override {
        if (Usb().usbClosed) {
            return; // no handle to drive lines with; the next open sets them
        }
        if (line == ModemLine::Rts) {
            on ? UsbSetRts() : UsbClearRts();
        } else {
            on ? UsbSetDtr() : UsbClearDtr();
        }
    }

    ModemLine LineOfId(int id) const override { return id == 2 ? ModemLine::Dtr : ModemLine::Rts; }

protected:
    bool InputWaiting() override {
        // With libftdi this asks the adapter only when its read-ahead is empty.
        return UsbGetQueueStatus() == FT_OK && Usb().receiveQueueCount != 0;
    }

    bool BlockUntilInput(std::uint32_t timeoutMs) override {
        const Deadline deadline(timeoutMs);
        for (;;) {
            if (InputWaiting()) {
                return true;
            }
            if (Usb().usbClosed || deadline.Passed() || StopRequested()) {
                return false;
            }
            PauseBeforeNextLook(kUsbPollInterval);
        }
    }

    int TakeByte() override {
        std::uint32_t n = 0;
        if (UsbRead(1, n) != FT_OK || n != 1) {
            return -1;
        }
        return Usb().receiveBuffer[0];
    }

private:
    unsigned index_;
    std::string failure_;
};

} // namespace

std::unique_ptr<Transport> MakeUsbTransport(unsigned adapterIndex) {
    return std::make_unique<UsbTransport>(adapterIndex);
}

} // namespace comlink
