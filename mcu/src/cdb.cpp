// The lines of SDCC's debug file this reader takes:
//   M:MODULE                                   the module whose records follow
//   S:SCOPE$NAME$LEVEL$BLOCK({SIZE}CHAIN),SPACE,ONSTACK,OFFSET[,REGS]
//                                              a symbol: SCOPE is G (global), FMODULE (file
//                                              static) or LMODULE.FUNCTION (local)
//   T:FMODULE$TAG[({OFFSET}S:S$MEMBER$...(TYPE),Z,0,0)...]   the members of a struct
//   L:SCOPE$NAME$LEVEL$BLOCK:HEX               the address the linker gave a symbol
// CHAIN is a comma list of declarators (DA<n>d array, DF function, DG DC DX DD DP DI pointers)
// ending in a specifier (SC char, SS short, SI int, SL long, SF float, SV void, SX sbit,
// SB<offset>$<width> bit or bit field, ST<tag> struct) and :S or :U for the sign. SPACE is the
// memory: E data, G idata, H bits, I SFRs, J SFR bits, F xdata, P paged xdata, C D code,
// A B stacks, R registers, Z none.
#include "mcu/cdb.h"

#include "foundation/text.h"
#include "foundation/text_file.h"
#include "mcu/vartable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace mcu {

namespace {

// Structs within structs are followed this deep; a debug file can describe a cycle.
constexpr int kMaxNesting = 8;
// Members and elements visited for one symbol: structs of many members nested deep multiply
// to billions of visits even when they hold nothing, and a debug file is read while the user
// waits.
constexpr std::uint32_t kMaxExpandSteps = 200000;

struct CdbType {
    std::uint32_t size = 0;     // total bytes, from {SIZE}
    std::uint64_t elements = 1; // product of the array dimensions
    bool function = false;
    bool pointer = false;
    char spec = '?';             // C S I L F V X B T, or ? when unknown
    std::string tag;             // of a struct
    std::uint32_t bitOffset = 0; // of SB
    std::uint32_t bitWidth = 0;
    bool isSigned = false;
};

struct Member {
    std::uint32_t offset = 0;
    std::string name;
    CdbType type;
};

struct Symbol {
    std::string key; // SCOPE$NAME$LEVEL$BLOCK, as the L: lines name it
    std::string scope;
    std::string name;
    std::string module;
    CdbType type;
    char space = 'Z';
    bool onStack = false;
};

// One readable (or not) piece of a symbol: its name suffix, its offset in bytes (or in bits
// for a bit), its type.
struct Leaf {
    std::string name;
    std::uint32_t offset = 0;
    VarType type = VarType::U8;
    bool bit = false;
    std::string reason; // not empty: never to be read
};

bool ParseUnsigned(const std::string& text, int base, std::uint64_t& value) {
    if (text.empty() || text.size() > 16) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0 || digit >= base) {
            return false;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return true;
}

// "({SIZE}CHAIN:S)" without its parentheses.
bool ParseType(const std::string& text, CdbType& type) {
    type = CdbType{};
    if (text.size() < 3 || text[0] != '{') {
        return false;
    }
    const auto close = text.find('}');
    const auto colon = text.rfind(':');
    std::uint64_t size = 0;
    if (close == std::string::npos || colon == std::string::npos || colon < close ||
        !ParseUnsigned(text.substr(1, close - 1), 10, size) || size > 0xFFFF) {
        return false;
    }
    type.size = static_cast<std::uint32_t>(size);
    type.isSigned = text.substr(colon + 1) == "S";
    std::stringstream chain(text.substr(close + 1, colon - close - 1));
    std::string item;
    while (std::getline(chain, item, ',')) {
        if (item.size() < 2) {
            return false;
        }
        if (item[0] == 'D') {
            // The first declarator after the array dimensions says what an element is: a
            // function, or a pointer whatever it points at (DC,DF,SV is a function pointer).
            if (type.function || type.pointer) {
                continue;
            }
            if (item[1] == 'A') {
                std::uint64_t n = 0;
                if (item.back() != 'd' || !ParseUnsigned(item.substr(2, item.size() - 3), 10, n)) {
                    return false;
                }
                type.elements = std::min<std::uint64_t>(type.elements * n, 0x10000);
            } else if (item[1] == 'F') {
                type.function = true;
            } else {
                type.pointer = true;
            }
            continue;
        }
        if (item[0] != 'S') {
            return false;
        }
        type.spec = item[1];
        if (type.spec == 'T') {
            type.tag = item.substr(2);
        } else if (type.spec == 'B') {
            const auto dollar = item.find('$');
            std::uint64_t offset = 0;
            std::uint64_t width = 0;
            if (dollar == std::string::npos ||
                !ParseUnsigned(item.substr(2, dollar - 2), 10, offset) ||
                !ParseUnsigned(item.substr(dollar + 1), 10, width) || offset > 255 || width > 255) {
                return false;
            }
            type.bitOffset = static_cast<std::uint32_t>(offset);
            type.bitWidth = static_cast<std::uint32_t>(width);
        } else if (item.size() != 2) {
            type.spec = '?'; // a specifier this reader does not know: its bytes are listed
        }
    }
    return true;
}

// The position of the parenthesis that closes the one at open, or npos.
std::size_t MatchingParen(const std::string& text, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '(') {
            ++depth;
        } else if (text[i] == ')' && --depth == 0) {
            return i;
        }
    }
    return std::string::npos;
}

