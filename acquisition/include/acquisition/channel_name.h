// The texts a channel box accepts: NAME, NAME.b (bit b of the byte), NAME[i] (the element i
// above NAME), both suffixes in either order, a bare MC address in place of a name, a name the
// table lists whole (ZONE.TEMP, BUF[3]), and any of them with a type after ":" (SPEED:i16,
// $3A:u16). The window's boxes and the headless recorder resolve names through here, so a name
// means the same in both. The forms are those of mcu::ParseTypedName (the trigger's), with the
// boxes' own limits kept: an index up to 255, a bit of the table keeps its mask under a suffix,
// a bare byte address may be any 16-bit number.
#pragma once

#include "acquisition/variable_table.h"
#include "mcu/typed.h"
#include "mcu/var_type.h"

#include <cstdint>
#include <string>

namespace acq {

struct ChannelName {
    std::string base;            // the name or address text without its suffixes
    std::uint8_t suffixMask = 0; // 1 << b for a ".b" suffix, else 0
    std::uint8_t arrayIndex = 0; // i of a "[i]" suffix, else 0
    bool typed = false;          // a ":TYPE" followed the name
    mcu::VarType type = mcu::VarType::U8;
};

// Splits an upper-case box text into its parts, without the table (so a member name such as
// ZONE.TEMP is refused here; ResolveChannelName takes it). False when the type after the last
// ":" is unknown or a suffix is malformed: a "." not followed by a digit 0..7, a "[" without a
// later "]", or an index that is not an integer up to 255.
bool SplitChannelName(const std::string& text, ChannelName& name);

// The integers of a channel text: decimal digits, or hexadecimal digits after a "$", up to a
// limit (mcu/typed.h).
using mcu::ParseNameInteger;

// What a channel reads for an upper-case box text: the address with the index (in elements of
// the variable's type) added, the bit mask (the variable's own, else the suffix's), the type,
// and the variable it names (null for a bare address).
struct ResolvedChannel {
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    const mcu::MCVar* variable = nullptr;
    // The type after a ":" (TICKS:i16, $3A:u16), else the table's type of the variable, else
    // U8; a bit (mask set) is U8.
    mcu::VarType type = mcu::VarType::U8;
};
// False when the text is malformed or names no variable of the table the link can read;
// error then says why, in mcu::ParseTypedName's words.
bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved, std::string& error);
bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved);

} // namespace acq
