// The optional traffic log: every byte sent and received in hexadecimal, a header with the
// time spent in the previous direction at each change of direction, flushed after every entry
// so that the file is complete whenever the program stops.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace comlink {

class TrafficLog {
public:
    TrafficLog() = default;
    ~TrafficLog() { Close(); }
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // Creates or truncates the file and writes the "COM" + port number line. On failure the
    // log stays closed and error says why.
    bool Start(const std::string& name, std::uint16_t portNumber, std::string& error);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    void Sent(std::uint8_t b, std::uint16_t baud);
    void Received(std::uint8_t b, std::uint16_t baud);
    void Timeout(std::uint16_t baud);

private:
    void Entry(bool sent, const std::string& text, std::uint16_t baud);
    std::string Header(std::uint32_t now, bool sent, std::uint16_t baud) const;

    std::FILE* file_ = nullptr;
    std::int32_t sentCount_ = 0;
    std::int32_t receivedCount_ = 0;
    std::uint32_t startTick_ = 0;
    bool firstEntry_ = true;
};

} // namespace comlink