// "SCOPE$NAME$LEVEL$BLOCK({...}...),SPACE,ONSTACK,..." of an S: line or a struct member.
bool ParseSymbol(const std::string& text, Symbol& symbol) {
    const auto open = text.find('(');
    if (open == std::string::npos) {
        return false;
    }
    const auto close = MatchingParen(text, open);
    if (close == std::string::npos) {
        return false;
    }
    symbol.key = text.substr(0, open);
    const auto first = symbol.key.find('$');
    if (first == std::string::npos) {
        return false;
    }
    const auto second = symbol.key.find('$', first + 1);
    symbol.scope = symbol.key.substr(0, first);
    if (symbol.scope.empty()) {
        return false;
    }
    symbol.name = symbol.key.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                           : second - first - 1);
    if (symbol.name.empty() || !ParseType(text.substr(open + 1, close - open - 1), symbol.type)) {
        return false;
    }
    // ",SPACE,ONSTACK,..."
    if (close + 2 < text.size() && text[close + 1] == ',') {
        symbol.space = text[close + 2];
        symbol.onStack = text.compare(close + 3, 2, ",1") == 0;
    }
    return true;
}

// "FMODULE$TAG[({OFFSET}member)({OFFSET}member)...]"
bool ParseStruct(const std::string& text, std::string& tag, std::vector<Member>& members) {
    const auto dollar = text.find('$');
    const auto bracket = text.find('[');
    if (dollar == std::string::npos || bracket == std::string::npos || bracket < dollar) {
        return false;
    }
    tag = text.substr(dollar + 1, bracket - dollar - 1);
    std::size_t pos = bracket + 1;
    while (pos < text.size() && text[pos] == '(') {
        const auto close = MatchingParen(text, pos);
        const auto brace = text.find('}', pos);
        if (close == std::string::npos || brace == std::string::npos || brace > close ||
            text.compare(pos, 2, "({") != 0) {
            return false;
        }
        std::uint64_t offset = 0;
        Symbol symbol;
        const std::string body = text.substr(brace + 1, close - brace - 1);
        if (!ParseUnsigned(text.substr(pos + 2, brace - pos - 2), 10, offset) || offset > 0xFFFF ||
            body.compare(0, 2, "S:") != 0 || !ParseSymbol(body.substr(2), symbol)) {
            return false;
        }
        members.push_back({static_cast<std::uint32_t>(offset), symbol.name, symbol.type});
        pos = close + 1;
    }
    return true;
}

class CdbReader {
public:
    CdbReader(MCAppl& appl, std::string folder, const LinkMemoryMap& map)
        : appl_(appl), folder_(std::move(folder)), map_(map) {}

