// Builds OMF-51 absolute object files byte by byte for the loader tests: a module header, one
// more record, then debug items records with local symbols, each record with its checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace omf {

struct Symbol {
    std::uint8_t segmentId = 0;
    std::uint8_t info = 2; // 2 data byte, 4 bit, anything else is skipped
    std::uint16_t value = 0;
    std::string name;
};

// A whole record: type, 16-bit little-endian length, content, checksum.
std::vector<std::uint8_t> Record(std::uint8_t type, const std::vector<std::uint8_t>& content);
// The module header record of a module named name.
std::vector<std::uint8_t> ModuleHeader(const std::string& name);
// A record skipped by the loader whose second content byte carries its own length - 3, as the
// records that follow a module header do.
std::vector<std::uint8_t> FollowingRecord(std::size_t contentBytes);
// A debug items record (type 0x12) with local symbols.
std::vector<std::uint8_t> DebugItems(const std::vector<Symbol>& symbols);
// A complete file: header, following record, the debug records, then an end record.
std::vector<std::uint8_t> ObjectFile(const std::vector<std::vector<Symbol>>& debugRecords);

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace omf
