// What a variable of the MC holds and where it lives: its type (the widths and signs the scope
// reads whole) and its memory space, as a compiler's debug file describes them.
#pragma once

#include <cstdint>
#include <string>

namespace mcu {

enum class VarType : std::uint8_t { U8, I8, U16, I16, U32, I32, F32, Bit };

// "u8" ... "f32", "bit".
const char* TypeName(VarType type);
// The names above, in any letter case; false for anything else.
bool ParseTypeName(const std::string& text, VarType& type);
// Bytes in MC memory (a bit takes one byte's read).
int TypeSize(VarType type);
bool IsSigned(VarType type);

// Where a variable lives. Address and object files do not say, so their variables are Data.
enum class MemSpace : std::uint8_t {
    Data,     // internal RAM, directly addressed (0x00..0x7F)
    Idata,    // internal RAM, indirectly addressed
    Bit,      // a bit of the bit-addressable RAM
    Sfr,      // a special function register (0x80..0xFF)
    SfrBit,   // a bit of one
    Xdata,    // external data memory (also its paged part)
    Code,     // code memory
    Register, // a register or the stack: no fixed address
};

// "data", "idata", "bit", "sfr", "sbit", "xdata", "code", "register".
const char* SpaceName(MemSpace space);

} // namespace mcu
