// The serial device as a transport: the installed serial-port library, looked up on every
// call so that a library installed while the link runs takes over at once.
#include "link/serial_library.h"
#include "link/transport.h"
#include "transport_support.h"

namespace comlink {

namespace {

// One character (10 bit times) at the given rate, within sane bounds: the pause between two
// looks at a draining transmitter.
std::chrono::microseconds CharacterTime(std::uint32_t baud) {
    const std::uint32_t us = baud == 0 ? 2000 : 10000000u / baud;
    return std::chrono::microseconds(us < 50 ? 50 : (us > 2000 ? 2000 : us));
}

class SerialTransport final : public Transport {
public:
    explicit SerialTransport(std::string device) : device_(std::move(device)) {}

    OpenResult Open(std::uint32_t baud) override {
        auto& serial = Serial();
        serial.CLOSECOM();
        if (serial.OPENCOM(SerialSettings{device_, baud}) < 0) {
            return OpenResult::Failed;
        }
        baud_ = baud;
        // Asked on every open, rate changes included; a driver that has no such setting
        // refuses and the port works as it is.
        serial.RequestLowLatency();
        return OpenResult::Open;
    }

    void Close() override { Serial().CLOSECOM(); }
    bool IsOpen() const override { return Serial().IsOpen(); }
    std::string Failure() const override { return Serial().LastError(); }

    SendResult Send(std::uint8_t b) override {
        auto& serial = Serial();
        const bool drained = WaitDrained([&] { return serial.IsOpen() && serial.OUTBUFFER() != 0; },
                                         CharacterTime(baud_));
        if (!drained) {
            return SendResult::Stuck;
        }
        return serial.SENDBYTE(b) < 0 ? SendResult::Refused : SendResult::Sent;
    }

    void Discard(const std::function<void(std::uint8_t)>& dropped) override {
        auto& serial = Serial();
        if (!serial.IsOpen()) {
            return; // a vanished device is left to the next exchange to take up
        }
        for (int n = 0; n < kPurgeLimit && serial.INBUFFER() != 0; ++n) {
            const int value = serial.READBYTE();
            if (value < 0) {
                break;
            }
            dropped(static_cast<std::uint8_t>(value & 0xFF));
        }
    }

    bool SetRate(std::uint32_t baud) override { return Open(baud) == OpenResult::Open; }

    void SetModemLine(ModemLine line, bool on) override {
        if (line == ModemLine::Rts) {
            Serial().RTS(on ? 1 : 0);
        } else {
            Serial().DTR(on ? 1 : 0);
        }
    }

    ModemLine LineOfId(int id) const override { return id == 2 ? ModemLine::Rts : ModemLine::Dtr; }

protected:
    bool InputWaiting() override { return Serial().INBUFFER() != 0; }
    bool BlockUntilInput(std::uint32_t timeoutMs) override {
        return Serial().WaitReadable(timeoutMs);
    }
    int TakeByte() override { return Serial().READBYTE(); }

private:
    std::string device_;
    std::uint32_t baud_ = 9600;
};

} // namespace

std::unique_ptr<Transport> MakeSerialTransport(const std::string& device) {
    return std::make_unique<SerialTransport>(device);
}

} // namespace comlink
