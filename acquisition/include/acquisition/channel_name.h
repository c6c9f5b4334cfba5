// The texts a channel box accepts: NAME, NAME.b (bit b of the byte), NAME[i] (the byte i above
// NAME), both suffixes in either order, and a bare MC address in place of a name. The window's
// boxes and the headless recorder resolve names through here, so a name means the same in both.
#pragma once

#include "acquisition/variable_table.h"

#include <cstdint>
#include <string>

namespace acq {

struct ChannelName {
    std::string base;            // the name or address text without its suffixes
    std::uint8_t suffixMask = 0; // 1 << b for a ".b" suffix, else 0
    std::uint8_t arrayIndex = 0; // i of a "[i]" suffix, else 0
};

// Splits an upper-case box text into its parts. False when a suffix is malformed: a "." not
// followed by a digit 0..7, a "[" without a later "]", or an index that is not an integer up
// to 255.
bool SplitChannelName(const std::string& text, ChannelName& name);

// The integers of a channel text: decimal digits, or hexadecimal digits after a "$". Nothing
// else (no sign, no blanks). False as well when the value exceeds limit.
bool ParseNameInteger(const std::string& text, std::uint32_t limit, std::uint32_t& value);

// What a channel reads for an upper-case box text: the address with the index added, the bit
// mask (the variable's own, else the suffix's), and the variable it names (null for a bare
// address).
struct ResolvedChannel {
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    const mcu::MCVar* variable = nullptr;
    // The type after a ":" (TICKS:i16, $3A:u16), else the table's type of the variable, else
    // U8; a bit (mask set) is U8.
    mcu::VarType type = mcu::VarType::U8;
};
// False when the text is malformed or names no variable of the table the link can read.
bool ResolveChannelName(const VariableTable& table, const std::string& text,
                        ResolvedChannel& resolved);

} // namespace acq
