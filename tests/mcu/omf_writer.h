// Builds OMF-51 absolute object files byte by byte for the loader tests: a module header, the
// module's scope definition, then debug items records, each record with its 16-bit length and
// its checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace omf {

using Bytes = std::vector<std::uint8_t>;

struct Symbol {
    std::uint8_t segmentId = 0;
    std::uint8_t info = 2; // usage type in the low three bits: 2 DATA, 4 BIT, 0 CODE ...
    std::uint16_t value = 0;
    std::string name;
};

struct LineNumber {
    std::uint8_t segmentId = 0;
    std::uint16_t offset = 0;
    std::uint16_t line = 0;
};

// Definition types of a debug items record.
inline constexpr std::uint8_t kLocals = 0;
inline constexpr std::uint8_t kPublics = 1;
inline constexpr std::uint8_t kSegments = 2;

// A whole record: type, 16-bit little-endian length, content, checksum.
Bytes Record(std::uint8_t type, const Bytes& content);
// The module header record of a module named name.
Bytes ModuleHeader(const std::string& name);
// A scope definition record (block type 0 opens a module, 2 a procedure).
Bytes ScopeDefinition(std::uint8_t blockType, const std::string& name);
// A debug items record with symbol entries (local, public or segment symbols).
Bytes DebugItems(const std::vector<Symbol>& symbols, std::uint8_t definitionType = kLocals);
// A debug items record with line numbers.
Bytes LineNumbers(const std::vector<LineNumber>& lines);
// A complete file: header, module scope, the given records, then an end record.
Bytes Module(const std::vector<Bytes>& records);
// A complete file whose records are local-symbol debug items records.
Bytes ObjectFile(const std::vector<std::vector<Symbol>>& debugRecords);

void WriteFile(const std::string& path, const Bytes& bytes);

} // namespace omf