    void Line(const std::string& line) {
        if (line.size() < 3 || line[1] != ':') {
            return;
        }
        const std::string body = line.substr(2);
        switch (line[0]) {
        case 'M':
            module_ = body;
            break;
        case 'S': {
            Symbol symbol;
            if (ParseSymbol(body, symbol)) {
                symbol.module = module_;
                symbols_.push_back(std::move(symbol));
            }
            break;
        }
        case 'T': {
            std::string tag;
            std::vector<Member> members;
            if (ParseStruct(body, tag, members)) {
                structs_.emplace(tag, std::move(members));
            }
            break;
        }
        case 'L': {
            // Line numbers (C), assembler lines (A) and function ends (X) are not variables.
            const auto colon = body.rfind(':');
            std::uint64_t address = 0;
            if (colon != std::string::npos && !body.empty() &&
                (body[0] == 'G' || body[0] == 'F' || body[0] == 'L') &&
                ParseUnsigned(body.substr(colon + 1), 16, address) && address <= 0xFFFFFFFF) {
                addresses_.emplace(body.substr(0, colon), static_cast<std::uint32_t>(address));
            }
            break;
        }
        default:
            break;
        }
    }

    void AddVariables() {
        for (const Symbol& symbol : symbols_) {
            if (appl_.VarCount() >= kMaxVars) {
                return;
            }
            AddSymbol(symbol);
        }
    }

private:
    // The table's name of a symbol: globals and file statics by their name (a file static
    // whose name is taken already as MODULE.NAME), locals as FUNCTION.NAME.
    std::string BaseName(const Symbol& symbol) const {
        std::string name = symbol.name;
        if (symbol.scope[0] == 'L') {
            const auto dot = symbol.scope.rfind('.');
            name = symbol.scope.substr(dot == std::string::npos ? 1 : dot + 1) + "." + name;
        } else if (symbol.scope[0] == 'F' && Taken(Upper(name))) {
            name = symbol.scope.substr(1) + "." + name;
        }
        return Upper(name);
    }

    static std::string Upper(std::string text) {
        foundation::UpperCaseText(text);
        return text;
    }

    bool Taken(const std::string& name) const {
        return names_.count(name.substr(0, kMaxVarName)) != 0;
    }

    void Expand(const CdbType& type, const std::string& name, std::uint32_t offset, int depth,
                std::vector<Leaf>& leaves) const {
        const std::uint64_t count = type.elements;
        if (count == 0 || ++expandSteps_ > kMaxExpandSteps) {
            return;
        }
        const auto elementSize = static_cast<std::uint32_t>(type.size / count);
        const std::uint64_t listed = std::min<std::uint64_t>(count, kMaxListedElements);
        // Nested arrays of structs multiply; the table never takes more than kMaxVars.
        for (std::uint64_t i = 0; i < listed && leaves.size() < static_cast<std::size_t>(kMaxVars);
             ++i) {
            const std::string elementName = i == 0 ? name : name + "[" + std::to_string(i) + "]";
            const auto elementOffset = static_cast<std::uint32_t>(offset + i * elementSize);
            ExpandElement(type, elementSize, elementName, elementOffset, depth, leaves);
        }
    }

    void ExpandElement(const CdbType& type, std::uint32_t size, const std::string& name,
                       std::uint32_t offset, int depth, std::vector<Leaf>& leaves) const {
        if (type.spec == 'T' && !type.pointer) {
            const auto found = structs_.find(type.tag);
            if (found == structs_.end() || depth >= kMaxNesting) {
                leaves.push_back({name, offset, VarType::U8, false, "struct not described"});
                return;
            }
            for (const Member& member : found->second) {
                Expand(member.type, name + "." + Upper(member.name), offset + member.offset,
                       depth + 1, leaves);
            }
            return;
        }
        if (type.spec == 'B' || type.spec == 'X') {
            if (type.spec == 'B' && type.bitWidth != 1) {
                leaves.push_back({name, offset, VarType::U8, false, "bit field"});
                return;
            }
            // A bit variable's offset counts bits; a one-bit field's its byte and bit.
            leaves.push_back({name, offset * 8 + type.bitOffset, VarType::Bit, true, ""});
            return;
        }
        VarType scalar = VarType::U8;
        bool typed = true;
        if (type.pointer) {
            typed = size == 1 || size == 2;
            scalar = size == 2 ? VarType::U16 : VarType::U8;
        } else if (type.spec == 'F') {
            typed = size == 4;
            scalar = VarType::F32;
        } else if (type.spec == 'C' || type.spec == 'S' || type.spec == 'I' || type.spec == 'L') {
            typed = size == 1 || size == 2 || size == 4;
            scalar = size == 1   ? (type.isSigned ? VarType::I8 : VarType::U8)
                     : size == 2 ? (type.isSigned ? VarType::I16 : VarType::U16)
                                 : (type.isSigned ? VarType::I32 : VarType::U32);
        } else {
            typed = false;
        }
        if (typed) {
            leaves.push_back({name, offset, scalar, false, ""});
            return;
        }
        // A value no type here fits (a generic pointer, a long long ...): its bytes.
        const std::uint32_t bytes = std::min<std::uint32_t>(size, kMaxListedElements);
        for (std::uint32_t i = 0; i < bytes; ++i) {
            leaves.push_back({i == 0 ? name : name + "[" + std::to_string(i) + "]", offset + i,
                              VarType::U8, false, ""});
        }
    }

