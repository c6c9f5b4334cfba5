#include "mcu/typed.h"

#include "foundation/params.h"
#include "foundation/text.h"
#include "mcu/access.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace mcu {

namespace {

// The link reads addresses up to the last byte of page 7.
constexpr std::uint32_t kLastLinkAddress = 0x7FF;

const MCVar* FindWhole(const MCAppl& appl, const std::string& name) {
    const std::string wanted = name.substr(0, kMaxVarName);
    const auto found = std::find_if(appl.vars.begin(), appl.vars.end(),
                                    [&](const MCVar& v) { return v.name == wanted; });
    return found == appl.vars.end() ? nullptr : &*found;
}

// The variable's own type; address and object files know bits only by their mask.
VarType TableType(const MCVar& var) {
    return var.bitMask != 0 ? VarType::Bit : var.type;
}

} // namespace

ByteOrder ApplicationByteOrder(const std::string& applName) {
    std::string list;
    if (!foundation::GetParam(kBigEndianKey, list)) {
        return ByteOrder::Little;
    }
    foundation::UpperCaseText(list);
    std::string name = applName;
    foundation::UpperCaseText(name);
    std::replace_if(
        list.begin(), list.end(), [](char c) { return c == ',' || c == ';' || c == '\t'; }, ' ');
    for (const std::string& entry : foundation::SplitText(list, ' ', true, false)) {
        if (entry == "*" || (!name.empty() && entry == name)) {
            return ByteOrder::Big;
        }
    }
    return ByteOrder::Little;
}

bool ParseNameInteger(const std::string& text, std::uint32_t limit, std::uint32_t& value) {
    const bool hex = !text.empty() && text[0] == '$';
    const std::size_t first = hex ? 1 : 0;
    if (text.size() == first) {
        return false;
    }
    std::uint64_t result = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            return false;
        }
        result = result * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (result > limit) {
            return false;
        }
    }
    value = static_cast<std::uint32_t>(result);
    return true;
}

bool SplitTypeSuffix(std::string& body, VarType& type, bool& typed, std::string& error) {
    typed = false;
    const auto colon = body.rfind(':');
    if (colon == std::string::npos) {
        return true;
    }
    const std::string typeText = body.substr(colon + 1);
    if (!ParseTypeName(typeText, type)) {
        error = "Unknown type " + typeText;
        return false;
    }
    typed = true;
    body.erase(colon);
    return true;
}

