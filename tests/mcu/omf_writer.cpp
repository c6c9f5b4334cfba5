#include "omf_writer.h"

#include <fstream>

namespace omf {

namespace {

// Byte by byte: GCC 12 at -O2 warns falsely about vector range inserts of this shape.
template <typename Range> void Append(Bytes& to, const Range& from) {
    for (auto b : from) {
        to.push_back(static_cast<std::uint8_t>(b));
    }
}

void AppendWord(Bytes& to, std::uint16_t w) {
    to.push_back(static_cast<std::uint8_t>(w & 0xFF));
    to.push_back(static_cast<std::uint8_t>(w >> 8));
}

void AppendName(Bytes& to, const std::string& name) {
    to.push_back(static_cast<std::uint8_t>(name.size()));
    Append(to, name);
}

} // namespace

Bytes Record(std::uint8_t type, const Bytes& content) {
    Bytes r{type};
    AppendWord(r, static_cast<std::uint16_t>(content.size() + 1)); // the checksum counts too
    Append(r, content);
    std::uint8_t sum = 0;
    for (auto b : r) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    r.push_back(static_cast<std::uint8_t>(-sum));
    return r;
}

Bytes ModuleHeader(const std::string& name) {
    Bytes c;
    AppendName(c, name);
    c.push_back(0xFD); // translator id
    c.push_back(0x00);
    return Record(0x02, c);
}

Bytes ScopeDefinition(std::uint8_t blockType, const std::string& name) {
    Bytes c{blockType};
    AppendName(c, name);
    return Record(0x10, c);
}

Bytes DebugItems(const std::vector<Symbol>& symbols, std::uint8_t definitionType) {
    Bytes c{definitionType};
    for (const auto& s : symbols) {
        c.push_back(s.segmentId);
        c.push_back(s.info);
        AppendWord(c, s.value);
        c.push_back(0x00);
        AppendName(c, s.name);
    }
    return Record(0x12, c);
}

Bytes LineNumbers(const std::vector<LineNumber>& lines) {
    Bytes c{3};
    for (const auto& l : lines) {
        c.push_back(l.segmentId);
        AppendWord(c, l.offset);
        AppendWord(c, l.line);
    }
    return Record(0x12, c);
}

Bytes Module(const std::vector<Bytes>& records) {
    Bytes file = ModuleHeader("APPL");
    Append(file, ScopeDefinition(0, "APPL"));
    for (const auto& r : records) {
        Append(file, r);
    }
    Append(file, Record(0x04, {'E', 'N', 'D', 0x00}));
    return file;
}

Bytes ObjectFile(const std::vector<std::vector<Symbol>>& debugRecords) {
    std::vector<Bytes> records;
    for (const auto& symbols : debugRecords) {
        records.push_back(DebugItems(symbols));
    }
    return Module(records);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace omf
