// The byte exchanges that read and write single bytes of the running MC application's memory,
// and the module state the protocol keeps between them. The bus device list and the reset are
// in bus.h, identification and opening in ident.h.
#pragma once

#include "mcu/appl.h"

#include <cstdint>
#include <string>

namespace mcu {

// Every reply of the variable protocol is awaited this many 10 ms ticks.
inline constexpr std::uint16_t ReplyTimeout = 25;

// The two programs read variables and build the bus list slightly differently; each sets its
// kind once at start-up.
enum class ProgramKind { Scope, Selector };
void SetProgramKind(ProgramKind kind);

bool ReadVariable(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value);
bool SetVariable(MCAppl& appl, const std::string& name, std::uint8_t offset, std::uint8_t value);
bool SetDebugAddress(MCAppl& appl, const std::string& name, std::uint8_t offset,
                     std::uint8_t value);
bool EndDebugAddress(MCAppl& appl);
bool ReadDebugSample(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value,
                     std::uint8_t& second);
void CountTransfers(MCAppl& appl, std::uint8_t count);

// Puts the module state back as at start-up (program kind, the scope's device list).
void ResetMcuModule();

} // namespace mcu
