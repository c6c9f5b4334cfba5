#include "fake_serial.h"

#include "foundation/numbers.h"

#include <algorithm>

namespace testing_support {

int FakeSerialLibrary::OPENCOM(const comlink::SerialSettings& settings) {
    calls.push_back("OPENCOM " + settings.device + " " + std::to_string(settings.baud));
    open_ = false;
    lowLatency_ = false;
    if (!present_) {
        lastError_ = openError_;
        return -1;
    }
    open_ = true;
    lastOpenAtUs = clock_.NowUs();
    lastError_.clear();
    return 0;
}

bool FakeSerialLibrary::RequestLowLatency() {
    calls.push_back("LOWLATENCY");
    lowLatency_ = open_ && !lowLatencyRefused_;
    return lowLatency_;
}

void FakeSerialLibrary::CLOSECOM() {
    calls.push_back("CLOSECOM");
    open_ = false;
}

int FakeSerialLibrary::SENDBYTE(std::uint8_t b) {
    calls.push_back("SENDBYTE " + foundation::ByteToHex(b));
    if (!open_) {
        return -1;
    }
    if (responder_) {
        if (auto reply = responder_(b)) {
            Arrive(*reply, replyDelayMs_);
        }
    }
    return 0;
}

int FakeSerialLibrary::READBYTE() {
    if (!open_ || input_.empty() || input_.front().atUs > clock_.NowUs()) {
        return -1;
    }
    int b = input_.front().b;
    input_.pop_front();
    return b;
}

int FakeSerialLibrary::INBUFFER() {
    ++inBufferCalls;
    if (!open_) {
        return 0;
    }
    auto now = clock_.NowUs();
    return static_cast<int>(std::count_if(input_.begin(), input_.end(),
                                          [&](const Arrival& a) { return a.atUs <= now; }));
}

int FakeSerialLibrary::OUTBUFFER() {
    ++outBufferCalls;
    if (onOutBuffer) {
        onOutBuffer();
    }
    if (!open_ || outBuffer_.empty()) {
        return 0;
    }
    int n = outBuffer_.front();
    outBuffer_.pop_front();
    return n;
}

void FakeSerialLibrary::RTS(int on) {
    calls.push_back("RTS " + std::to_string(on));
}

void FakeSerialLibrary::DTR(int on) {
    calls.push_back("DTR " + std::to_string(on));
}

void FakeSerialLibrary::Arrive(std::uint8_t b, std::uint32_t delayMs) {
    std::uint64_t at = clock_.NowUs() + std::uint64_t{delayMs} * 1000;
    // Bytes leave the line in order: a later byte never overtakes an earlier one.
    if (!input_.empty() && input_.back().atUs > at) {
        at = input_.back().atUs;
    }
    input_.push_back({at, b});
}

void FakeSerialLibrary::Vanish() {
    open_ = false;
    present_ = false;
    input_.clear();
    lastError_ = "/dev/ttyUSB0: device lost (hung up)";
    openError_ = "/dev/ttyUSB0: No such file or directory";
}

std::vector<std::string> FakeSerialLibrary::LineCalls() const {
    std::vector<std::string> lines;
    for (const auto& c : calls) {
        if (c.rfind("RTS", 0) == 0 || c.rfind("DTR", 0) == 0) {
            lines.push_back(c);
        }
    }
    return lines;
}

} // namespace testing_support
