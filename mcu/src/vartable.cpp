#include "mcu/vartable.h"

#include "foundation/numbers.h"
#include "foundation/text.h"
#include "foundation/text_file.h"
#include "mcu/cdb.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

namespace mcu {

namespace {

const std::string kMaxVarsMessage = "Max number of vars reached: " + std::to_string(kMaxVars);

// Rounds half to even and keeps the low 16 bits, for any value a file may hold.
std::uint16_t ToAddress(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    double m = std::fmod(std::nearbyint(value), 65536.0);
    if (m < 0) {
        m += 65536.0;
    }
    return static_cast<std::uint16_t>(m);
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::string CutName(const std::string& name) {
    return name.substr(0, kMaxVarName);
}

const std::string kNoDebug = "no debug information found: please compile with debug-option";

constexpr std::uint8_t kDebugItems = 0x12;
// Definition types of a debug items record whose entries are symbols; segment symbols (2) and
// line numbers (3) have layouts of their own and are stepped over with their record.
constexpr std::uint8_t kLocalSymbols = 0;
constexpr std::uint8_t kPublicSymbols = 1;
// Usage types in the low three bits of a symbol's information byte (CODE 0, XDATA 1, DATA 2,
// IDATA 3, BIT 4); compilers set flags above them, SDCC writes 0x42 for a DATA variable. Only
// DATA bytes and bits can be read over the link.
constexpr std::uint8_t kUsageMask = 0x07;
constexpr std::uint8_t kUsageData = 2;
constexpr std::uint8_t kUsageBit = 4;
// A symbol entry: segment id, symbol information, 16-bit value, one more byte, name length.
constexpr std::size_t kSymbolHeader = 6;

// One record of an object file: its type and as much of its content as the file holds, without
// the checksum.
struct ObjectRecord {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> content;
    bool whole = false; // the file holds the record up to its checksum
};

// Reads an object file record by record, each by its 16-bit length; a record the file ends in
// gives the part that is there.
class RecordReader {
public:
    explicit RecordReader(const std::string& path) : in_(path, std::ios::binary) {}
    bool IsOpen() const { return in_.is_open(); }

    // False when the file ends before a record's type and length.
    bool Next(ObjectRecord& record) {
        std::uint8_t head[3] = {};
        if (!ReadBytes(head, sizeof head)) {
            return false;
        }
        record.type = head[0];
        const std::size_t length = head[1] | static_cast<std::size_t>(head[2]) << 8;
        record.content.resize(length);
        record.content.resize(Read(record.content.data(), length));
        record.whole = record.content.size() == length;
        if (record.whole && length > 0) {
            record.content.pop_back(); // the checksum
        }
        return true;
    }

private:
    std::size_t Read(std::uint8_t* to, std::size_t n) {
        in_.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(n));
        return static_cast<std::size_t>(in_.gcount());
    }
    bool ReadBytes(std::uint8_t* to, std::size_t n) { return Read(to, n) == n; }

    std::ifstream in_;
};

// Adds the DATA and BIT symbols of one debug items record; false at the variable limit.
bool AddSymbols(MCAppl& appl, const std::vector<std::uint8_t>& content) {
    if (content.empty() || (content[0] != kLocalSymbols && content[0] != kPublicSymbols)) {
        return true;
    }
    std::size_t pos = 1;
    while (pos + kSymbolHeader <= content.size()) {
        const std::uint8_t* entry = content.data() + pos;
        const std::uint8_t info = entry[1];
        const std::size_t nameLength = entry[5];
        if (pos + kSymbolHeader + nameLength > content.size()) {
            break; // an entry cut short by the end of the file
        }
        const std::uint8_t usage = info & kUsageMask;
        if (usage == kUsageData || usage == kUsageBit) {
            if (appl.VarCount() >= kMaxVars) {
                appl.errorText = kMaxVarsMessage;
                return false;
            }
            MCVar var;
            const std::uint8_t value = entry[2];
            if (usage == kUsageData) {
                var.address = value;
            } else {
                // Bit addresses from 0x80 on are the bits of the special function registers,
                // which sit at multiples of eight; below that they count from byte 0x20.
                var.address = value < 0x80 ? static_cast<std::uint16_t>(0x20 + value / 8)
                                           : static_cast<std::uint16_t>(value & 0xF8);
                var.bitMask = static_cast<std::uint8_t>(1u << (value & 7));
            }
            const char* name = reinterpret_cast<const char*>(entry + kSymbolHeader);
            var.name = CutName(std::string(name, nameLength));
            // Names are held in upper case, as the address files spell them and as the
            // conversion file's names are looked up, so that a name typed in any case finds its
            // variable; SDCC keeps the letter case of the source.
            foundation::UpperCaseText(var.name);
            appl.vars.push_back(std::move(var));
        }
        pos += kSymbolHeader + nameLength;
    }
    return true;
}

} // namespace

bool IsLinkKeyword(const std::string& name) {
    return std::any_of(LinkKeywords.begin(), LinkKeywords.end(),
                       [&](const char* keyword) { return name == keyword; });
}

bool LoadAddressFile(MCAppl& appl, const std::string& fileName) {
    using namespace foundation;
    appl.errorText = "Syntax error in address file";
    TTextFile tf;
    if (!OpenTextFile(tf, fileName)) {
        appl.errorText = tf.errorText;
        return false;
    }
    appl.varFileName = tf.fileName;
    do {
        std::string name;
        double address = 0;
        if (!NextToken(tf, name) || !NextNumber(tf, address)) {
            CloseTextFile(tf);
            return false;
        }
        if (appl.VarCount() >= kMaxVars) {
            appl.errorText = kMaxVarsMessage;
            CloseTextFile(tf);
            return false;
        }
        MCVar var;
        var.name = CutName(name);
        var.address = ToAddress(address);
        double bit = 0;
        // A bit number beyond 0..7 names no bit of a byte; the variable stays a byte.
        if (NextNumber(tf, bit) && bit >= 0 && bit <= 7) {
            SetBit(var.bitMask, static_cast<int>(RoundHalfEven(bit)));
        }
        var.linkKeyword = IsLinkKeyword(var.name);
        appl.vars.push_back(std::move(var));
    } while (NextLine(tf));
    CloseTextFile(tf);
    appl.errorText.clear();
    return true;
}

bool LoadObjectFile(MCAppl& appl) {
    const std::string asked = appl.varFileName;
    // SDCC names the absolute object file after the source, NAME.omf; a bare NAME that was not
    // found along FILE_PATH gets that second chance.
    const bool tryOmf =
        !asked.empty() && asked.find('/') == std::string::npos && !IsRegularFile(asked);
    if (tryOmf) {
        std::string omf = asked + ".omf";
        foundation::ResolveFilePath(omf);
        if (IsRegularFile(omf)) {
            appl.varFileName = omf;
        }
    }
    // SDCC writes NAME.cdb beside NAME.omf. It lists every variable with its type, where the
    // object file has only those placed with __at, so it is read instead, also on its own.
    std::string cdb;
    if (IsRegularFile(appl.varFileName) || !tryOmf) {
        cdb = CdbBeside(appl.varFileName);
    } else {
        cdb = asked + ".cdb";
        foundation::ResolveFilePath(cdb);
        if (!IsRegularFile(cdb)) {
            cdb.clear();
        }
    }
    if (!cdb.empty()) {
        if (!IsRegularFile(appl.varFileName)) {
            appl.varFileName = cdb;
        }
        return LoadCdbFile(appl, cdb);
    }
    RecordReader file(appl.varFileName);
    if (!file.IsOpen()) {
        appl.errorText = "File Error : objectfile " + asked +
                         (tryOmf ? " or " + asked + ".omf" : std::string()) + " does not exist";
        return false;
    }
    // The module header and the record after it; the debug items records come next.
    ObjectRecord record;
    if (!file.Next(record) || !file.Next(record) || !file.Next(record) ||
        record.type != kDebugItems) {
        appl.errorText = kNoDebug;
        return false;
    }
    const auto before = appl.VarCount();
    do {
        if (!AddSymbols(appl, record.content)) {
            return false;
        }
    } while (record.whole && file.Next(record) && record.type == kDebugItems);
    if (appl.VarCount() == before) {
        appl.errorText = kNoDebug;
        return false;
    }
    appl.errorText.clear();
    return true;
}

void LoadConversions(MCAppl& appl) {
    using namespace foundation;
    std::string name = appl.varFileName + ".cvt";
    // Beside a variable file found by its path, a copy from a file system that ignores letter
    // case may call it DRIVE.ADR.CVT; a bare name gets the same along FILE_PATH.
    if (name.find('/') != std::string::npos) {
        FindFileIgnoringCase(name);
    }
    TTextFile tf;
    if (!OpenTextFile(tf, name)) {
        return;
    }
    do {
        std::string name;
        if (!NextToken(tf, name)) {
            continue;
        }
        UpperCaseText(name);
        auto var = std::find_if(appl.vars.begin(), appl.vars.end(),
                                [&](const MCVar& v) { return v.name == name; });
        if (var == appl.vars.end()) {
            continue;
        }
        double factor = 0;
        double offset = 0;
        if (!NextNumber(tf, factor)) {
            continue;
        }
        var->factor = factor;
        if (!NextNumber(tf, offset)) {
            continue;
        }
        var->offset = offset;
        std::string unit;
        NextToken(tf, unit);
        if (!unit.empty()) {
            var->unit = unit.substr(0, kMaxUnit);
        }
    } while (NextLine(tf));
    CloseTextFile(tf);
}

bool FindVariable(MCAppl& appl, const std::string& name, std::uint16_t& address,
                  std::uint8_t& bitMask) {
    const std::string wanted = CutName(name);
    auto found = std::find_if(appl.vars.begin(), appl.vars.end(),
                              [&](const MCVar& v) { return v.name == wanted; });
    if (found == appl.vars.end()) {
        appl.errorText = "Var " + name + " not defined";
        return false;
    }
    // Its address is one in code or external memory the link does not map: reading it would
    // give another variable's byte.
    if (!found->reachable) {
        appl.errorText = "Var " + name + " cannot be read: " + found->reason;
        return false;
    }
    address = found->address;
    bitMask = found->bitMask;
    // Variables sampled again and again gather at the front, where the search finds them
    // first.
    const auto position = static_cast<std::int32_t>(found - appl.vars.begin()) + 1;
    if (position > appl.frontCount) {
        ++appl.frontCount;
        std::swap(appl.vars[static_cast<std::size_t>(appl.frontCount - 1)], *found);
    }
    return true;
}

bool FindVariable(MCAppl& appl, const std::string& name, std::uint8_t& address,
                  std::uint8_t& bitMask) {
    std::uint16_t full = 0;
    if (!FindVariable(appl, name, full, bitMask)) {
        return false;
    }
    address = static_cast<std::uint8_t>(full & 0xFF);
    return true;
}

bool VariableDefined(const MCAppl& appl, const std::string& name) {
    // Debug files list members and elements by their whole names (ZONE.TEMP, BUF[3]).
    const std::string whole = CutName(name);
    if (std::any_of(appl.vars.begin(), appl.vars.end(),
                    [&](const MCVar& v) { return v.name == whole; })) {
        return true;
    }
    std::string base = whole;
    base = base.substr(0, base.find('.'));
    base = base.substr(0, base.find('['));
    return std::any_of(appl.vars.begin(), appl.vars.end(),
                       [&](const MCVar& v) { return v.name == base; });
}

bool FiledAsSfr(const MCVar& var, std::uint8_t userRam) {
    if (var.space == MemSpace::Sfr || var.space == MemSpace::SfrBit) {
        return true;
    }
    const std::uint16_t a = var.address;
    return (a < 0x200 && (a & 0xFF) < userRam) || a > 0xF00;
}

} // namespace mcu
