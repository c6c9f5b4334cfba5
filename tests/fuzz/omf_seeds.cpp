// Writes the seed object files of the omf fuzz target into the folder given (normally
// tests/data/fuzz/omf), with the fixture writer the loader tests use.
#include "omf_writer.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: omf_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    auto file = omf::ObjectFile({
        {{0, 2, 0x30, "SPEED"}, {0, 4, 0x13, "READY"}, {0, 1, 0x99, "CODELABEL"}},
        {{5, 2, 0x41, "NEXTREC"}, {0, 4, 0x00, "B0"}, {0, 2, 0x7F, std::string(25, 'L')}},
    });
    omf::WriteFile(folder + "/two-records.omf", file);

    omf::WriteFile(folder + "/one-symbol.omf", omf::ObjectFile({{{0, 2, 0x31, "TORQUE"}}}));

    auto truncated = omf::ObjectFile({{{0, 2, 0x30, "SPEED"}, {0, 2, 0x31, "TORQUE"}}});
    truncated.resize(truncated.size() - 14);
    omf::WriteFile(folder + "/truncated.omf", truncated);

    auto content = omf::Record(0x06, {0x00, 0x20, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05});
    omf::WriteFile(folder + "/no-debug.omf", omf::Module({content}));

    // A public-symbol record longer than 256 bytes between line numbers and segment symbols.
    std::vector<omf::Symbol> publics;
    for (int i = 0; i < 40; ++i) {
        publics.push_back({0, static_cast<std::uint8_t>(i % 4 == 0 ? 4 : 2),
                           static_cast<std::uint16_t>(0x08 + i), "PUBLIC" + std::to_string(i)});
    }
    omf::WriteFile(folder + "/long-record.omf",
                   omf::Module({omf::LineNumbers({{0, 0x3002, 0}, {0, 2, 0x0731}}),
                                omf::DebugItems(publics, omf::kPublics),
                                omf::DebugItems({{1, 2, 0x30, "?DT?MAIN"}}, omf::kSegments)}));

    // Enough symbols in small records to come near the variable limit when mutated.
    std::vector<std::vector<omf::Symbol>> records;
    for (int r = 0; r < 40; ++r) {
        std::vector<omf::Symbol> symbols;
        for (int i = 0; i < 10; ++i) {
            const int n = r * 10 + i;
            symbols.push_back({0, static_cast<std::uint8_t>(n % 3 == 0 ? 4 : 2),
                               static_cast<std::uint16_t>(n & 0xFF), "V" + std::to_string(n)});
        }
        records.push_back(symbols);
    }
    omf::WriteFile(folder + "/many.omf", omf::ObjectFile(records));
    return 0;
}
