#include "mcu/vartable.h"

#include "foundation/tools.h"

#include <algorithm>
#include <cmath>
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

std::string CutName(const std::string& name) {
    return name.substr(0, kMaxVarName);
}

// Sequential reads of an object file; near its end a read returns fewer bytes, possibly none.
class ByteReader {
public:
    explicit ByteReader(const std::string& path) : in_(path, std::ios::binary) {}
    bool IsOpen() const { return in_.is_open(); }

    std::vector<std::uint8_t> Read(std::size_t n) {
        std::vector<std::uint8_t> bytes(n);
        in_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
        bytes.resize(static_cast<std::size_t>(in_.gcount()));
        return bytes;
    }
    // Reads exactly n bytes; false when the file ends first.
    bool ReadFull(std::size_t n, std::vector<std::uint8_t>& bytes) {
        bytes = Read(n);
        return bytes.size() == n;
    }
    void Skip(std::size_t n) { Read(n); }

private:
    std::ifstream in_;
};

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
    ByteReader file(appl.varFileName);
    if (!file.IsOpen()) {
        appl.errorText = "File Error : objectfile " + appl.varFileName + " does not exist";
        return false;
    }
    const std::string noDebug = "no debug information found: please compile with debug-option";
    std::vector<std::uint8_t> b;
    // The module header and the record after it are skipped by their low length bytes only.
    if (!file.ReadFull(2, b)) {
        appl.errorText = noDebug;
        return false;
    }
    file.Skip(b[1]);
    if (!file.ReadFull(6, b)) {
        appl.errorText = noDebug;
        return false;
    }
    file.Skip(b[5]);
    if (!file.ReadFull(5, b)) {
        appl.errorText = noDebug;
        return false;
    }
    int remaining = b[2] - 2;
    std::vector<std::uint8_t> entry;
    if (!file.ReadFull(6, entry) || entry[0] != 0) {
        appl.errorText = noDebug;
        return false;
    }
    int p = 6;
    for (;;) {
        const std::uint8_t info = entry[1];
        const std::uint8_t nameLength = entry[5];
        p += nameLength;
        if (info == 2 || info == 4) {
            if (appl.VarCount() >= kMaxVars) {
                appl.errorText = kMaxVarsMessage;
                return false;
            }
            MCVar var;
            if (info == 2) {
                var.address = entry[2];
            } else {
                var.address = static_cast<std::uint16_t>(0x20 + entry[2] / 8);
                var.bitMask = static_cast<std::uint8_t>(1u << (entry[2] % 8));
            }
            auto nameBytes = file.Read(nameLength);
            var.name = CutName(std::string(nameBytes.begin(), nameBytes.end()));
            appl.vars.push_back(std::move(var));
        } else {
            file.Skip(nameLength);
        }
        bool final = false;
        if (p >= remaining) {
            // A file that ends inside the next record header ends the walk.
            if (!file.ReadFull(5, b)) {
                break;
            }
            final = b[1] != 0x12;
            remaining = b[2] - 2;
            p = 0;
        }
        // A header cut short by the end of the file ends the walk like a missing one.
        if (!file.ReadFull(6, entry) || final) {
            break;
        }
        p += 6;
    }
    return true;
}

void LoadConversions(MCAppl& appl) {
    using namespace foundation;
    TTextFile tf;
    if (!OpenTextFile(tf, appl.varFileName + ".cvt")) {
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
    std::string base = CutName(name);
    base = base.substr(0, base.find('.'));
    base = base.substr(0, base.find('['));
    return std::any_of(appl.vars.begin(), appl.vars.end(),
                       [&](const MCVar& v) { return v.name == base; });
}

} // namespace mcu
