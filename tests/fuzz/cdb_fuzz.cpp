// libFuzzer target for SDCC's debug file reader. Any file must load without a crash or a hang;
// the table must stay within the variable limit with names of at most 20 characters, and every
// variable it calls reachable must sit where the link reads it: data and indirect RAM bytes
// below 0x80 (whole values too), registers from 0x80, bits in the bit-addressable bytes or in
// a register, external bytes on pages 1..7. A variable that is not reachable says why.
#include "mcu/cdb.h"
#include "scratch_folder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace mcu;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MCAppl appl;
    const std::string path = fuzz_support::WriteScratchFile("APPL.cdb", data, size);
    if (LoadCdbFile(appl, path)) {
        Check(appl.errorText.empty());
    } else {
        Check(appl.errorText == "no debug information found: please compile with debug-option");
    }
    Check(appl.VarCount() <= kMaxVars);
    for (const MCVar& v : appl.vars) {
        Check(!v.name.empty() && v.name.size() <= kMaxVarName);
        if (!v.reachable) {
            Check(!v.reason.empty());
            continue;
        }
        const unsigned last = v.address + static_cast<unsigned>(TypeSize(v.type)) - 1;
        switch (v.space) {
        case MemSpace::Data:
        case MemSpace::Idata:
            Check(last <= 0x7F);
            break;
        case MemSpace::Sfr:
            Check(v.address >= 0x80 && last <= 0xFF);
            break;
        case MemSpace::Bit:
        case MemSpace::SfrBit:
            Check(v.bitMask != 0 && (v.bitMask & (v.bitMask - 1)) == 0);
            Check((v.address >= 0x20 && v.address <= 0x2F) ||
                  (v.address >= 0x80 && v.address <= 0xF8 && v.address % 8 == 0));
            break;
        case MemSpace::Xdata:
            Check(v.address >= 0x100 && last <= 0x7FF);
            break;
        default:
            Check(false);
        }
        Check(v.type != VarType::Bit || v.bitMask != 0);
    }
    return 0;
}
