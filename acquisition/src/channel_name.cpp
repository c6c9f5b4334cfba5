#include "acquisition/channel_name.h"

#include "mcu/typed.h"

namespace acq {

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

} // namespace

bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved, std::string& error) {
    std::string body = text;
    bool explicitType = false;
    mcu::VarType type = mcu::VarType::U8;
    if (!mcu::SplitTypeSuffix(body, type, explicitType, error)) {
        return false;
    }
    // The boxes' limits: any 16-bit address for a byte, an index up to 255.
    mcu::PeeledName named;
    if (!mcu::PeelName(
            body, [&table](const std::string& name) { return table.Find(name); }, 0xFFFF, 255,
            named, error)) {
        // What the boxes took before members existed: the first "." with its digit, whatever
        // follows it up to an index (CTR.3X is CTR.3).
        ChannelName parts;
        std::uint32_t bare = 0;
        if (!SplitChannelName(body, parts)) {
            return false;
        }
        named = mcu::PeeledName{table.Find(parts.base), 0, parts.suffixMask, parts.arrayIndex};
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
