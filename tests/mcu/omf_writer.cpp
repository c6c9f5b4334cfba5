#include "omf_writer.h"

#include <fstream>

namespace omf {

std::vector<std::uint8_t> Record(std::uint8_t type, const std::vector<std::uint8_t>& content) {
    const std::size_t length = content.size() + 1; // the checksum counts too
    // Sized once: growing a three-byte vector by insert trips GCC 12's -Warray-bounds at -O2.
    std::vector<std::uint8_t> r;
    r.reserve(content.size() + 4);
    r.push_back(type);
    r.push_back(static_cast<std::uint8_t>(length & 0xFF));
    r.push_back(static_cast<std::uint8_t>(length >> 8));
    r.insert(r.end(), content.begin(), content.end());
    std::uint8_t sum = 0;
    for (auto b : r) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    r.push_back(static_cast<std::uint8_t>(-sum));
    return r;
}

std::vector<std::uint8_t> ModuleHeader(const std::string& name) {
    std::vector<std::uint8_t> c{static_cast<std::uint8_t>(name.size())};
    c.insert(c.end(), name.begin(), name.end());
    c.push_back(0xFD); // translator id
    c.push_back(0x00);
    return Record(0x02, c);
}

std::vector<std::uint8_t> FollowingRecord(std::size_t contentBytes) {
    std::vector<std::uint8_t> c(contentBytes, 0x55);
    c[0] = 0x01;
    c[1] = static_cast<std::uint8_t>(contentBytes + 1 - 3);
    return Record(0x0E, c);
}

std::vector<std::uint8_t> DebugItems(const std::vector<Symbol>& symbols) {
    std::vector<std::uint8_t> c{0x00}; // definition type: local symbols
    for (const auto& s : symbols) {
        c.push_back(s.segmentId);
        c.push_back(s.info);
        c.push_back(static_cast<std::uint8_t>(s.value & 0xFF));
        c.push_back(static_cast<std::uint8_t>(s.value >> 8));
        c.push_back(0x00);
        c.push_back(static_cast<std::uint8_t>(s.name.size()));
        c.insert(c.end(), s.name.begin(), s.name.end());
    }
    return Record(0x12, c);
}

std::vector<std::uint8_t> ObjectFile(const std::vector<std::vector<Symbol>>& debugRecords) {
    std::vector<std::uint8_t> file = ModuleHeader("APPL");
    auto following = FollowingRecord(12);
    file.insert(file.end(), following.begin(), following.end());
    for (const auto& symbols : debugRecords) {
        auto r = DebugItems(symbols);
        file.insert(file.end(), r.begin(), r.end());
    }
    auto end = Record(0x04, {'E', 'N', 'D', 0x00});
    file.insert(file.end(), end.begin(), end.end());
    return file;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace omf
