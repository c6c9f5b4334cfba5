#include "mcu/var_type.h"

#include <array>

namespace mcu {

namespace {

struct TypeInfo {
    const char* name;
    int size;
    bool isSigned;
};

constexpr std::array<TypeInfo, 8> kTypes = {{{"u8", 1, false},
                                             {"i8", 1, true},
                                             {"u16", 2, false},
                                             {"i16", 2, true},
                                             {"u32", 4, false},
                                             {"i32", 4, true},
                                             {"f32", 4, true},
                                             {"bit", 1, false}}};

const TypeInfo& Info(VarType type) {
    return kTypes[static_cast<std::size_t>(type)];
}

} // namespace

const char* TypeName(VarType type) {
    return Info(type).name;
}

bool ParseTypeName(const std::string& text, VarType& type) {
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    for (std::size_t i = 0; i < kTypes.size(); ++i) {
        if (lower == kTypes[i].name) {
            type = static_cast<VarType>(i);
            return true;
        }
    }
    return false;
}

int TypeSize(VarType type) {
    return Info(type).size;
}

bool IsSigned(VarType type) {
    return Info(type).isSigned;
}

const char* SpaceName(MemSpace space) {
    static constexpr std::array<const char*, 8> kNames = {"data", "idata", "bit",  "sfr",
                                                          "sbit", "xdata", "code", "register"};
    return kNames[static_cast<std::size_t>(space)];
}

} // namespace mcu
