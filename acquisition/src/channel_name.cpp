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

bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved, std::string& error) {
    mcu::TypedName typed;
    if (!mcu::ParseTypedName(table.Appl(), text, typed, error)) {
        return false;
    }
    ResolvedChannel r;
    r.address = typed.address;
    r.mask = typed.bitMask;
    // The engine reads a bit as a masked byte.
    r.type = typed.type == mcu::VarType::Bit ? mcu::VarType::U8 : typed.type;
    r.variable = typed.name.empty() ? nullptr : table.Find(typed.name);
    resolved = r;
    return true;
}

bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved) {
    std::string error;
    return ResolveChannelName(table, text, resolved, error);
}

} // namespace acq