    // The address of a bit SDCC placed itself, from the module's relocated listing: there the
    // line "VALUE LINE KEY==." (VALUE counted from the module's own part of the segment) is
    // followed by the label line "ADDRESS LINE _name:", whose ADDRESS the linker relocated.
    bool ListingAddress(const Symbol& symbol, std::uint32_t& address) {
        auto& listing = listings_[symbol.module];
        if (!listing.read) {
            listing.read = true;
            std::string path = folder_ + symbol.module + ".rst";
            if (foundation::FindFileIgnoringCase(path)) {
                std::ifstream in(path);
                std::string line;
                std::string pending;
                while (std::getline(in, line)) {
                    std::stringstream words(line);
                    std::vector<std::string> w;
                    for (std::string word; words >> word;) {
                        w.push_back(word);
                    }
                    std::uint64_t value = 0;
                    if (w.size() == 3 && w[2].size() > 3 &&
                        w[2].compare(w[2].size() - 3, 3, "==.") == 0) {
                        pending = w[2].substr(0, w[2].size() - 3);
                    } else if (!pending.empty() && w.size() == 3 && w[2].back() == ':' &&
                               ParseUnsigned(w[0], 16, value) && value <= 0xFFFF) {
                        listing.addresses.emplace(pending, static_cast<std::uint32_t>(value));
                        pending.clear();
                    } else {
                        pending.clear();
                    }
                }
            }
        }
        const auto found = listing.addresses.find(symbol.key);
        if (found == listing.addresses.end()) {
            return false;
        }
        address = found->second;
        return true;
    }

    void AddSymbol(const Symbol& symbol) {
        const char space = symbol.space;
        // Functions, and what lives in registers, on a stack or nowhere, have no address a
        // variable could be read at; SDCC's temporaries (sloc) are no variables of the source.
        if (symbol.type.function || symbol.onStack || space == 'R' || space == 'A' ||
            space == 'B' || space == 'Z' ||
            (symbol.scope[0] == 'L' && symbol.name.compare(0, 4, "sloc") == 0)) {
            return;
        }
        const std::string base = BaseName(symbol);
        std::vector<Leaf> leaves;
        expandSteps_ = 0;
        Expand(symbol.type, base, 0, 0, leaves);

        std::uint32_t address = 0;
        bool located = false;
        const auto found = addresses_.find(symbol.key);
        if (found != addresses_.end()) {
            address = found->second;
            located = true;
        } else if (space == 'H') {
            located = ListingAddress(symbol, address);
        }
        for (const Leaf& leaf : leaves) {
            if (appl_.VarCount() >= kMaxVars) {
                return;
            }
            MCVar var;
            var.name = leaf.name.substr(0, kMaxVarName);
            if (Taken(var.name)) {
                continue;
            }
            var.type = leaf.type;
            var.linkKeyword = IsLinkKeyword(var.name);
            Place(var, leaf, space, address, located, symbol.module);
            names_.insert(var.name);
            appl_.vars.push_back(std::move(var));
        }
    }

    void Unreachable(MCVar& var, const std::string& reason) {
        var.reachable = false;
        var.reason = reason;
    }

    void PlaceBit(MCVar& var, std::uint32_t bitAddress) {
        var.bitMask = static_cast<std::uint8_t>(1u << (bitAddress & 7));
        if (bitAddress < 0x80) {
            var.address = static_cast<std::uint16_t>(0x20 + bitAddress / 8);
            var.space = MemSpace::Bit;
        } else {
            var.address = static_cast<std::uint16_t>(bitAddress & 0xF8);
            var.space = MemSpace::SfrBit;
        }
        if (bitAddress > 0xFF) {
            Unreachable(var, "bit address out of range");
        }
    }