bool PeelName(std::string body, const std::function<const MCVar*(const std::string&)>& find,
              std::uint32_t addressLimit, std::uint32_t indexLimit, PeeledName& peeled,
              std::string& error) {
    const std::string shown = body;
    peeled = PeeledName{};
    bool indexed = false;
    for (int suffixes = 0;; ++suffixes) {
        peeled.variable = find(body);
        if (peeled.variable != nullptr || ParseNameInteger(body, addressLimit, peeled.address)) {
            return true;
        }
        const std::size_t n = body.size();
        if (suffixes < 2 && n > 2 && body[n - 2] == '.' && body[n - 1] >= '0' &&
            body[n - 1] <= '7' && peeled.suffixMask == 0) {
            peeled.suffixMask = static_cast<std::uint8_t>(1u << (body[n - 1] - '0'));
            body.erase(n - 2);
        } else if (suffixes < 2 && n > 0 && body[n - 1] == ']' && !indexed) {
            const auto open = body.rfind('[');
            if (open == std::string::npos ||
                !ParseNameInteger(body.substr(open + 1, n - open - 2), indexLimit, peeled.index)) {
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

bool ParseTypedName(const MCAppl& appl, const std::string& text, TypedName& typed,
                    std::string& error) {
    std::string body = text;
    bool explicitType = false;
    VarType type = VarType::U8;
    if (!SplitTypeSuffix(body, type, explicitType, error)) {
        return false;
    }
    foundation::UpperCaseText(body);
    const std::string shown = body;
    PeeledName peeled;
    if (!PeelName(
            body, [&appl](const std::string& name) { return FindWhole(appl, name); },
            kLastLinkAddress, 0xFFFF, peeled, error)) {
        return false;
    }
    const MCVar* var = peeled.variable;
    const std::uint8_t suffixMask = peeled.suffixMask;
    const std::uint32_t index = peeled.index;

    TypedName result;
    std::uint8_t mask = 0;
    VarType own = VarType::U8;
    if (var == nullptr) {
        result.address = static_cast<std::uint16_t>(peeled.address);
    } else {
        if (!var->reachable) {
            error = "Var " + shown + " cannot be read: " + var->reason;
            return false;
        }
        result.name = var->name;
        result.address = var->address;
        mask = var->bitMask;
        own = TableType(*var);
    }
    // An index counts elements of the variable's own type (bytes of a bit's byte).
    const std::uint32_t element =
        own == VarType::Bit ? 1 : static_cast<std::uint32_t>(TypeSize(own));
    const std::uint32_t address = result.address + index * element;
    if (suffixMask != 0) {
        mask = suffixMask;
        own = VarType::Bit;
    }
    // ".b" asks for a bit and a type for bytes: say so rather than guess which was meant (a
    // bit variable of the table with a type is read as the bytes the type says).
    if (suffixMask != 0 && explicitType && type != VarType::Bit) {
        error = "A bit takes no type but bit: " + shown;
        return false;
    }
    result.type = explicitType ? type : own;
    if (result.type == VarType::Bit) {
        if (mask == 0) {
            error = "Type bit needs a bit: " + shown + ".b";
            return false;
        }
        result.bitMask = mask;
    }
    if (address + static_cast<std::uint32_t>(TypeSize(result.type)) - 1 > kLastLinkAddress) {
        error = shown + " lies beyond the link's memory";
        return false;
    }
    result.address = static_cast<std::uint16_t>(address);
    typed = result;
    return true;
}

TypedValue DecodeValue(VarType type, const std::uint8_t* bytes, ByteOrder order) {
    TypedValue value;
    value.type = type;
    const int size = TypeSize(type);
    std::uint32_t raw = 0;
    for (int i = 0; i < size; ++i) {
        const int significance = order == ByteOrder::Little ? i : size - 1 - i;
        raw |= static_cast<std::uint32_t>(bytes[i]) << (8 * significance);
    }
    switch (type) {
    case VarType::I8:
        value.integer = static_cast<std::int8_t>(raw);
        break;
    case VarType::I16:
        value.integer = static_cast<std::int16_t>(raw);
        break;
    case VarType::I32:
        value.integer = static_cast<std::int32_t>(raw);
        break;
    case VarType::F32:
        std::memcpy(&value.real, &raw, sizeof value.real);
        break;
    default:
        value.integer = raw;
        break;
    }
    return value;
}

TypeLimits LimitsOf(VarType type) {
    if (type == VarType::F32) {
        return {-std::numeric_limits<float>::max(), std::numeric_limits<float>::max()};
    }
    if (type == VarType::Bit) {
        return {0, 1};
    }
    const int bits = 8 * TypeSize(type);
    const double high = std::ldexp(1.0, IsSigned(type) ? bits - 1 : bits) - 1;
    return {IsSigned(type) ? -high - 1 : 0, high};
}

std::array<std::uint8_t, 4> EncodeValue(VarType type, double value, ByteOrder order) {
    const TypeLimits limits = LimitsOf(type);
    std::uint32_t raw = 0;
    if (type == VarType::F32) {
        // Beyond the float's limits the conversion to float is undefined.
        const auto real = static_cast<float>(
            std::isfinite(value) ? std::clamp(value, limits.low, limits.high) : value);
        std::memcpy(&raw, &real, sizeof raw);
    } else {
        const double whole =
            std::isnan(value) ? 0 : std::clamp(std::round(value), limits.low, limits.high);
        raw = static_cast<std::uint32_t>(static_cast<std::int64_t>(whole));
    }
    std::array<std::uint8_t, 4> bytes{};
    const int size = TypeSize(type);
    for (int i = 0; i < size; ++i) {
        const int significance = order == ByteOrder::Little ? i : size - 1 - i;
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(raw >> (8 * significance));
    }
    return bytes;
}

std::string FormatValue(const TypedValue& value) {
    if (value.type != VarType::F32) {
        return std::to_string(value.integer);
    }
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value.real);
    return std::string(text.data(), result.ptr);
}

bool ReadTypedValue(MCAppl& appl, const TypedName& typed, ByteOrder order, TypedValue& value) {
    const int size = TypeSize(typed.type);
    std::array<std::uint8_t, 4> bytes{};
    if (size == 1) {
        if (!ReadVariable(appl, typed.address, 0, bytes[0])) {
            return false;
        }
        if (typed.type == VarType::Bit) {
            bytes[0] = (bytes[0] & typed.bitMask) != 0 ? 1 : 0;
        }
        value = DecodeValue(typed.type, bytes.data(), order);
        return true;
    }
    const int lowest = order == ByteOrder::Little ? 0 : size - 1;
    auto readUpper = [&](std::array<std::uint8_t, 4>& into) {
        for (int i = 0; i < size; ++i) {
            if (i != lowest && !ReadVariable(appl, typed.address, static_cast<std::uint8_t>(i),
                                             into[static_cast<std::size_t>(i)])) {
                return false;
            }
        }
        return true;
    };
    std::array<std::uint8_t, 4> before{};
    if (!readUpper(before)) {
        return false;
    }
    for (int attempt = 0; attempt < kWholeReadTries; ++attempt) {
        std::uint8_t low = 0;
        std::array<std::uint8_t, 4> after{};
        if (!ReadVariable(appl, typed.address, static_cast<std::uint8_t>(lowest), low) ||
            !readUpper(after)) {
            return false;
        }
        if (after == before) {
            after[static_cast<std::size_t>(lowest)] = low;
            value = DecodeValue(typed.type, after.data(), order);
            return true;
        }
        before = after;
    }
    appl.errorText = "Value of " + (typed.name.empty() ? std::string("the address") : typed.name) +
                     " changed while it was read";
    return false;
}

} // namespace mcu
