// SDCC's debug file NAME.cdb as a source of the variable table: every variable the compiler
// placed, with its type and memory space, each array element and struct member on its own.
#pragma once

#include "mcu/appl.h"

#include <cstdint>
#include <string>

namespace mcu {

// Which external data memory the link's pages 1..7 reach: page p, byte L reads the external
// address xdataFirst + (p - 1) * 256 + L. The firmware maps them one to one by default
// (0x100..0x7FF), so external variables below 0x100 cannot be read.
struct LinkMemoryMap {
    std::uint16_t xdataFirst = 0x100;
};

// Array elements listed one by one, at most this many per array; NAME[i] beyond them is still
// reachable by its index (acquisition and the typed reads add i times the element size).
inline constexpr std::uint32_t kMaxListedElements = 64;

// Appends the variables of the debug file at path. Bits SDCC placed itself have no address in
// the debug file; it is taken from the module's relocated listing MODULE.rst beside the file,
// and without that listing such a bit is listed as not reachable. Variables the link cannot
// read are listed with reachable false and their reason. Stops silently at kMaxVars. False
// with an error text when the file is missing or lists no variable.
bool LoadCdbFile(MCAppl& appl, const std::string& path, const LinkMemoryMap& map = {});

// The debug file beside an object file (PATH/NAME.omf or PATH/NAME gives PATH/NAME.cdb, in any
// letter case); empty when there is none.
std::string CdbBeside(const std::string& objectFile);

} // namespace mcu
