#include "sim/dump.h"

#include <cstdio>

namespace sim {

namespace {

void AppendHex(std::string& text, unsigned value) {
    static const char* digits = "0123456789ABCDEF";
    text += digits[(value >> 4) & 0xF];
    text += digits[value & 0xF];
}

} // namespace

std::string IntelHex(const std::vector<std::uint8_t>& data, const std::vector<bool>* written) {
    auto taken = [&](std::size_t a) { return written == nullptr || (*written)[a]; };
    const std::size_t size = std::min<std::size_t>(data.size(), 0x10000);
    std::string text;
    std::size_t address = 0;
    while (address < size) {
        if (!taken(address)) {
            ++address;
            continue;
        }
        std::size_t count = 0;
        while (address + count < size && count < 16 && taken(address + count) &&
               (count == 0 || (address + count) % 16 != 0)) {
            ++count;
        }
        unsigned sum = static_cast<unsigned>(count + (address >> 8) + (address & 0xFF));
        text += ':';
        AppendHex(text, static_cast<unsigned>(count));
        AppendHex(text, static_cast<unsigned>(address >> 8));
        AppendHex(text, static_cast<unsigned>(address & 0xFF));
        AppendHex(text, 0);
        for (std::size_t i = 0; i < count; ++i) {
            AppendHex(text, data[address + i]);
            sum += data[address + i];
        }
        AppendHex(text, (0x100 - (sum & 0xFF)) & 0xFF);
        text += '\n';
        address += count;
    }
    text += ":00000001FF\n";
    return text;
}

std::string FormatTraffic(const TrafficEntry& entry, std::uint64_t originUs) {
    double ms = static_cast<double>(static_cast<long long>(entry.endNs) -
                                    static_cast<long long>(originUs * 1000)) /
                1e6;
    char line[96];
    bool toPc = entry.direction == TrafficEntry::Direction::ToPc;
    char where[16];
    if (entry.channel == 0) {
        std::snprintf(where, sizeof where, "--");
    } else if (entry.slot == 0) {
        std::snprintf(where, sizeof where, "ch%d", entry.channel);
    } else {
        std::snprintf(where, sizeof where, "ch%d/%d", entry.channel, entry.slot);
    }
    std::snprintf(line, sizeof line, "%12.6f ms  %-6s %s  %02X%s", ms, where,
                  toPc ? "MC>PC" : "PC>MC", entry.byte,
                  toPc && !entry.heard ? "  (not heard)" : "");
    return line;
}

} // namespace sim
