// libFuzzer target for the address file and its conversion file. The input is the address
// file, optionally followed by a NUL byte and the conversion file. Any pair must load without
// a crash or a hang, within the variable limit, with names, units and bit masks in their
// bounds; conversions change nothing but factor, offset and unit; and afterwards every
// variable is found by name, with the address and mask of the first variable of that name,
// without losing or duplicating a table entry.
#include "mcu/vartable.h"
#include "scratch_folder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace mcu;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool OneBitOrNone(std::uint8_t mask) {
    return (mask & (mask - 1)) == 0;
}

std::vector<std::string> SortedNames(const MCAppl& appl) {
    std::vector<std::string> names;
    for (const auto& v : appl.vars) {
        names.push_back(v.name + '\n' + std::to_string(v.address) + ' ' +
                        std::to_string(v.bitMask));
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t adrSize = nul == nullptr ? size : static_cast<std::size_t>(nul - data);
    const std::string path = fuzz_support::WriteScratchFile("APPL.ADR", data, adrSize);
    if (nul == nullptr) {
        fuzz_support::RemoveScratchFile("APPL.ADR.cvt");
    } else {
        fuzz_support::WriteScratchFile("APPL.ADR.cvt", nul + 1, size - adrSize - 1);
    }

    MCAppl appl;
    const bool loaded = LoadAddressFile(appl, path);
    if (loaded) {
        Check(appl.errorText.empty());
    } else {
        Check(appl.errorText == "Syntax error in address file" ||
              appl.errorText == "Max number of vars reached: 1200");
    }
    Check(appl.varFileName == path);
    Check(appl.VarCount() <= kMaxVars);
    const std::vector<MCVar> before = appl.vars;
    for (const auto& v : appl.vars) {
        Check(!v.name.empty() && v.name.size() <= kMaxVarName);
        Check(OneBitOrNone(v.bitMask));
        Check(v.linkKeyword == IsLinkKeyword(v.name));
    }

    LoadConversions(appl);
    Check(appl.vars.size() == before.size());
    for (std::size_t i = 0; i < appl.vars.size(); ++i) {
        const MCVar& v = appl.vars[i];
        Check(v.name == before[i].name && v.address == before[i].address &&
              v.bitMask == before[i].bitMask && v.linkKeyword == before[i].linkKeyword);
        Check(!v.unit.empty() && v.unit.size() <= kMaxUnit);
    }

    const auto contents = SortedNames(appl);
    for (const MCVar& wanted : before) {
        const auto first = std::find_if(appl.vars.begin(), appl.vars.end(),
                                        [&](const MCVar& v) { return v.name == wanted.name; });
        Check(first != appl.vars.end());
        const std::uint16_t expectedAddress = first->address;
        const std::uint8_t expectedMask = first->bitMask;
        std::uint16_t address = 0;
        std::uint8_t mask = 0;
        Check(FindVariable(appl, wanted.name, address, mask));
        Check(address == expectedAddress && mask == expectedMask);
        std::uint8_t low = 0;
        Check(FindVariable(appl, wanted.name, low, mask));
        Check(low == (expectedAddress & 0xFF));
        Check(appl.frontCount >= 1 && appl.frontCount <= appl.VarCount());
        // A name with "." or "[" is looked up by what stands before them.
        if (wanted.name.find_first_of(".[") == std::string::npos) {
            Check(VariableDefined(appl, wanted.name));
        }
    }
    Check(SortedNames(appl) == contents);
    return 0;
}
