// Typed variables: a name or address with a type (TICKS, SPEED:i16, $3A:u16, BUF[2]:u8), and
// their values read whole over the byte reads of access.h, so that a value wider than a byte
// is never torn between two of its bytes.
#pragma once

#include "mcu/appl.h"
#include "mcu/var_type.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace mcu {

enum class ByteOrder { Little, Big };

// The parameter naming the applications whose values store the high byte first (object files
// of 8051 compilers other than SDCC): their names, separated by blanks, "," or ";", in any
// letter case, or "*" for all. SDCC stores the low byte first, the default.
inline constexpr const char* kBigEndianKey = "BIG_ENDIAN";
ByteOrder ApplicationByteOrder(const std::string& applName);

// What a typed name reads: bytes from address on, the bit of bitMask for a bit.
// The integers of a name: decimal digits, or hexadecimal digits after a "$". Nothing else (no
// sign, no blanks). False as well when the value exceeds limit.
bool ParseNameInteger(const std::string& text, std::uint32_t limit, std::uint32_t& value);

// Takes a type after the last ":" off body: typed is false without one. False with "Unknown
// type T".
bool SplitTypeSuffix(std::string& body, VarType& type, bool& typed, std::string& error);

// What a name is before its type applies: a variable (or else an address) and the suffixes
// taken off it.
struct PeeledName {
    const MCVar* variable = nullptr;
    std::uint32_t address = 0;
    std::uint8_t suffixMask = 0; // 1 << b for ".b"
    std::uint32_t index = 0;     // i for "[i]"
};
// Takes a ".b" and an "[i]" suffix (each at most once, in either order) off the end of an
// upper-case body until what is left is a variable find knows as a whole (ZONE.TEMP, BUF[3]) or
// an address up to addressLimit, so that a member takes suffixes too (ZONE.TEMP[1]). An index
// is at most indexLimit. False with "Bad name BODY" or "Var BODY not defined". The channel
// boxes and the engine's names share it, each with the limits it has always had.
bool PeelName(std::string body, const std::function<const MCVar*(const std::string&)>& find,
              std::uint32_t addressLimit, std::uint32_t indexLimit, PeeledName& peeled,
              std::string& error);

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

// The least and the greatest value a type holds (a float's: the largest finite floats).
struct TypeLimits {
    double low = 0;
    double high = 0;
};
TypeLimits LimitsOf(VarType type);
// The TypeSize(type) bytes of value, in address order: an integer rounded and held within its
// type's limits (NaN gives 0), a float as the nearest float held within the float's limits.
std::array<std::uint8_t, 4> EncodeValue(VarType type, double value, ByteOrder order);
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
