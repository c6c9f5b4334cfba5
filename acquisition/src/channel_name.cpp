#include "acquisition/channel_name.h"

#include "mcu/typed.h"

namespace acq {

namespace {

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (hex && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (hex && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

bool ParseNameInteger(const std::string& text, std::uint32_t limit, std::uint32_t& value) {
    const bool hex = !text.empty() && text[0] == '$';
    const std::size_t first = hex ? 1 : 0;
    if (text.size() == first) {
        return false;
    }
    const std::uint32_t base = hex ? 16 : 10;
    std::uint64_t result = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], hex);
        if (digit < 0) {
            return false;
        }
        result = result * base + static_cast<std::uint32_t>(digit);
        if (result > limit) {
            return false;
        }
    }
    value = static_cast<std::uint32_t>(result);
    return true;
}

bool SplitChannelName(const std::string& text, ChannelName& name) {
    name = ChannelName{};
    std::string copy = text;
    const auto colon = copy.rfind(':');
    if (colon != std::string::npos) {
        if (!mcu::ParseTypeName(copy.substr(colon + 1), name.type)) {
            return false;
        }
        name.typed = true;
        copy.erase(colon);
    }
    const auto dot = copy.find('.');
    if (dot != std::string::npos) {
        if (dot + 1 >= copy.size() || copy[dot + 1] < '0' || copy[dot + 1] > '7') {
            return false;
        }
        name.suffixMask = static_cast<std::uint8_t>(1u << (copy[dot + 1] - '0'));
        // The bit suffix goes with whatever follows it up to an index suffix, so that
        // NAME.b[i] keeps its index just as NAME[i].b does.
        const auto bracket = copy.find('[', dot);
        copy.erase(dot, bracket == std::string::npos ? std::string::npos : bracket - dot);
    }
    const auto open = copy.find('[');
    if (open != std::string::npos) {
        const auto close = copy.find(']', open + 1);
        if (close == std::string::npos) {
            return false;
        }
        std::uint32_t index = 0;
        if (!ParseNameInteger(copy.substr(open + 1, close - open - 1), 255, index)) {
            return false;
        }
        name.arrayIndex = static_cast<std::uint8_t>(index);
        copy.erase(open);
    }
    name.base = copy;
    return true;
}

namespace {

// The link reads addresses up to the last byte of page 7; a value read whole must end there.
constexpr std::uint32_t kLastLinkAddress = 0x7FF;

// What a text names before its type is applied: a variable of the table or a bare address,
// and the suffixes taken off it.
struct Named {
    const mcu::MCVar* variable = nullptr;
    std::uint32_t address = 0;
    std::uint8_t suffixMask = 0;
    std::uint32_t index = 0;
};

// Takes suffixes off the end, as mcu::ParseTypedName does, until what is left is a name the
// table lists whole (ZONE.TEMP, BUF[3]) or an address, so that a member takes suffixes too
// (ZONE.TEMP[1], ZONE.HIST[1].2). An index is at most 255, as the boxes have always had it.
bool Peel(const VariableTable& table, std::string body, Named& named, std::string& error) {
    const std::string shown = body;
    named = Named{};
    bool indexed = false;
    for (int suffixes = 0;; ++suffixes) {
        named.variable = table.Find(body);
        if (named.variable != nullptr) {
            return true;
        }
        if (ParseNameInteger(body, 0xFFFF, named.address)) {
            return true;
        }
        const std::size_t n = body.size();
        if (suffixes < 2 && n > 2 && body[n - 2] == '.' && body[n - 1] >= '0' &&
            body[n - 1] <= '7' && named.suffixMask == 0) {
            named.suffixMask = static_cast<std::uint8_t>(1u << (body[n - 1] - '0'));
            body.erase(n - 2);
        } else if (suffixes < 2 && n > 0 && body[n - 1] == ']' && !indexed) {
            const auto open = body.rfind('[');
            if (open == std::string::npos ||
                !ParseNameInteger(body.substr(open + 1, n - open - 2), 255, named.index)) {
                error = "Bad name " + shown;
                return false;
            }
            indexed = true;
            body.erase(open);
        } else {
            error = "Var " + shown + " not defined";
            return false;
        }
    }
}

} // namespace

bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved, std::string& error) {
    std::string body = text;
    bool explicitType = false;
    mcu::VarType type = mcu::VarType::U8;
    const auto colon = body.rfind(':');
    if (colon != std::string::npos) {
        const std::string typeText = body.substr(colon + 1);
        if (!mcu::ParseTypeName(typeText, type)) {
            error = "Unknown type " + typeText;
            return false;
        }
        explicitType = true;
        body.erase(colon);
    }
    Named named;
    if (!Peel(table, body, named, error)) {
        // What the boxes took before members existed: the first "." with its digit, whatever
        // follows it up to an index (CTR.3X is CTR.3).
        ChannelName parts;
        std::uint32_t bare = 0;
        if (!SplitChannelName(body, parts)) {
            return false;
        }
        named = Named{table.Find(parts.base), 0, parts.suffixMask, parts.arrayIndex};
        if (named.variable == nullptr && !ParseNameInteger(parts.base, 0xFFFF, bare)) {
            return false;
        }
        named.address = bare;
        error.clear();
    }
    const mcu::MCVar* var = named.variable;
    mcu::VarType own = mcu::VarType::U8;
    std::uint8_t mask = 0;
    if (var != nullptr) {
        // A variable in code memory or beyond the link's pages has an address the link would
        // read another byte at.
        if (!var->reachable) {
            error = "Var " + body + " cannot be read: " + var->reason;
            return false;
        }
        named.address = var->address;
        mask = var->bitMask;
        own = var->bitMask != 0 ? mcu::VarType::Bit : var->type;
    }
    // An index counts elements of the variable's own type (bytes of a bit's byte).
    const std::uint32_t element =
        own == mcu::VarType::Bit ? 1 : static_cast<std::uint32_t>(mcu::TypeSize(own));
    const std::uint32_t address = named.address + named.index * element;
    // A bit of the table keeps its own mask under a suffix.
    if (mask == 0 && named.suffixMask != 0) {
        mask = named.suffixMask;
        own = mcu::VarType::Bit;
    }
    // ".b" asks for a bit and a type for bytes: say so rather than guess which was meant (a
    // bit variable of the table with a type is read as the bytes the type says).
    if (named.suffixMask != 0 && explicitType && type != mcu::VarType::Bit) {
        error = "A bit takes no type but bit: " + body;
        return false;
    }
    const mcu::VarType chosen = explicitType ? type : own;
    if (chosen == mcu::VarType::Bit && mask == 0) {
        error = "Type bit needs a bit: " + body + ".b";
        return false;
    }
    const auto size = static_cast<std::uint32_t>(mcu::TypeSize(chosen));
    if (size > 1 && address + size - 1 > kLastLinkAddress) {
        error = body + " lies beyond the link's memory";
        return false;
    }
    ResolvedChannel r;
    r.address = static_cast<std::uint16_t>(address);
    // The engine reads a bit as a masked byte; any other type reads the bytes whole.
    r.mask = chosen == mcu::VarType::Bit ? mask : 0;
    r.type = chosen == mcu::VarType::Bit ? mcu::VarType::U8 : chosen;
    r.variable = var;
    resolved = r;
    return true;
}

bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved) {
    std::string error;
    return ResolveChannelName(table, text, resolved, error);
}

} // namespace acq
