// libFuzzer target for the OMF-51 object file walk. Any file must load without a crash, a
// hang or a read outside the file; the table must stay within the variable limit, with names of
// at most 20 characters that stand in the file (in upper case), byte variables on page 0 and bit
// variables in the bit-addressable bytes 0x20..0x2F or in a special function register (a
// multiple of eight from 0x80); and the first half of a file must give the same table as the
// whole file up to where it ends (only the variable it ends in may differ).
#include "mcu/vartable.h"
#include "scratch_folder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace mcu;

namespace {

const std::string kNoDebug = "no debug information found: please compile with debug-option";

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

MCAppl Load(const std::uint8_t* data, std::size_t size) {
    MCAppl appl;
    appl.varFileName = fuzz_support::WriteScratchFile("APPL", data, size);
    const bool loaded = LoadObjectFile(appl);
    if (loaded) {
        Check(appl.errorText.empty());
    } else {
        Check(appl.errorText == kNoDebug || appl.errorText == "Max number of vars reached: 1200");
    }
    return appl;
}

// Names are stored in upper case; the file may hold them in any case.
bool InFileIgnoringCase(std::string_view file, const std::string& name) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    auto at = std::search(file.begin(), file.end(), name.begin(), name.end(),
                          [&](char f, char n) { return upper(f) == n; });
    return at != file.end();
}

bool SameVar(const MCVar& a, const MCVar& b) {
    return a.name == b.name && a.address == b.address && a.bitMask == b.bitMask;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const MCAppl appl = Load(data, size);
    Check(appl.VarCount() <= kMaxVars);
    // Every variable needs a six-byte symbol header in the file.
    Check(static_cast<std::size_t>(appl.VarCount()) * 6 <= size);
    for (const MCVar& v : appl.vars) {
        Check(v.name.size() <= kMaxVarName);
        Check(v.name.empty() || InFileIgnoringCase(file, v.name));
        if (v.bitMask == 0) {
            Check(v.address <= 0xFF);
        } else {
            Check((v.bitMask & (v.bitMask - 1)) == 0);
            Check((v.address >= 0x20 && v.address <= 0x2F) ||
                  (v.address >= 0x80 && v.address <= 0xF8 && v.address % 8 == 0));
        }
    }

    const MCAppl half = Load(data, size / 2);
    Check(half.VarCount() <= appl.VarCount());
    for (std::int32_t i = 0; i + 1 < half.VarCount(); ++i) {
        Check(SameVar(half.vars[static_cast<std::size_t>(i)],
                      appl.vars[static_cast<std::size_t>(i)]));
    }
    return 0;
}
