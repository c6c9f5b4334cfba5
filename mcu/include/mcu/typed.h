// Typed variables: a name or address with a type (TICKS, SPEED:i16, $3A:u16, BUF[2]:u8), and
// their values read whole over the byte reads of access.h, so that a value wider than a byte
// is never torn between two of its bytes.
#pragma once

#include "mcu/appl.h"
#include "mcu/var_type.h"

#include <cstdint>
#include <string>

namespace mcu {

enum class ByteOrder { Little, Big };

// The parameter naming the applications whose values store the high byte first (object files
// of 8051 compilers other than SDCC): their names, separated by blanks, "," or ";", in any
// letter case, or "*" for all. SDCC stores the low byte first, the default.
inline constexpr const char* kBigEndianKey = "BIG_ENDIAN";
ByteOrder ApplicationByteOrder(const std::string& applName);

// What a typed name reads: bytes from address on, the bit of bitMask for a bit.
struct TypedName {
    std::string name; // the table's variable, empty for a bare address
    std::uint16_t address = 0;
    std::uint8_t bitMask = 0;
    VarType type = VarType::U8;
};

// Parses NAME, ADDRESS (decimal, or hexadecimal after "$"), either with a bit suffix ".b" and
// an index suffix "[i]" (i elements of the variable's type above it), and a type after ":".
// A name the table lists as a whole (ZONE.TEMP, BUF[3]) is taken as it stands. Without a type
// a name keeps the table's type and an address is u8; a bit suffix makes it a bit. The name is
// compared in upper case. False with error: "Var NAME not defined", "Var NAME cannot be read:
// REASON", "Unknown type T", "Type bit needs a bit: NAME.b", "Bad name NAME", "NAME lies
// beyond the link's memory".
bool ParseTypedName(const MCAppl& appl, const std::string& text, TypedName& typed,
                    std::string& error);

struct TypedValue {
    VarType type = VarType::U8;
    std::int64_t integer = 0; // every type but f32 (a bit is 0 or 1)
    float real = 0;           // f32
    double AsDouble() const { return type == VarType::F32 ? real : static_cast<double>(integer); }
};

// The value of TypeSize(type) bytes, given in address order.
TypedValue DecodeValue(VarType type, const std::uint8_t* bytes, ByteOrder order);
// Integers in decimal with their sign; floats with the shortest digits that give the same
// float back ("1.5", "0.1", "-3.4028235e+38").
std::string FormatValue(const TypedValue& value);

// A value wider than a byte is taken when its upper bytes read the same before and after its
// lowest byte; so many tries, then the read fails.
inline constexpr int kWholeReadTries = 3;

// Reads the value with ReadVariable. A byte or bit is one read; a wider value reads its upper
// bytes, its lowest byte, its upper bytes again, and takes the value when the upper bytes did
// not change, else reads the lowest and the upper bytes once more (the last upper bytes are
// the next try's first). False when a byte read fails (its error text stays) or after
// kWholeReadTries changes: "Value of NAME changed while it was read".
bool ReadTypedValue(MCAppl& appl, const TypedName& typed, ByteOrder order, TypedValue& value);

} // namespace mcu
