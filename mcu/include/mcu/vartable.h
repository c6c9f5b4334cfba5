// The variable table of an MC application: from its address file or from the debug records
// of its OMF-51 object file, with optional conversions, and lookups by name.
#pragma once

#include "mcu/appl.h"

#include <array>
#include <string>

namespace mcu {

// Names that belong to the debug link itself; the scope does not list them.
inline constexpr std::array<const char*, 11> LinkKeywords = {
    "USERRAM",     "COM_VARX",    "COMSET_VAR_BEG", "COMSET_VAR_END",
    "COMSET_ADDR", "BSR_DATA2PC", "FREE_RAM",       "BITVAR",
    "F0",          "F1",          "COMVAL_PEND"};

bool IsLinkKeyword(const std::string& name);

bool LoadAddressFile(MCAppl& appl, const std::string& fileName);
// Reads the DATA and BIT symbols of the OMF-51 object file named by appl.varFileName; a bare
// name that names no file is tried as NAME.omf along FILE_PATH (SDCC's name for it), and
// appl.varFileName then becomes the file found. When SDCC's debug file NAME.cdb lies beside the
// object file, or stands alone where it would be, the table comes from it instead (cdb.h);
// appl.varFileName stays the object file when there is one.
bool LoadObjectFile(MCAppl& appl);
// Reads appl.varFileName + ".cvt" when it exists.
void LoadConversions(MCAppl& appl);

// A variable the link cannot reach is not found: "Var NAME cannot be read: REASON".
bool FindVariable(MCAppl& appl, const std::string& name, std::uint16_t& address,
                  std::uint8_t& bitMask);
bool FindVariable(MCAppl& appl, const std::string& name, std::uint8_t& address,
                  std::uint8_t& bitMask);
// True for a name in the table, or whose part before a "." and before a "[" is.
bool VariableDefined(const MCAppl& appl, const std::string& name);

// Whether the variable tree files a variable under "SFR bytes" / "SFR bits": a special
// function register or a bit of one by its debug file, or, as address files place them, a
// page-0 byte below USERRAM (userRam: its low byte, 0 without it), or above 0xF00.
bool FiledAsSfr(const MCVar& var, std::uint8_t userRam);

} // namespace mcu
