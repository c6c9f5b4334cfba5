// A scripted serial-port library: records what the link does to the port, delivers bytes at
// chosen times of a fake clock, and can make the device vanish and come back.
#pragma once

#include "foundation/clock.h"
#include "link/serial_library.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class FakeSerialLibrary final : public comlink::SerialLibrary {
public:
    explicit FakeSerialLibrary(foundation::FakeClock& clock) : clock_(clock) {}

    int OPENCOM(const comlink::SerialSettings& settings) override;
    void CLOSECOM() override;
    int SENDBYTE(std::uint8_t b) override;
    int READBYTE() override;
    int INBUFFER() override;
    int OUTBUFFER() override;
    void RTS(int on) override;
    void DTR(int on) override;
    bool IsOpen() const override { return open_; }
    std::string LastError() const override { return lastError_; }
    bool RequestLowLatency() override;

    // A byte that becomes readable delayMs after now on the fake clock.
    void Arrive(std::uint8_t b, std::uint32_t delayMs = 0);
    // The device disappears: the port drops and OPENCOM fails until Reappear().
    void Vanish();
    void Reappear() { present_ = true; }
    // OPENCOM fails with this text (the device is missing or not accessible).
    void RefuseOpen(const std::string& error) {
        present_ = false;
        openError_ = error;
    }
    // Every byte sent gets the answer the responder gives, replyDelayMs later.
    void Answer(std::function<std::optional<std::uint8_t>(std::uint8_t)> responder,
                std::uint32_t replyDelayMs) {
        responder_ = std::move(responder);
        replyDelayMs_ = replyDelayMs;
    }
    // The device has no low-latency setting: the request is refused.
    void RefuseLowLatency() { lowLatencyRefused_ = true; }
    bool LowLatency() const { return lowLatency_; }
    // OUTBUFFER answers these values one by one, then 0.
    void ScriptOutBuffer(std::vector<int> values) {
        outBuffer_.assign(values.begin(), values.end());
    }

    // OPENCOM, CLOSECOM, SENDBYTE, RTS, DTR and low-latency requests in order, e.g.
    // "OPENCOM /dev/ttyS1 9600", "LOWLATENCY", "RTS 1", "SENDBYTE 41".
    std::vector<std::string> calls;
    // Only the RTS and DTR calls.
    std::vector<std::string> LineCalls() const;
    int outBufferCalls = 0;
    // Runs at every OUTBUFFER call, before it answers.
    std::function<void()> onOutBuffer;
    int inBufferCalls = 0;
    std::uint64_t lastOpenAtUs = 0;

private:
    struct Arrival {
        std::uint64_t atUs;
        std::uint8_t b;
    };

    foundation::FakeClock& clock_;
    bool open_ = false;
    bool present_ = true;
    bool lowLatency_ = false;
    bool lowLatencyRefused_ = false;
    std::string openError_ = "/dev/ttyS0: No such file or directory";
    std::string lastError_;
    std::deque<Arrival> input_;
    std::deque<int> outBuffer_;
    std::function<std::optional<std::uint8_t>(std::uint8_t)> responder_;
    std::uint32_t replyDelayMs_ = 0;
};

} // namespace testing_support