    void Place(MCVar& var, const Leaf& leaf, char space, std::uint32_t address, bool located,
               const std::string& module) {
        const std::uint32_t size = static_cast<std::uint32_t>(TypeSize(leaf.type));
        // A one-bit field of a struct in a byte space (data, external RAM ...): its offset
        // counts bits from the struct's start, and it is read as its byte under a mask.
        const bool field = leaf.bit && space != 'H' && space != 'J';
        const std::uint32_t at = address + (field ? leaf.offset / 8 : leaf.bit ? 0 : leaf.offset);
        var.address = static_cast<std::uint16_t>(at);
        if (field) {
            var.bitMask = static_cast<std::uint8_t>(1u << (leaf.offset & 7));
        }
        switch (space) {
        case 'E':
        case 'G':
            var.space = space == 'E' ? MemSpace::Data : MemSpace::Idata;
            if (at + size - 1 > 0x7F) {
                Unreachable(var, "indirect RAM above $7F");
            }
            break;
        case 'H':
            PlaceBit(var, address + leaf.offset);
            if (!located) {
                Unreachable(var, "placed by the compiler: address only in " + module + ".rst");
                return;
            }
            break;
        case 'I':
            var.space = MemSpace::Sfr;
            if (at < 0x80 || at + size - 1 > 0xFF) {
                Unreachable(var, "SFRs not in a row");
            }
            break;
        case 'J':
            PlaceBit(var, address);
            break;
        case 'F':
        case 'P': {
            var.space = MemSpace::Xdata;
            const std::uint32_t first = map_.xdataFirst;
            const std::uint32_t last = first + 7 * 256 - 1;
            if (at < first || at + size - 1 > last) {
                Unreachable(var, "external RAM outside the link's pages");
            } else {
                var.address = static_cast<std::uint16_t>(at - first + 0x100);
            }
            break;
        }
        case 'C':
        case 'D':
            var.space = MemSpace::Code;
            Unreachable(var, "code memory");
            break;
        default:
            var.space = MemSpace::Register;
            Unreachable(var, std::string("memory space ") + space);
            break;
        }
        if (!leaf.reason.empty()) {
            Unreachable(var, leaf.reason);
        } else if (!located && var.reachable) {
            Unreachable(var, "no address in the debug file");
        }
    }

    struct Listing {
        bool read = false;
        std::map<std::string, std::uint32_t> addresses;
    };

    MCAppl& appl_;
    std::string folder_;
    LinkMemoryMap map_;
    std::string module_;
    std::vector<Symbol> symbols_;
    std::map<std::string, std::vector<Member>> structs_;
    std::map<std::string, std::uint32_t> addresses_;
    std::map<std::string, Listing> listings_;
    std::set<std::string> names_;
    mutable std::uint32_t expandSteps_ = 0;
};

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

} // namespace

bool LoadCdbFile(MCAppl& appl, const std::string& path, const LinkMemoryMap& map) {
    std::ifstream in(path);
    if (!in.is_open() || !IsRegularFile(path)) {
        appl.errorText = "File Error : debug file " + path + " does not exist";
        return false;
    }
    const auto slash = path.rfind('/');
    CdbReader reader(appl, slash == std::string::npos ? std::string() : path.substr(0, slash + 1),
                     map);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        reader.Line(line);
    }
    const auto before = appl.VarCount();
    reader.AddVariables();
    if (appl.VarCount() == before) {
        appl.errorText = "no debug information found: please compile with debug-option";
        return false;
    }
    appl.errorText.clear();
    return true;
}

std::string CdbBeside(const std::string& objectFile) {
    std::string base = objectFile;
    const auto slash = base.rfind('/');
    const auto dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string extension = base.substr(dot);
        foundation::UpperCaseText(extension);
        if (extension == ".OMF") {
            base.erase(dot);
        }
    }
    std::string cdb = base + ".cdb";
    return foundation::FindFileIgnoringCase(cdb) ? cdb : std::string();
}

} // namespace mcu
