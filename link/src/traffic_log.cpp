#include "traffic_log.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"

#include <cerrno>
#include <cstring>

namespace comlink {

namespace {

// A line holds 39 sent or 33 received entries: it breaks once the count is above these.
constexpr std::int32_t kSentLineLimit = 38;
constexpr std::int32_t kReceivedLineLimit = 32;

} // namespace

bool TrafficLog::Start(const std::string& name, std::uint16_t portNumber, std::string& error) {
    Close();
    file_ = std::fopen(name.c_str(), "wb");
    if (file_ == nullptr) {
        error = "traffic log " + name + ": " + std::strerror(errno);
        return false;
    }
    // A new file starts a new record: the first entry gets its header again.
    sentCount_ = 0;
    receivedCount_ = 0;
    firstEntry_ = true;
    std::string line = "COM" + std::to_string(portNumber) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
    return true;
}

void TrafficLog::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void TrafficLog::Sent(std::uint8_t b, std::uint16_t baud) {
    Entry(true, foundation::ByteToHex(b), baud);
}

void TrafficLog::Received(std::uint8_t b, std::uint16_t baud) {
    Entry(false, foundation::ByteToHex(b), baud);
}

void TrafficLog::Timeout(std::uint16_t baud) {
    Entry(false, "timeout", baud);
}

std::string TrafficLog::Header(std::uint32_t now, bool sent, std::uint16_t baud) const {
    char elapsed[16];
    std::snprintf(elapsed, sizeof elapsed, "%3u",
                  static_cast<unsigned>((now - startTick_) % 10000));
    return std::string(elapsed) + (sent ? " snd" : " rcv") + std::to_string(baud) + ": ";
}

void TrafficLog::Entry(bool sent, const std::string& text, std::uint16_t baud) {
    if (file_ == nullptr) {
        return;
    }
    std::int32_t& mine = sent ? sentCount_ : receivedCount_;
    std::int32_t& other = sent ? receivedCount_ : sentCount_;
    const std::int32_t limit = sent ? kSentLineLimit : kReceivedLineLimit;
    std::uint32_t now = foundation::TickMs();
    std::string out;
    if (firstEntry_) {
        firstEntry_ = false;
        startTick_ = now;
        out += Header(now, sent, baud);
    }
    if (other > 0) {
        out += '\n';
        out += Header(now, sent, baud);
        other = 0;
        startTick_ = now;
    }
    if (mine > limit) {
        out += '\n';
        mine = 0;
    }
    out += text;
    ++mine;
    std::fwrite(out.data(), 1, out.size(), file_);
    std::fflush(file_);
}

} // namespace comlink
